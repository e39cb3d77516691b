#include "params/command_files.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "params/parameter_table.h"

#include <algorithm>
#include <climits>

namespace dm {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kLinesPerBlock = 11;
constexpr int kParameterProgressSteps = 8;

void AddLine(std::string& block, const std::string& line) {
    block += line;
    block += kCrLf;
}

// Changing the record interval erases the history, so its depths are reset with it.
void CloseBlock(std::string& block, bool neutron) {
    if (block.find("history_time") == std::string::npos)
        return;
    AddLine(block, "history_depth_gma = 0");
    if (neutron)
        AddLine(block, "history_depth_neu = 0");
}

void AddSignalLines(std::string& block, const GridModel& table, bool neutron, int langBase) {
    const int last = table.rowCount() - 1;
    const std::string& name = table.text(last, kNameColumn);
    std::string value = table.text(last, kValueColumn);
    if (name == Tr(IDS_SIGNAL_FIXED_SEND, langBase)) {
        if (neutron)
            AddLine(block, "cfg_select_sound = dose");
        AddLine(block, "cfg_type_of_signal = fixed");
        AddLine(block, "limit_fixed = " + value);
    } else if (name == Tr(IDS_SIGNAL_PERCENT_SEND, langBase)) {
        std::erase_if(value, [](char c) { return c == '.' || c == ','; });
        if (neutron)
            AddLine(block, "cfg_select_sound = dose");
        AddLine(block, "cfg_type_of_signal = percent");
        AddLine(block, "limit_percent = " + value);
    }
}

int ClampToInt(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

} // namespace

std::string GetParametersCommand(int access) {
    std::string file;
    if (access != 0) {
        AddLine(file, "");
        AddLine(file, "#");
        AddLine(file, std::string("password = \"") + kDevicePassword + "\"");
        AddLine(file, "debug = \"out\"");
    }
    AddLine(file, "get_parameters=255");
    AddLine(file, "#");
    return file;
}

std::string EraseTotalDoseCommand() {
    return "total_val=0\r\ntotal_time=0\r\nget_parameters=255\r\n#\r\n";
}

std::string GetArchiveCommand() {
    return "get_archive\r\n";
}

ExchangeStart ComposeGetParameters(int access) {
    ExchangeStart start;
    start.started = true;
    start.files.push_back(GetParametersCommand(access));
    start.tickPreset = 0;
    start.progressSteps = kParameterProgressSteps;
    return start;
}

ExchangeStart ComposeEraseTotalDose(int langBase, UserDialogs& dialogs) {
    ExchangeStart start;
    if (!dialogs.askYesNoDefaultNo(Tr(IDS_ASK_ERASE, langBase)))
        return start;
    start.started = true;
    start.files.push_back(EraseTotalDoseCommand());
    start.tickPreset = -4;
    start.changesSentMessage = true;
    return start;
}

ExchangeStart ComposeGetDoseHistory(const GridModel& table, int langBase, UserDialogs& dialogs) {
    ExchangeStart start;
    const int rows = table.rowCount();
    if (rows <= 2)
        return start;
    for (int row = 1; row < rows - 1; ++row) {
        if (table.text(row, kKeyColumn).find("history_depth_neu") != std::string::npos &&
            table.text(row, kValueColumn) == "0") {
            dialogs.showMessage(Tr(IDS_NO_HISTORY_RECORDS, langBase));
            return start;
        }
    }

    long long gamma = 0;
    long long neutron = 0;
    for (int row = 0; row < rows && (gamma == 0 || neutron == 0); ++row) {
        const std::string& key = table.text(row, kKeyColumn);
        if (key == "history_depth_gma")
            gamma = CLong(table.text(row, kValueColumn));
        else if (key == "history_depth_neu")
            neutron = CLong(table.text(row, kValueColumn));
    }
    // Depths as big as the device can count stay in range here; a negative depth from
    // a confused device still leaves at least one progress step, never zero.
    gamma = std::clamp<long long>(gamma, -1000000000LL, 1000000000LL);
    neutron = std::clamp<long long>(neutron, -1000000000LL, 1000000000LL);
    const long long steps = ((gamma + 3 * neutron) * 35) / 1547 + 4;

    start.started = true;
    start.files.push_back(GetArchiveCommand());
    start.tickPreset = -30;
    start.progressSteps = std::max(1, ClampToInt(steps));
    start.resetHistoryView = true;
    return start;
}

ExchangeStart ComposeSendChanges(const GridModel& table, bool neutron, int langBase) {
    ExchangeStart start;
    start.started = true;
    start.tickPreset = 0;
    const int rows = table.rowCount();
    if (rows <= 2)
        return start; // nothing to send; the exchange times out as any unanswered one

    std::string block;
    int count = 0;
    for (int row = 1; row < rows - 1; ++row) {
        if (table.isReadOnly(row, kValueColumn) || !table.isModified(row, kValueColumn))
            continue;
        const std::string& key = table.text(row, kKeyColumn);
        std::string value = table.text(row, kValueColumn);
        if (key == "userinfo")
            value = "\"" + value + "\"";
        // The dosimeter understands only the English keywords.
        if (value == Tr(IDS_ENABLE, langBase))
            value = "enable";
        else if (value == Tr(IDS_DISABLE, langBase))
            value = "disable";
        AddLine(block, key + " = " + value);
        if (++count >= kLinesPerBlock) {
            CloseBlock(block, neutron);
            if (!block.empty())
                start.files.push_back(Utf8ToCp1251(block));
            block.clear();
            count = 0;
        }
    }
    CloseBlock(block, neutron);

    AddSignalLines(block, table, neutron, langBase);
    AddLine(block, "");
    AddLine(block, "get_parameters=255");
    AddLine(block, "#");
    start.files.push_back(Utf8ToCp1251(block));

    start.progressBarToZeroBeforePush = true;
    start.progressSteps = kParameterProgressSteps;
    start.changesSentMessage = true;
    return start;
}

} // namespace dm
