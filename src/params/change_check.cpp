#include "params/change_check.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "core/text_lines.h"
#include "params/command_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dm {
namespace {

// A plain decimal number with an optional exponent; nothing for anything else.
std::optional<double> ReadNumber(std::string_view s) { return ParseNumberText(s, NumberForm::Plain); }

// The significant digits a number is written with: "1.235E-05" has 4, "0.020" 2, "0" none.
int SignificantDigits(std::string_view text) {
    text = TrimBlanks(text);
    int digits = 0;
    for (char c : text.substr(0, text.find_first_of("eE")))
        if (c >= '0' && c <= '9' && (digits > 0 || c != '0'))
            ++digits;
    return digits;
}

// Whether the dosimeter stored the value sent rounded to the digits it writes back
// (1.23456E-05 kept as 1.235E-05): taken, not refused.
bool StoredRounded(double sent, double back, std::string_view backText) {
    const int digits = SignificantDigits(backText);
    if (digits <= 0 || digits > 17)
        return false;
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, sent, std::chars_format::scientific, digits - 1);
    double rounded = 0;
    if (ec != std::errc() || std::from_chars(buf, end, rounded).ec != std::errc())
        return false;
    return std::abs(rounded - back) <= 1e-9 * std::max(std::abs(rounded), std::abs(back));
}

std::string Number(double v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string RangeText(const ValueRange& r, Language language) {
    const int id = r.whole ? (r.highIncluded ? IDS_RANGE_WHOLE : IDS_RANGE_WHOLE_BELOW)
                           : (r.highIncluded ? IDS_RANGE : IDS_RANGE_BELOW);
    return FillIn(Tr(id, language), {Number(r.low), Number(r.high)});
}

std::string_view LimitKeyToSend(const ParameterSet& set, const ParameterRow& last) {
    if (last.type == ParameterRowType::Limit)
        return kFixedLimitKey;
    if (last.type == ParameterRowType::Signal)
        return SignalLimitKey(set);
    return {};
}

struct ChangedValue {
    std::string key;      // the row's key, as the command file names it
    std::string valueKey; // the parameter that holds the value
    std::string value;
};

std::vector<ChangedValue> ChangedEntries(const ParameterSet& set,
                                         const std::vector<ParameterRow>& rows, Language language) {
    std::vector<ChangedValue> out;
    if (rows.size() <= 1)
        return out;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        const ParameterRow& row = rows[i];
        if (row.editable && RowIsModified(set, row))
            if (const Parameter* p = set.find(row.valueKey))
                out.push_back({row.key, row.valueKey, ValueToSend(*p, language)});
    }
    const std::string_view limit = LimitKeyToSend(set, rows.back());
    if (!limit.empty() && set.isModified(limit))
        out.push_back({std::string(limit), std::string(limit), set.value(limit).value_or("")});
    return out;
}

} // namespace

CheckedValue CheckValue(const ParameterDescription& d, std::string_view value, Language language) {
    CheckedValue out{std::string(TrimBlanks(value)), {}};
    if (d.isChoice()) {
        if (!d.hasChoice(out.sent))
            out.reason = FillIn(Tr(IDS_REFUSED_CHOICE, language), {d.choices[0], d.choices[1]});
        return out;
    }
    if (d.kind == ParameterKind::Text) {
        out.sent = std::string(value);
        if (out.sent.find('"') != std::string::npos)
            out.reason = Tr(IDS_REFUSED_QUOTES, language);
        else if (Utf8Length(out.sent) > kMaxOwnerTextLength)
            out.reason = FillIn(Tr(IDS_REFUSED_LENGTH, language), {std::to_string(kMaxOwnerTextLength)});
        return out;
    }
    // Numbers: a decimal comma is how many users type them; the dosimeter reads a point.
    // Blanks around stay as typed: the dosimeter skips them.
    out.sent = std::string(value);
    std::replace(out.sent.begin(), out.sent.end(), ',', '.');
    const std::optional<double> v = ReadNumber(out.sent);
    const ValueRange& r = d.range;
    const std::string_view bare = TrimBlanks(out.sent);
    const bool wholeOk = !r.whole || std::all_of(bare.begin(), bare.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; });
    if (!v)
        out.reason = Tr(bare.empty() ? IDS_REFUSED_EMPTY : IDS_REFUSED_NOT_NUMBER, language);
    else if (!wholeOk)
        out.reason = Tr(IDS_REFUSED_NOT_WHOLE, language);
    if (out.reason.empty() && r.known() && !r.contains(*v))
        out.reason = FillIn(Tr(IDS_REFUSED_RANGE, language), {RangeText(r, language)});
    else if (!out.reason.empty() && r.known())
        out.reason = FillIn(Tr(IDS_REFUSED_WITH_RANGE, language), {out.reason, RangeText(r, language)});
    return out;
}

std::vector<ValueProblem> CheckChanges(ParameterSet& set, const std::vector<ParameterRow>& rows, Language language) {
    std::vector<ValueProblem> problems;
    std::vector<std::pair<std::string, std::string>> normal;
    for (const auto& [key, valueKey, value] : ChangedEntries(set, rows, language)) {
        const ParameterDescription* d = DescribeParameter(key);
        if (!d)
            continue; // a key only the catalogue knows: sent as typed
        std::string shown = value;
        // The percent limit goes out without its points (the dosimeter's own convention).
        if (key == kPercentLimitKey)
            std::erase_if(shown, [](char c) { return c == '.' || c == ','; });
        const CheckedValue checked = CheckValue(*d, shown, language);
        if (!checked.ok())
            problems.push_back({key, value, checked.reason});
        else if (key != kPercentLimitKey && d->kind != ParameterKind::Text &&
                 value.find(',') != std::string::npos)
            normal.emplace_back(valueKey, checked.sent);
    }
    if (problems.empty())
        for (const auto& [key, value] : normal)
            set.setValue(key, value);
    return problems;
}

std::vector<std::pair<std::string, std::string>> ChangedValues(const ParameterSet& set,
                                                               const std::vector<ParameterRow>& rows,
                                                               Language language) {
    std::vector<std::pair<std::string, std::string>> out;
    for (ChangedValue& c : ChangedEntries(set, rows, language))
        out.emplace_back(std::move(c.key), std::move(c.value));
    return out;
}

namespace {

enum class Back { Same, Rounded, Differs };

// How the value came back: as sent (as numbers where both read as numbers, else as
// text), as a number the dosimeter stored rounded to the digits it writes back, or other.
Back CameBack(std::string_view sent, std::string_view back) {
    const std::optional<double> a = ReadNumber(sent), b = ReadNumber(back);
    if ((a && b) ? std::abs(*a - *b) <= 1e-9 * std::max(std::abs(*a), std::abs(*b))
                 : TrimBlanks(sent) == TrimBlanks(back))
        return Back::Same;
    return a && b && StoredRounded(*a, *b, back) ? Back::Rounded : Back::Differs;
}

} // namespace

bool ValueTaken(const ParameterSet& renewed, std::string_view key, std::string_view sent) {
    const std::optional<std::string> back = renewed.raw(key);
    return back && CameBack(sent, *back) != Back::Differs;
}

std::vector<ValueProblem> NotTaken(std::vector<std::pair<std::string, std::string>>& sent,
                                   const ParameterSet& renewed, std::vector<ValueProblem>* rounded) {
    std::vector<ValueProblem> out;
    std::erase_if(sent, [&](const std::pair<std::string, std::string>& s) {
        const std::optional<std::string> back = renewed.raw(s.first);
        if (!back)
            return false; // not in this reply (a protected row): wait for the next one
        const Back how = CameBack(s.second, *back);
        if (how == Back::Rounded && rounded)
            rounded->push_back({s.first, s.second, *back});
        else if (how == Back::Differs)
            out.push_back({s.first, s.second, *back});
        return true;
    });
    return out;
}

void RenewedParametersCheck::commandSent(std::vector<std::pair<std::string, std::string>> sent,
                                         bool protectedUnlocked) {
    *this = {};
    sent_ = std::move(sent);
    awaitingRenewed_ = true;
    protectedUnlocked_ = protectedUnlocked;
}

RenewedParametersCheck::Outcome RenewedParametersCheck::parametersReceived(const ParameterSet& renewed) {
    Outcome out;
    if (!awaitingRenewed_ && !awaitingProtected_)
        return out;
    out.notTaken = NotTaken(sent_, renewed, &out.storedRounded);
    notTaken_.insert(notTaken_.end(), out.notTaken.begin(), out.notTaken.end());
    if (awaitingRenewed_ && protectedUnlocked_) {
        awaitingRenewed_ = false;
        awaitingProtected_ = true;
        out.readProtectedNext = true;
        return out;
    }
    out.summary = std::move(notTaken_);
    *this = {};
    return out;
}

std::optional<bool> TotalDoseErased(std::optional<double> totalBefore, const ParameterSet& renewed) {
    const std::optional<double> after = renewed.totalDose();
    if (!after || !std::isfinite(*after))
        return std::nullopt;
    if (*after == 0 || (totalBefore && *totalBefore <= 0))
        return true;
    return totalBefore && std::isfinite(*totalBefore) && *after < *totalBefore;
}

bool HasUnsentEdits(const ParameterSet& set) {
    return std::any_of(set.parameters().begin(), set.parameters().end(),
                       [](const Parameter& p) { return p.edited.has_value(); });
}

} // namespace dm
