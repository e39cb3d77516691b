#include "grid/parameter_grid.h"

#include "core/cp1251.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "params/edit_rules.h"
#include "params/parameter_table.h"

#include <algorithm>
#include <cmath>

namespace dm {
namespace {

constexpr int kNameWidth = 230;
constexpr int kValueWidth = 50;

// A double to whole seconds, truncated toward zero; values no clock can hold saturate
// instead of overflowing.
long long WholeSeconds(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double kLimit = 9.0e18;
    if (value >= kLimit)
        return static_cast<long long>(kLimit);
    if (value <= -kLimit)
        return -static_cast<long long>(kLimit);
    return static_cast<long long>(value);
}

std::string DisplayValue(const Parameter& p, int langBase) {
    const ParameterDescription* d = p.description();
    if (!d || !d->isMeasurement())
        return p.value();
    if (d->kind == ParameterKind::Duration)
        return FormatDuration(WholeSeconds(ParseDeviceNumber(p.value())));
    std::string text = FormatDose(ParseDeviceNumber(p.value()), langBase);
    if (d->kind == ParameterKind::DoseRate)
        text += Tr(IDS_PER_HOUR, langBase);
    return text;
}

int ShownWordId(std::string_view word) {
    if (word == "enable")
        return IDS_ENABLE;
    if (word == "disable")
        return IDS_DISABLE;
    if (word == "fixed")
        return IDS_SIGNAL_FIXED;
    if (word == "percent")
        return IDS_SIGNAL_PERCENT;
    return -1;
}

int SwitchNameId(std::string_view key) {
    if (key == "cfg_final_sound")
        return IDS_FINAL_SOUND;
    if (key == "cfg_alarmoff")
        return IDS_ALARM_OFF;
    return IDS_INCHARGER_SOUND;
}

void AppendCatalogueRow(GridModel& grid, const ParameterSet& set, const ParameterRow& r,
                        int langBase) {
    const int row = grid.appendRow(r.name);
    grid.setText(row, kKeyColumn, r.key);
    grid.setState(row, kNameColumn, kReadOnly);
    grid.setBackground(row, kNameColumn, kNameBackground);
    grid.setState(row, kKeyColumn, kReadOnly);
    if (!r.editable) {
        grid.setState(row, kValueColumn, kReadOnly);
        grid.setBackground(row, kValueColumn, kReadOnlyBackground);
    }
    if (r.colour)
        grid.setBackground(row, kValueColumn, *r.colour);
    grid.setText(row, kValueColumn, DisplayValue(*set.find(r.valueKey), langBase));
    grid.setModified(RowIsModified(set, r), row, kValueColumn);
}

void AppendSwitchRow(GridModel& grid, const ParameterSet& set, const ParameterRow& r,
                     int langBase) {
    const int row = grid.appendRow(Tr(SwitchNameId(r.key), langBase));
    grid.setBackground(row, kNameColumn, kNameBackground);
    grid.setText(row, kKeyColumn, r.key);
    grid.setKind(row, kValueColumn, CellKind::List);
    grid.setOptions(row, kValueColumn, ShownChoices(r.key, langBase));
    grid.setListStyle(row, kValueColumn, kDropDownListStyle);
    const int id = ShownWordId(set.value(r.key).value_or(""));
    if (id == IDS_ENABLE || id == IDS_DISABLE)
        grid.setText(row, kValueColumn, Tr(id, langBase));
    if (RowIsModified(set, r))
        grid.setModified(true, row, kValueColumn);
}

void AppendSignalRow(GridModel& grid, const ParameterSet& set, int langBase) {
    const int row = grid.appendRow("");
    grid.setKind(row, kNameColumn, CellKind::List);
    grid.setOptions(row, kNameColumn, ShownChoices(kSignalTypeKey, langBase));
    grid.setListStyle(row, kNameColumn, kDropDownListStyle);
    const std::string_view limitKey = SignalLimitKey(set);
    if (limitKey.empty())
        return;
    grid.setText(row, kNameColumn, Tr(ShownWordId(set.value(kSignalTypeKey).value_or("")), langBase));
    grid.setText(row, kValueColumn, set.value(limitKey).value_or(""));
}

void AppendLimitRow(GridModel& grid, const ParameterSet& set, int langBase) {
    const int row = grid.appendRow(Tr(IDS_SIGNAL_FIXED, langBase));
    grid.setState(row, kNameColumn, kReadOnly);
    grid.setBackground(row, kNameColumn, kNameBackground);
    grid.setState(row, kKeyColumn, kReadOnly);
    grid.setText(row, kValueColumn, set.value(kFixedLimitKey).value_or(""));
}

// The parameter a row's key cell reaches: itself, or the longer key a catalogue row shows.
std::string ValueKeyOf(const ParameterSet& set, const std::string& key) {
    const Parameter* p = set.findForCatalogue(key);
    return p ? p->key : key;
}

} // namespace

void SetUpParameterTable(GridModel& grid, int langBase, int clientWidth) {
    const GridUpdateBatch batch(grid);
    grid.setFixedBackground(kNameBackground);
    grid.setDefaultBackground(kValueBackground);
    grid.setListMode(true);
    grid.setSingleRowSelection(true);
    grid.setEditable(true);
    grid.removeAll();
    grid.appendColumn(Tr(IDS_COL_NAME, langBase));
    grid.appendColumn(Tr(IDS_COL_COMMAND, langBase));
    grid.appendColumn(Tr(IDS_COL_VALUE, langBase));
    grid.setColumnWidth(kNameColumn, kNameWidth);
    grid.setColumnWidth(kKeyColumn, 0);
    grid.setColumnWidth(kValueColumn, kValueWidth);
    grid.setFixedRowCount(1);
    grid.setRowResize(false);
    grid.setColumnResize(true); // long names and values can be widened to be read whole
    grid.stretchColumnsToFit(clientWidth);
}

void FillParameterGrid(const ParameterSet& set, std::string_view catalogue, int langBase,
                       int access, int clientWidth, GridModel& grid, ParameterTableState& state) {
    const GridUpdateBatch batch(grid);
    SetUpParameterTable(grid, langBase, clientWidth);
    if (!set.replied())
        return;

    state.neutron = set.neutron();
    state.caption =
        Tr(IDS_CAPTION, langBase) + Tr(state.neutron ? IDS_MODEL_KRT : IDS_MODEL_MLV, langBase);

    const std::vector<ParameterRow> rows = ParameterRows(set, catalogue, langBase, access);
    for (const ParameterRow& r : rows) {
        switch (r.type) {
        case ParameterRowType::Catalogue: AppendCatalogueRow(grid, set, r, langBase); break;
        case ParameterRowType::Switch: AppendSwitchRow(grid, set, r, langBase); break;
        case ParameterRowType::Signal: AppendSignalRow(grid, set, langBase); break;
        case ParameterRowType::Limit: AppendLimitRow(grid, set, langBase); break;
        }
    }
    grid.stretchColumnsToFit(clientWidth);

    if (const auto interval = ShownHistoryInterval(set, rows))
        state.historyInterval = *interval;
    if (const auto depth = ShownHistoryDepth(set, rows))
        state.historyDepth = *depth;
}

std::string ParameterTableFileBytes(const GridModel& grid) {
    std::string text;
    for (int row = 1; row < grid.rowCount(); ++row)
        text += grid.text(row, kNameColumn) + " = " + grid.text(row, kValueColumn) + "\r\n";
    return Utf8ToCp1251(text);
}

std::vector<std::string> ShownChoices(std::string_view key, int langBase) {
    const ParameterDescription* d = DescribeParameter(key);
    std::vector<std::string> shown;
    if (!d || !d->isChoice())
        return shown;
    for (std::string_view word : d->choices) {
        const int id = ShownWordId(word);
        shown.push_back(id >= 0 ? Tr(id, langBase) : std::string(word));
    }
    return shown;
}

std::optional<std::string> ChoiceWord(std::string_view key, const std::string& shown,
                                      int langBase) {
    const ParameterDescription* d = DescribeParameter(key);
    const std::vector<std::string> options = ShownChoices(key, langBase);
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i] == shown)
            return std::string(d->choices[i]);
    return std::nullopt;
}

bool BeginParameterEdit(GridModel& grid, ParameterSet& set, int row, int col, int langBase,
                        UserDialogs& dialogs) {
    if (!grid.isValid(row, col))
        return true;
    const std::string rowKey = grid.text(row, kKeyColumn);
    if (col != kValueColumn || rowKey.empty()) {
        grid.setModified(true, row, col); // names and the last row: the grid's own flags
        return true;
    }
    const std::string key = ValueKeyOf(set, rowKey);
    if (BeginEdit(set, key) == EditStart::ConfirmHistoryErase &&
        !dialogs.askYesNoDefaultNo(Tr(IDS_WARN_HISTORY_TIME, langBase)))
        return false;
    if (set.isModified(key))
        grid.setModified(true, row, col);
    return true;
}

void EndParameterEdit(GridModel& grid, ParameterSet& set, int row, int col,
                      const std::string& text, int langBase) {
    if (!grid.isValid(row, col) || grid.text(row, col) == text)
        return;
    const bool list = grid.kind(row, col) == CellKind::List;
    if (list) {
        const auto& options = grid.options(row, col);
        if (std::find(options.begin(), options.end(), text) == options.end())
            return;
    }
    const std::string rowKey = grid.text(row, kKeyColumn);
    const bool lastRow = row == grid.rowCount() - 1 && rowKey.empty();
    const std::string key = rowKey.empty() ? rowKey : ValueKeyOf(set, rowKey);
    if (col == kValueColumn && !key.empty()) {
        const std::optional<std::string> word = list ? ChoiceWord(key, text, langBase) : text;
        if (!word || !EndEdit(set, key, *word))
            return;
    } else if (lastRow && col == kNameColumn && list) {
        const std::optional<std::string> word = ChoiceWord(kSignalTypeKey, text, langBase);
        if (word)
            ChooseSignalType(set, *word, grid.text(row, kValueColumn));
    } else if (lastRow && col == kValueColumn) {
        SetSignalLimit(set, text);
    }
    grid.setText(row, col, text);
}

} // namespace dm
