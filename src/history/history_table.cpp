#include "history/history_table.h"

#include <utility>

namespace dm {

void HistoryTable::setRowCount(int rows) {
    rows_ = rows < 0 ? 0 : rows;
    cells_.resize(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_));
}

void HistoryTable::setColCount(int cols) {
    cols = cols < 0 ? 0 : cols;
    if (cols != cols_) {
        // Each row keeps its first cells; new cells start empty.
        std::vector<std::string> cells(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols));
        const int keep = cols < cols_ ? cols : cols_;
        for (int r = 0; r < rows_; ++r)
            for (int c = 0; c < keep; ++c)
                cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)] =
                    std::move(cells_[index(r, c)]);
        cells_ = std::move(cells);
        cols_ = cols;
    }
    widths_.resize(static_cast<std::size_t>(cols_), 0);
}

int HistoryTable::colWidth(int col) const {
    if (col < 0 || col >= cols_)
        return 0;
    return widths_[static_cast<std::size_t>(col)];
}

void HistoryTable::setColWidth(int col, int twips) {
    if (col < 0 || col >= cols_)
        return;
    widths_[static_cast<std::size_t>(col)] = twips;
}

const std::string& HistoryTable::text(int row, int col) const {
    static const std::string empty;
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_)
        return empty;
    return cells_[index(row, col)];
}

void HistoryTable::setText(int row, int col, std::string text) {
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_)
        return;
    cells_[index(row, col)] = std::move(text);
}

void HistoryTable::clear() {
    for (auto& cell : cells_)
        cell.clear();
}

} // namespace dm
