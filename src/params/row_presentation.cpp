#include "params/row_presentation.h"

#include "core/cp1251.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"

#include <algorithm>
#include <cmath>

namespace dm {
namespace {

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

// Measured doses and times formatted, the rest as the dosimeter wrote it (or as edited).
std::string DisplayValue(const Parameter& p, Language language) {
    const ParameterDescription* d = p.description();
    if (!d || !d->isMeasurement())
        return p.value();
    if (d->kind == ParameterKind::Duration)
        return FormatDuration(WholeSeconds(ParseDeviceNumber(p.value())));
    std::string text = FormatDose(ParseDeviceNumber(p.value()), language);
    if (d->kind == ParameterKind::DoseRate)
        text += Tr(IDS_PER_HOUR, language);
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

// The modified marks below are those the saved JSON form of the table has always carried:
// a cell the fill wrote counts as modified unless the fill cleared it.
RowPresentation CatalogueRow(const ParameterSet& set, const ParameterRow& r, Language language) {
    RowPresentation out;
    out.name = {r.name, false, {}, true, false, kNameBackground};
    out.key = r.key;
    out.keyReadOnly = true;
    const Parameter* p = set.find(r.valueKey);
    out.value.text = p ? DisplayValue(*p, language) : std::string();
    out.value.readOnly = !r.editable;
    out.value.modified = RowIsModified(set, r);
    out.value.background = r.colour ? *r.colour : r.editable ? kValueBackground : kReadOnlyBackground;
    return out;
}

RowPresentation SwitchRow(const ParameterSet& set, const ParameterRow& r, Language language) {
    RowPresentation out;
    out.name = {Tr(SwitchNameId(r.key), language), false, {}, false, true, kNameBackground};
    out.key = r.key;
    out.value.list = true;
    out.value.options = ShownChoices(r.key, language);
    const int id = ShownWordId(set.value(r.key).value_or(""));
    const bool shown = id == IDS_ENABLE || id == IDS_DISABLE;
    if (shown)
        out.value.text = Tr(id, language);
    out.value.modified = shown || RowIsModified(set, r);
    return out;
}

RowPresentation SignalRow(const ParameterSet& set, Language language) {
    RowPresentation out;
    out.name.list = true;
    out.name.options = ShownChoices(kSignalTypeKey, language);
    out.name.modified = true;
    const std::string_view limitKey = SignalLimitKey(set);
    if (limitKey.empty())
        return out; // the type is unknown: nothing to show
    out.name.text = Tr(ShownWordId(set.value(kSignalTypeKey).value_or("")), language);
    out.value.text = set.value(limitKey).value_or("");
    out.value.modified = true;
    return out;
}

RowPresentation LimitRow(const ParameterSet& set, Language language) {
    RowPresentation out;
    out.name = {Tr(IDS_SIGNAL_FIXED, language), false, {}, true, false, kNameBackground};
    out.keyReadOnly = true;
    out.value.text = set.value(kFixedLimitKey).value_or("");
    out.value.modified = true;
    return out;
}

} // namespace

TableHeadings ParameterTableHeadings(Language language) {
    return {Tr(IDS_COL_NAME, language), Tr(IDS_COL_COMMAND, language), Tr(IDS_COL_VALUE, language)};
}

RowPresentation PresentRow(const ParameterSet& set, const ParameterRow& row, Language language, bool refused) {
    RowPresentation out;
    switch (row.type) {
    case ParameterRowType::Catalogue: out = CatalogueRow(set, row, language); break;
    case ParameterRowType::Switch: out = SwitchRow(set, row, language); break;
    case ParameterRowType::Signal: out = SignalRow(set, language); break;
    case ParameterRowType::Limit: out = LimitRow(set, language); break;
    }
    if (refused) {
        out.value.background = kRefusedBackground;
    } else if (!row.valueKey.empty()) {
        const Parameter* p = set.find(row.valueKey);
        if (p && p->edited)
            out.value.background = kEditedBackground;
    }
    return out;
}

void UpdateTableState(const ParameterSet& set, const std::vector<ParameterRow>& rows, Language language,
                      ParameterTableState& state) {
    if (!set.replied())
        return;
    state.model = set.model();
    state.caption = Tr(IDS_CAPTION, language) + Tr(state.model == Model::Krt17a ? IDS_MODEL_KRT : IDS_MODEL_MLV, language);
    if (const auto interval = ShownHistoryInterval(set, rows))
        state.historyInterval = *interval;
    if (const auto depth = ShownHistoryDepth(set, rows))
        state.historyDepth = *depth;
}

std::string ParameterTableFileBytes(const ParameterSet& set, const std::vector<ParameterRow>& rows,
                                    Language language) {
    std::string text;
    for (const ParameterRow& row : rows) {
        const RowPresentation shown = PresentRow(set, row, language);
        text += shown.name.text + " = " + shown.value.text + "\r\n";
    }
    return Utf8ToCp1251(text);
}

std::vector<std::string> ShownChoices(std::string_view key, Language language) {
    const ParameterDescription* d = DescribeParameter(key);
    std::vector<std::string> shown;
    if (!d || !d->isChoice())
        return shown;
    for (std::string_view word : d->choices) {
        const int id = ShownWordId(word);
        shown.push_back(id >= 0 ? Tr(id, language) : std::string(word));
    }
    return shown;
}

std::optional<std::string> ChoiceWord(std::string_view key, const std::string& shown, Language language) {
    const ParameterDescription* d = DescribeParameter(key);
    const std::vector<std::string> options = ShownChoices(key, language);
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i] == shown)
            return std::string(d->choices[i]);
    return std::nullopt;
}

bool BeginRowEdit(ParameterSet& set, const ParameterRow& row, RowCell cell, Language language,
                  UserDialogs& dialogs) {
    if (cell != RowCell::Value || row.valueKey.empty())
        return true; // the signal type and the limits are touched by their edit alone
    return BeginEdit(set, row.valueKey) != EditStart::ConfirmHistoryErase ||
           dialogs.askYesNoDefaultNo(Tr(IDS_WARN_HISTORY_TIME, language));
}

bool EndRowEdit(ParameterSet& set, const ParameterRow& row, RowCell cell, const std::string& text,
                Language language) {
    const RowPresentation shown = PresentRow(set, row, language);
    const CellPresentation& target = cell == RowCell::Name ? shown.name : shown.value;
    if (target.text == text)
        return false;
    if (target.list && std::find(target.options.begin(), target.options.end(), text) == target.options.end())
        return false;
    const bool lastRow = row.type == ParameterRowType::Signal || row.type == ParameterRowType::Limit;
    if (cell == RowCell::Value && !lastRow) {
        const std::optional<std::string> word = target.list ? ChoiceWord(row.valueKey, text, language) : text;
        return word && EndEdit(set, row.valueKey, *word);
    }
    if (cell == RowCell::Name && row.type == ParameterRowType::Signal) {
        const std::optional<std::string> word = ChoiceWord(kSignalTypeKey, text, language);
        return word && ChooseSignalType(set, *word, shown.value.text);
    }
    if (cell == RowCell::Value && lastRow)
        return SetSignalLimit(set, text);
    return false;
}

} // namespace dm
