#include "history/history_table.h"

namespace dm {

void HistoryTable::setRowCount(int rows) {
    rows_ = rows < 0 ? 0 : rows;
    cells_.resize(static_cast<std::size_t>(rows_));
    for (auto& row : cells_)
        row.resize(static_cast<std::size_t>(cols_));
}

void HistoryTable::setColCount(int cols) {
    cols_ = cols < 0 ? 0 : cols;
    for (auto& row : cells_)
        row.resize(static_cast<std::size_t>(cols_));
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
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void HistoryTable::setText(int row, int col, std::string text) {
    if (row < 0 || row >= rows_ || col < 0 || col >= cols_)
        return;
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

void HistoryTable::clear() {
    for (auto& row : cells_)
        for (auto& cell : row)
            cell.clear();
}

} // namespace dm
