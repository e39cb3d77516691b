#include "grid/parameter_grid.h"

#include "core/cp1251.h"
#include "core/string_table.h"
#include "params/edit_rules.h"
#include "params/parameter_table.h"

#include <algorithm>
#include <utility>

namespace dm {
namespace {

// One presented row as grid cells: key in the hidden column, the flags as presented.
void AppendRow(GridModel& grid, const RowPresentation& shown) {
    const int row = grid.appendRow(shown.name.text);
    grid.setText(row, kKeyColumn, shown.key);
    grid.setText(row, kValueColumn, shown.value.text);
    grid.setState(row, kKeyColumn, shown.keyReadOnly ? kReadOnly : 0);
    const std::pair<int, const CellPresentation*> cells[] = {{kNameColumn, &shown.name},
                                                             {kValueColumn, &shown.value}};
    for (const auto& [col, cell] : cells) {
        grid.setState(row, col, (cell->readOnly ? kReadOnly : 0) | (cell->modified ? kModified : 0));
        if (cell->list) {
            grid.setKind(row, col, CellKind::List);
            grid.setOptions(row, col, cell->options);
            grid.setListStyle(row, col, kDropDownListStyle);
        }
        if (cell->background != grid.background(row, col))
            grid.setBackground(row, col, cell->background);
    }
}

// The parameter a row's key cell reaches: itself, or the longer key a catalogue row shows.
std::string ValueKeyOf(const ParameterSet& set, const std::string& key) {
    const Parameter* p = set.findForCatalogue(key);
    return p ? p->key : key;
}

// The parameter row a grid row shows, read back from its cells.
ParameterRow RowOfCells(const GridModel& grid, const ParameterSet& set, int row) {
    ParameterRow r;
    r.key = grid.text(row, kKeyColumn);
    r.editable = !grid.isReadOnly(row, kValueColumn);
    if (r.key.empty()) {
        r.type = grid.kind(row, kNameColumn) == CellKind::List ? ParameterRowType::Signal
                                                                : ParameterRowType::Limit;
        return r;
    }
    r.type = grid.kind(row, kValueColumn) == CellKind::List ? ParameterRowType::Switch
                                                             : ParameterRowType::Catalogue;
    r.valueKey = ValueKeyOf(set, r.key);
    r.name = grid.text(row, kNameColumn);
    return r;
}

} // namespace

void SetUpParameterTable(GridModel& grid, Language language, int clientWidth) {
    const GridUpdateBatch batch(grid);
    grid.setFixedBackground(kNameBackground);
    grid.setDefaultBackground(kValueBackground);
    grid.setListMode(true);
    grid.setSingleRowSelection(true);
    grid.setEditable(true);
    grid.removeAll();
    grid.appendColumn(Tr(IDS_COL_NAME, language));
    grid.appendColumn(Tr(IDS_COL_COMMAND, language));
    grid.appendColumn(Tr(IDS_COL_VALUE, language));
    grid.setColumnWidth(kNameColumn, kNameColumnWidth);
    grid.setColumnWidth(kKeyColumn, 0);
    grid.setColumnWidth(kValueColumn, kValueColumnWidth);
    grid.setFixedRowCount(1);
    grid.setRowResize(false);
    grid.setColumnResize(true); // long names and values can be widened to be read whole
    grid.stretchColumnsToFit(clientWidth);
}

void FillParameterGrid(const ParameterSet& set, std::string_view catalogue, Language language,
                       int access, int clientWidth, GridModel& grid, ParameterTableState& state) {
    const GridUpdateBatch batch(grid);
    SetUpParameterTable(grid, language, clientWidth);
    if (!set.replied())
        return;

    const std::vector<ParameterRow> rows = ParameterRows(set, catalogue, language, access);
    for (const ParameterRow& r : rows)
        AppendRow(grid, PresentRow(set, r, language));
    grid.stretchColumnsToFit(clientWidth);
    UpdateTableState(set, rows, language, state);
}

std::string ParameterTableFileBytes(const GridModel& grid) {
    std::string text;
    for (int row = 1; row < grid.rowCount(); ++row)
        text += grid.text(row, kNameColumn) + " = " + grid.text(row, kValueColumn) + "\r\n";
    return Utf8ToCp1251(text);
}

bool BeginParameterEdit(GridModel& grid, ParameterSet& set, int row, int col, Language language,
                        UserDialogs& dialogs) {
    if (!grid.isValid(row, col))
        return true;
    const ParameterRow r = RowOfCells(grid, set, row);
    if (col != kValueColumn || r.valueKey.empty()) {
        grid.setModified(true, row, col); // names and the last row: the grid's own flags
        return true;
    }
    if (!BeginRowEdit(set, r, RowCell::Value, language, dialogs))
        return false;
    if (set.isModified(r.valueKey))
        grid.setModified(true, row, col);
    return true;
}

void EndParameterEdit(GridModel& grid, ParameterSet& set, int row, int col,
                      const std::string& text, Language language) {
    if (!grid.isValid(row, col) || grid.text(row, col) == text)
        return;
    if (grid.kind(row, col) == CellKind::List) {
        const auto& options = grid.options(row, col);
        if (std::find(options.begin(), options.end(), text) == options.end())
            return;
    }
    const ParameterRow r = RowOfCells(grid, set, row);
    const bool lastRow = r.valueKey.empty();
    if (col == kValueColumn || (col == kNameColumn && r.type == ParameterRowType::Signal)) {
        const RowCell cell = col == kValueColumn ? RowCell::Value : RowCell::Name;
        // A refused value keeps the cell as it was; the last row shows what was typed.
        if (!EndRowEdit(set, r, cell, text, language) && !lastRow)
            return;
    }
    grid.setText(row, col, text);
}

} // namespace dm
