#pragma once
// A read-only table of the dose history: rows and columns of texts, column widths in
// twips. Row 0 holds the headings, column 0 the record numbers; a column of width 0 is
// hidden but keeps the values as received, which saving and the diagrams read back.
#include <string>
#include <vector>

namespace dm {

class HistoryTable {
public:
    int rowCount() const { return rows_; }
    // A smaller count drops the rows at the end; the others keep their texts.
    void setRowCount(int rows);
    int colCount() const { return cols_; }
    void setColCount(int cols);

    int colWidth(int col) const; // twips; 0 for a column outside the table
    void setColWidth(int col, int twips);

    // A cell never written, or outside the table, reads as empty text.
    const std::string& text(int row, int col) const;
    // Writes outside the table are ignored.
    void setText(int row, int col, std::string text);

    // Empties every cell, headings included; keeps the row and column counts.
    void clear();

private:
    std::size_t index(int row, int col) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
               static_cast<std::size_t>(col);
    }

    int rows_ = 0;
    int cols_ = 0;
    // One block, row after row: an archive of ten thousand records is one allocation,
    // not one per row, and a refill reuses it.
    std::vector<std::string> cells_;
    std::vector<int> widths_;
};

} // namespace dm
