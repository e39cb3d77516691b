#include "params/command_files.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/string_table.h"

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
void CloseBlock(std::string& block, bool erasesHistory, Model model) {
    if (!erasesHistory)
        return;
    AddLine(block, std::string(kGammaDepthKey) + " = 0");
    if (MeasuresNeutron(model))
        AddLine(block, std::string(kNeutronDepthKey) + " = 0");
}

void AddSignalLines(std::string& block, const ParameterSet& set, const ParameterRow& last,
                    Model model) {
    std::string type;
    if (last.type == ParameterRowType::Limit)
        type = "fixed";
    else if (last.type == ParameterRowType::Signal)
        type = set.value(kSignalTypeKey).value_or("");
    const std::string_view limitKey = type == "fixed"     ? kFixedLimitKey
                                      : type == "percent" ? kPercentLimitKey
                                                          : std::string_view();
    if (limitKey.empty())
        return;
    std::string value = set.value(limitKey).value_or("");
    if (limitKey == kPercentLimitKey)
        std::erase_if(value, [](char c) { return c == '.' || c == ','; });
    if (model == Model::Krt17a)
        AddLine(block, std::string(kSignalSoundKey) + " = dose");
    AddLine(block, std::string(kSignalTypeKey) + " = " + type);
    AddLine(block, std::string(limitKey) + " = " + value);
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
    start.request = ExchangeRequest::Parameters;
    start.started = true;
    start.files.push_back(GetParametersCommand(access));
    start.tickPreset = 0;
    start.progressSteps = kParameterProgressSteps;
    return start;
}

ExchangeStart ComposeEraseTotalDose(Language language, UserDialogs& dialogs) {
    ExchangeStart start;
    if (!dialogs.askYesNoDefaultNo(Tr(IDS_ASK_ERASE, language)))
        return start;
    start.request = ExchangeRequest::EraseTotalDose;
    start.started = true;
    start.files.push_back(EraseTotalDoseCommand());
    start.tickPreset = -4;
    return start;
}

ExchangeStart ComposeGetDoseHistory(const ParameterSet& set, const std::vector<ParameterRow>& rows) {
    ExchangeStart start;
    if (rows.size() <= 1)
        return start;
    long long gamma = 0;
    long long neutron = 0;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        const std::string& key = rows[i].key;
        const std::string value = set.value(rows[i].valueKey).value_or("");
        if (key == kNeutronDepthKey && value == "0") {
            start.noHistoryRecords = true;
            return start;
        }
        if (key == kGammaDepthKey && gamma == 0)
            gamma = LeadingInteger(value);
        else if (key == kNeutronDepthKey && neutron == 0)
            neutron = LeadingInteger(value);
    }
    // Depths as big as the device can count stay in range here; a negative depth from
    // a confused device still leaves at least one progress step, never zero.
    gamma = std::clamp<long long>(gamma, -1000000000LL, 1000000000LL);
    neutron = std::clamp<long long>(neutron, -1000000000LL, 1000000000LL);
    const long long steps = ((gamma + 3 * neutron) * 35) / 1547 + 4;

    start.request = ExchangeRequest::DoseHistory;
    start.started = true;
    start.files.push_back(GetArchiveCommand());
    start.tickPreset = -30;
    start.progressSteps = std::max(1, ClampToInt(steps));
    start.resetHistoryView = true;
    return start;
}

std::string ValueToSend(const Parameter& p, Language language) {
    const ParameterDescription* d = p.description();
    if (d && d->kind == ParameterKind::Text)
        return p.value();
    if (p.value() == Tr(IDS_ENABLE, language))
        return "enable";
    if (p.value() == Tr(IDS_DISABLE, language))
        return "disable";
    return p.value();
}

ExchangeStart ComposeSendChanges(const ParameterSet& set, const std::vector<ParameterRow>& rows,
                                 Model model, Language language) {
    ExchangeStart start;
    start.request = ExchangeRequest::Changes;
    start.started = true;
    start.tickPreset = 0;
    if (rows.size() <= 1)
        return start; // nothing to send; the exchange times out as any unanswered one

    std::string block;
    int count = 0;
    bool erasesHistory = false;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        const ParameterRow& row = rows[i];
        if (!row.editable || !RowIsModified(set, row))
            continue;
        const Parameter* p = set.find(row.valueKey);
        const ParameterDescription* d = p->description();
        std::string value = ValueToSend(*p, language);
        if (d && d->kind == ParameterKind::Text)
            value = "\"" + value + "\"";
        AddLine(block, row.key + " = " + value);
        erasesHistory = erasesHistory || (d && d->erasesHistory);
        if (++count >= kLinesPerBlock) {
            CloseBlock(block, erasesHistory, model);
            if (!block.empty())
                start.files.push_back(Utf8ToCp1251(block));
            block.clear();
            count = 0;
            erasesHistory = false;
        }
    }
    CloseBlock(block, erasesHistory, model);

    AddSignalLines(block, set, rows.back(), model);
    AddLine(block, "");
    AddLine(block, "get_parameters=255");
    AddLine(block, "#");
    start.files.push_back(Utf8ToCp1251(block));

    start.progressSteps = kParameterProgressSteps;
    return start;
}

} // namespace dm
