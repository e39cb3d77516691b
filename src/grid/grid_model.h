#pragma once
// The data of the editable grid that holds the parameter table: rows x columns of cells,
// column widths, fixed rows and columns, the grid-wide switches and the modified flags.
// No drawing here: a view shows these cells and edits them only through this class.
//
// Row and column indices start at 0 and include the fixed ones. An operation given a
// cell outside the grid does nothing; reading such a cell gives an empty text, state 0.
#include "core/colour.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dm {

// Bits of a cell's state word.
constexpr unsigned kSelected = 0x02;
constexpr unsigned kReadOnly = 0x08;
constexpr unsigned kFixed = 0x10;
constexpr unsigned kFixedRow = 0x20;
constexpr unsigned kFixedCol = 0x40;
constexpr unsigned kModified = 0x80;

// The list style the parameter table gives its drop-down cells: choice from the list
// only, no typing (the platform's drop-down-list combo style).
constexpr int kDropDownListStyle = 3;

enum class CellKind { Text, List };

class GridModel {
public:
    using Observer = std::function<void()>;

    GridModel() = default;

    // The view's refresh hook: called after every change of content, layout or
    // switches. The revision counter grows with every such change.
    // Between beginUpdate and the matching endUpdate the observer is held back and
    // called once at the end (if anything changed), so a parse refreshes the view once.
    void setObserver(Observer observer) { observer_ = std::move(observer); }
    std::uint64_t revision() const { return revision_; }
    void beginUpdate() { ++updateDepth_; }
    void endUpdate();

    // Grid-wide switches and default backgrounds.
    void setDefaultBackground(Rgb colour);
    Rgb defaultBackground() const { return normalBackground_; }
    void setFixedBackground(Rgb colour);
    Rgb fixedBackground() const { return fixedBackground_; }
    void setListMode(bool on); // a click selects the whole row
    bool listMode() const { return listMode_; }
    void setSingleRowSelection(bool on);
    bool singleRowSelection() const { return singleRowSelection_; }
    void setEditable(bool on);
    bool isEditable() const { return editable_; }
    void setRowResize(bool on);
    bool rowResize() const { return rowResize_; }
    void setColumnResize(bool on);
    bool columnResize() const { return columnResize_; }

    // Layout.
    void removeAll(); // no rows, no columns, no fixed rows or columns
    // A new column at pos (-1: at the end) whose row 0 holds the heading (marked
    // modified like any written cell); a first row is created when there is none.
    // Returns the column's index, or -1 for a position outside the grid.
    int appendColumn(const std::string& heading, unsigned format = 0, int pos = -1);
    void setColumnWidth(int col, int width); // 0 hides the column
    int columnWidth(int col) const;
    unsigned columnFormat(int col) const;
    // The first n rows (columns) are fixed; rows (columns) are added if fewer exist.
    void setFixedRowCount(int n);
    int fixedRowCount() const { return fixedRows_; }
    void setFixedColumnCount(int n);
    int fixedColumnCount() const { return fixedCols_; }
    // The columns of non-zero width (fixed ones only with includeFixed) share the
    // difference between clientWidth and the total column width equally, the remainder
    // one pixel at a time from the left. Columns of width 0 stay hidden. A narrower
    // client shrinks the columns the same way, but none below 1 pixel.
    void stretchColumnsToFit(int clientWidth, bool includeFixed = true);
    int totalColumnWidth() const;

    int rowCount() const { return static_cast<int>(rows_.size()); }
    int colCount() const { return static_cast<int>(widths_.size()); }
    // A new row at pos (-1: at the end) whose column 0 holds the heading (marked
    // modified). A grid without columns gets one. Returns the row's index, or -1.
    int appendRow(const std::string& heading, int pos = -1);
    void removeRow(int row); // the rows below move up
    void removeNonFixedRows();

    // Cells.
    bool isValid(int row, int col) const;
    bool isFixed(int row, int col) const;
    const std::string& text(int row, int col) const;
    void setText(int row, int col, const std::string& text); // marks the cell modified
    // The stored flags, plus kFixed/kFixedRow/kFixedCol for cells in fixed rows or
    // columns. Setting replaces the whole word (the fixed bits follow the position).
    unsigned state(int row, int col) const;
    void setState(int row, int col, unsigned state);
    bool isReadOnly(int row, int col) const { return (state(row, col) & kReadOnly) != 0; }
    void setBackground(int row, int col, std::optional<Rgb> colour); // nullopt: default
    std::optional<Rgb> ownBackground(int row, int col) const;
    // The colour the cell is painted with: its own, else the fixed or normal default.
    Rgb background(int row, int col) const;
    void setKind(int row, int col, CellKind kind); // keeps text, state and colours
    CellKind kind(int row, int col) const;
    void setOptions(int row, int col, std::vector<std::string> options);
    const std::vector<std::string>& options(int row, int col) const;
    void setListStyle(int row, int col, int style);
    int listStyle(int row, int col) const;

    // For a cell: sets or clears its modified flag; setting also sets the grid-wide
    // flag. With row or column below 0: sets the grid-wide flag, and clearing it clears
    // the flag of every cell.
    void setModified(bool modified = true, int row = -1, int col = -1);
    // The cell's flag; with row or column below 0 the grid-wide flag.
    bool isModified(int row = -1, int col = -1) const;

    // Whether the user may start an in-place edit of the cell: editing allowed, the
    // cell inside the grid, not fixed, not read-only.
    bool canEdit(int row, int col) const;

private:
    struct Cell {
        std::string text;
        unsigned state = 0;
        std::optional<Rgb> background;
        CellKind kind = CellKind::Text;
        std::vector<std::string> options;
        int listStyle = 0;
    };

    Cell* cell(int row, int col);
    const Cell* cell(int row, int col) const;
    void changed();

    std::vector<std::vector<Cell>> rows_;
    std::vector<int> widths_;
    std::vector<unsigned> formats_;
    int fixedRows_ = 0;
    int fixedCols_ = 0;
    bool modified_ = false;

    Rgb normalBackground_{255, 255, 255};
    Rgb fixedBackground_{204, 204, 204};
    bool listMode_ = false;
    bool singleRowSelection_ = false;
    bool editable_ = true;
    bool rowResize_ = true;
    bool columnResize_ = true;

    Observer observer_;
    std::uint64_t revision_ = 0;
    int updateDepth_ = 0;
    bool changedDuringUpdate_ = false;
};

// beginUpdate/endUpdate for a scope.
class GridUpdateBatch {
public:
    explicit GridUpdateBatch(GridModel& grid) : grid_(grid) { grid_.beginUpdate(); }
    ~GridUpdateBatch() { grid_.endUpdate(); }
    GridUpdateBatch(const GridUpdateBatch&) = delete;
    GridUpdateBatch& operator=(const GridUpdateBatch&) = delete;

private:
    GridModel& grid_;
};

} // namespace dm
