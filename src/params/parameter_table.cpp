#include "params/parameter_table.h"

#include "core/cp1251.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "params/catalogue.h"

#include <array>
#include <cmath>
#include <limits>

namespace dm {
namespace {

constexpr int kNameWidth = 230;
constexpr int kValueWidth = 50;

bool Contains(std::string_view text, std::string_view piece) {
    return text.find(piece) != std::string_view::npos;
}

bool IsDoseKey(std::string_view key) {
    return Contains(key, "dose_val") || Contains(key, "dose_neutron") ||
           Contains(key, "total_val") || Contains(key, "peak_rate");
}

bool IsDurationKey(std::string_view key) {
    return Contains(key, "dose_time") || Contains(key, "total_time") || Contains(key, "peak_time");
}

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

std::string DisplayValue(const std::string& key, const std::string& value, int langBase) {
    if (IsDoseKey(key)) {
        std::string text = FormatDose(ParseDeviceNumber(value), langBase);
        if (Contains(key, "peak_rate"))
            text += Tr(IDS_PER_HOUR, langBase);
        return text;
    }
    if (IsDurationKey(key))
        return FormatDuration(WholeSeconds(ParseDeviceNumber(value)));
    return value;
}

// The mask bit that unlocks a protected key; 0 for a key that is not protected.
int ProtectedBit(std::string_view key) {
    if (key == "g_ks_large" || key == "g_ks_small" || key == "n_ks")
        return 1;
    if (key == "csWeigth")
        return 2;
    if (key == "wtx[01]" || key == "wtx[10]")
        return 4;
    return 0;
}

void AppendSwitchRow(GridModel& grid, std::string_view reply, int nameId, const char* key,
                     int langBase) {
    const int row = grid.appendRow(Tr(nameId, langBase));
    grid.setBackground(row, kNameColumn, kNameBackground);
    grid.setText(row, kKeyColumn, key);
    grid.setKind(row, kValueColumn, CellKind::List);
    grid.setOptions(row, kValueColumn, {Tr(IDS_ENABLE, langBase), Tr(IDS_DISABLE, langBase)});
    grid.setListStyle(row, kValueColumn, kDropDownListStyle);
    const std::string k(key);
    if (Contains(reply, k + " = enable"))
        grid.setText(row, kValueColumn, Tr(IDS_ENABLE, langBase));
    if (Contains(reply, k + " = disable"))
        grid.setText(row, kValueColumn, Tr(IDS_DISABLE, langBase));
}

void AppendSignalRow(GridModel& grid, std::string_view reply, int langBase) {
    const int row = grid.appendRow("");
    grid.setKind(row, kNameColumn, CellKind::List);
    grid.setOptions(row, kNameColumn,
                    {Tr(IDS_SIGNAL_FIXED, langBase), Tr(IDS_SIGNAL_PERCENT, langBase)});
    grid.setListStyle(row, kNameColumn, kDropDownListStyle);
    if (Contains(reply, "cfg_type_of_signal = fixed")) {
        grid.setText(row, kNameColumn, Tr(IDS_SIGNAL_FIXED, langBase));
        grid.setText(row, kValueColumn, ReplyValue(reply, "limit_fixed"));
    }
    if (Contains(reply, "cfg_type_of_signal = percent")) {
        grid.setText(row, kNameColumn, Tr(IDS_SIGNAL_PERCENT, langBase));
        grid.setText(row, kValueColumn, ReplyValue(reply, "limit_percent"));
    }
}

void AppendLimitRow(GridModel& grid, std::string_view reply, int langBase) {
    const int row = grid.appendRow(Tr(IDS_SIGNAL_FIXED, langBase));
    grid.setState(row, kNameColumn, kReadOnly);
    grid.setBackground(row, kNameColumn, kNameBackground);
    grid.setState(row, kKeyColumn, kReadOnly);
    grid.setText(row, kValueColumn, ReplyValue(reply, "limit_fixed"));
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

std::string CleanValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\n' && c != '\r' && c != '"')
            out += c;
    const std::size_t first = out.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first);
}

std::optional<std::string> FindReplyValue(std::string_view reply, std::string_view key) {
    if (key.empty())
        return std::nullopt;
    const std::size_t at = reply.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::size_t eq = reply.find('=', at);
    if (eq == std::string_view::npos)
        return std::nullopt;
    const std::size_t lf = reply.find('\n', eq);
    if (lf == std::string_view::npos)
        return std::nullopt;
    return CleanValue(reply.substr(eq + 1, lf - eq));
}

void ParseParameterReply(std::string_view reply, std::string_view catalogue, int langBase,
                         int access, int clientWidth, GridModel& grid, ParameterTableState& state) {
    const GridUpdateBatch batch(grid);
    SetUpParameterTable(grid, langBase, clientWidth);
    if (reply.empty())
        return;

    state.neutron = Contains(reply, "neutr");
    state.caption =
        Tr(IDS_CAPTION, langBase) + Tr(state.neutron ? IDS_MODEL_KRT : IDS_MODEL_MLV, langBase);

    // Catalogue rows, in catalogue order.
    for (const CatalogueLine& line : CatalogueLines(catalogue, state.neutron, langBase)) {
        const int row = grid.appendRow(line.name);
        grid.setText(row, kKeyColumn, line.key);
        grid.setState(row, kNameColumn, kReadOnly);
        grid.setBackground(row, kNameColumn, kNameBackground);
        grid.setState(row, kKeyColumn, kReadOnly);
        if (!line.editable) {
            grid.setState(row, kValueColumn, kReadOnly);
            grid.setBackground(row, kValueColumn, kReadOnlyBackground);
        }
        if (line.colour)
            grid.setBackground(row, kValueColumn, *line.colour);
    }

    // Their values: a key is found as text, at its first occurrence.
    for (int row = 1; row < grid.rowCount(); ++row) {
        const std::string key = grid.text(row, kKeyColumn);
        // A value that is not there stays empty; a blank one is still formatted.
        const std::optional<std::string> value = FindReplyValue(reply, key);
        grid.setText(row, kValueColumn,
                     value ? DisplayValue(key, *value, langBase) : std::string());
        grid.setModified(false, row, kValueColumn);
    }

    // Parameters the reply does not carry are not shown.
    for (int row = grid.rowCount() - 1; row >= 1; --row)
        if (grid.text(row, kValueColumn).empty())
            grid.removeRow(row);

    if (state.neutron) {
        AppendSwitchRow(grid, reply, IDS_FINAL_SOUND, "cfg_final_sound", langBase);
        AppendSwitchRow(grid, reply, IDS_ALARM_OFF, "cfg_alarmoff", langBase);
        AppendSwitchRow(grid, reply, IDS_INCHARGER_SOUND, "cfg_incharger_sound", langBase);
        AppendSignalRow(grid, reply, langBase);
    } else {
        AppendLimitRow(grid, reply, langBase);
    }

    grid.stretchColumnsToFit(clientWidth);

    for (int row = 1; row < grid.rowCount(); ++row) {
        const std::string& key = grid.text(row, kKeyColumn);
        if (key == "history_time")
            state.historyInterval = static_cast<double>(CLong(grid.text(row, kValueColumn)));
        else if (key == "history_depth_gma")
            state.historyDepth = static_cast<double>(CLong(grid.text(row, kValueColumn)));
    }

    // Locked protected groups are never shown, even when the dosimeter sends them.
    for (int row = grid.rowCount() - 1; row >= 1; --row) {
        const int bit = ProtectedBit(grid.text(row, kKeyColumn));
        if (bit != 0 && (access & bit) == 0)
            grid.removeRow(row);
    }
}

std::string ParameterTableFileBytes(const GridModel& grid) {
    std::string text;
    for (int row = 1; row < grid.rowCount(); ++row)
        text += grid.text(row, kNameColumn) + " = " + grid.text(row, kValueColumn) + "\r\n";
    return Utf8ToCp1251(text);
}

} // namespace dm
