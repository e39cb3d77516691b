#include "grid/grid_model.h"

#include <algorithm>

namespace dm {
namespace {

constexpr int kDefaultColumnWidth = 64;
// Fixed bits follow the cell's position; they are never stored.
constexpr unsigned kPositionBits = kFixed | kFixedRow | kFixedCol;

const std::string kEmptyText;
const std::vector<std::string> kNoOptions;

} // namespace

void GridModel::changed() {
    ++revision_;
    if (updateDepth_ > 0) {
        changedDuringUpdate_ = true;
        return;
    }
    if (observer_)
        observer_();
}

void GridModel::endUpdate() {
    if (updateDepth_ == 0)
        return;
    if (--updateDepth_ > 0 || !changedDuringUpdate_)
        return;
    changedDuringUpdate_ = false;
    if (observer_)
        observer_();
}

void GridModel::setDefaultBackground(Rgb colour) {
    normalBackground_ = colour;
    changed();
}

void GridModel::setFixedBackground(Rgb colour) {
    fixedBackground_ = colour;
    changed();
}

void GridModel::setListMode(bool on) {
    listMode_ = on;
    changed();
}

void GridModel::setSingleRowSelection(bool on) {
    singleRowSelection_ = on;
    changed();
}

void GridModel::setEditable(bool on) {
    editable_ = on;
    changed();
}

void GridModel::setRowResize(bool on) {
    rowResize_ = on;
    changed();
}

void GridModel::setColumnResize(bool on) {
    columnResize_ = on;
    changed();
}

void GridModel::removeAll() {
    rows_.clear();
    widths_.clear();
    formats_.clear();
    fixedRows_ = 0;
    fixedCols_ = 0;
    changed();
}

int GridModel::appendColumn(const std::string& heading, unsigned format, int pos) {
    if (pos < -1 || pos > colCount())
        return -1;
    const int col = pos == -1 ? colCount() : pos;
    if (rows_.empty())
        rows_.emplace_back();
    widths_.insert(widths_.begin() + col, kDefaultColumnWidth);
    formats_.insert(formats_.begin() + col, format);
    for (auto& row : rows_)
        row.insert(row.begin() + col, Cell{});
    if (col < fixedCols_)
        ++fixedCols_; // a column inserted among the fixed ones is fixed too
    setText(0, col, heading);
    changed();
    return col;
}

void GridModel::setColumnWidth(int col, int width) {
    if (col < 0 || col >= colCount() || width < 0)
        return;
    widths_[static_cast<std::size_t>(col)] = width;
    changed();
}

int GridModel::columnWidth(int col) const {
    if (col < 0 || col >= colCount())
        return 0;
    return widths_[static_cast<std::size_t>(col)];
}

unsigned GridModel::columnFormat(int col) const {
    if (col < 0 || col >= colCount())
        return 0;
    return formats_[static_cast<std::size_t>(col)];
}

void GridModel::setFixedRowCount(int n) {
    if (n < 0)
        return;
    while (rowCount() < n)
        rows_.emplace_back(static_cast<std::size_t>(colCount()));
    fixedRows_ = n;
    changed();
}

void GridModel::setFixedColumnCount(int n) {
    if (n < 0)
        return;
    while (colCount() < n) {
        widths_.push_back(kDefaultColumnWidth);
        formats_.push_back(0);
        for (auto& row : rows_)
            row.emplace_back();
    }
    fixedCols_ = n;
    changed();
}

int GridModel::totalColumnWidth() const {
    long long total = 0;
    for (int w : widths_)
        total += w;
    return static_cast<int>(std::min<long long>(total, 1LL << 30));
}

void GridModel::stretchColumnsToFit(int clientWidth, bool includeFixed) {
    std::vector<std::size_t> shared;
    for (int c = includeFixed ? 0 : fixedCols_; c < colCount(); ++c)
        if (widths_[static_cast<std::size_t>(c)] > 0)
            shared.push_back(static_cast<std::size_t>(c));
    if (shared.empty())
        return;
    const long long difference = static_cast<long long>(clientWidth) - totalColumnWidth();
    const long long count = static_cast<long long>(shared.size());
    const long long each = difference / count;       // truncated toward zero
    long long remainder = difference - each * count; // same sign as difference
    for (std::size_t c : shared) {
        long long width = widths_[c] + each;
        if (remainder > 0) {
            ++width;
            --remainder;
        } else if (remainder < 0) {
            --width;
            ++remainder;
        }
        // Never hide a shown column by shrinking it.
        widths_[c] = static_cast<int>(std::clamp<long long>(width, 1, 1LL << 30));
    }
    changed();
}

int GridModel::appendRow(const std::string& heading, int pos) {
    if (pos < -1 || pos > rowCount())
        return -1;
    if (colCount() == 0) {
        widths_.push_back(kDefaultColumnWidth);
        formats_.push_back(0);
        for (auto& row : rows_)
            row.emplace_back();
    }
    const int row = pos == -1 ? rowCount() : pos;
    rows_.insert(rows_.begin() + row, std::vector<Cell>(static_cast<std::size_t>(colCount())));
    if (row < fixedRows_)
        ++fixedRows_;
    setText(row, 0, heading);
    changed();
    return row;
}

void GridModel::removeRow(int row) {
    if (row < 0 || row >= rowCount())
        return;
    rows_.erase(rows_.begin() + row);
    if (row < fixedRows_)
        --fixedRows_;
    changed();
}

void GridModel::removeNonFixedRows() {
    if (rowCount() > fixedRows_)
        rows_.resize(static_cast<std::size_t>(fixedRows_));
    changed();
}

bool GridModel::isValid(int row, int col) const {
    return row >= 0 && col >= 0 && row < rowCount() && col < colCount();
}

bool GridModel::isFixed(int row, int col) const {
    return isValid(row, col) && (row < fixedRows_ || col < fixedCols_);
}

GridModel::Cell* GridModel::cell(int row, int col) {
    if (!isValid(row, col))
        return nullptr;
    return &rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

const GridModel::Cell* GridModel::cell(int row, int col) const {
    if (!isValid(row, col))
        return nullptr;
    return &rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

const std::string& GridModel::text(int row, int col) const {
    const Cell* c = cell(row, col);
    return c ? c->text : kEmptyText;
}

void GridModel::setText(int row, int col, const std::string& text) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->text = text;
    c->state |= kModified;
    modified_ = true;
    changed();
}

unsigned GridModel::state(int row, int col) const {
    const Cell* c = cell(row, col);
    if (!c)
        return 0;
    unsigned s = c->state;
    if (row < fixedRows_)
        s |= kFixed | kFixedRow;
    if (col < fixedCols_)
        s |= kFixed | kFixedCol;
    return s;
}

void GridModel::setState(int row, int col, unsigned state) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->state = state & ~kPositionBits;
    if (state & kModified)
        modified_ = true;
    changed();
}

void GridModel::setBackground(int row, int col, std::optional<Rgb> colour) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->background = colour;
    changed();
}

std::optional<Rgb> GridModel::ownBackground(int row, int col) const {
    const Cell* c = cell(row, col);
    return c ? c->background : std::nullopt;
}

Rgb GridModel::background(int row, int col) const {
    const Cell* c = cell(row, col);
    if (c && c->background)
        return *c->background;
    return isFixed(row, col) ? fixedBackground_ : normalBackground_;
}

void GridModel::setKind(int row, int col, CellKind kind) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->kind = kind;
    changed();
}

CellKind GridModel::kind(int row, int col) const {
    const Cell* c = cell(row, col);
    return c ? c->kind : CellKind::Text;
}

void GridModel::setOptions(int row, int col, std::vector<std::string> options) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->options = std::move(options);
    changed();
}

const std::vector<std::string>& GridModel::options(int row, int col) const {
    const Cell* c = cell(row, col);
    return c ? c->options : kNoOptions;
}

void GridModel::setListStyle(int row, int col, int style) {
    Cell* c = cell(row, col);
    if (!c)
        return;
    c->listStyle = style;
    changed();
}

int GridModel::listStyle(int row, int col) const {
    const Cell* c = cell(row, col);
    return c ? c->listStyle : 0;
}

void GridModel::setModified(bool modified, int row, int col) {
    if (row < 0 || col < 0) {
        modified_ = modified;
        if (!modified)
            for (auto& r : rows_)
                for (Cell& c : r)
                    c.state &= ~kModified;
        changed();
        return;
    }
    Cell* c = cell(row, col);
    if (!c)
        return;
    if (modified) {
        c->state |= kModified;
        modified_ = true;
    } else {
        c->state &= ~kModified;
    }
    changed();
}

bool GridModel::isModified(int row, int col) const {
    if (row < 0 || col < 0)
        return modified_;
    return (state(row, col) & kModified) != 0;
}

bool GridModel::canEdit(int row, int col) const {
    return editable_ && isValid(row, col) && !isFixed(row, col) && !isReadOnly(row, col);
}

} // namespace dm
