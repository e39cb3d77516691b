#include "sim/parameter_store.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "sim/device_numbers.h"

#include <cstdio>

namespace dm {

namespace {

ParamKind CheckFor(const ParameterDescription& d) {
    if (!d.writable)
        return ParamKind::Fixed;
    if (d.isChoice())
        return ParamKind::Choice;
    switch (d.kind) {
    case ParameterKind::Dose:
    case ParameterKind::DoseRate: return ParamKind::Dose;
    case ParameterKind::Duration: return ParamKind::Seconds;
    case ParameterKind::Text: return ParamKind::Text;
    case ParameterKind::Number: return d.unit == "%" ? ParamKind::Percent : ParamKind::Coefficient;
    case ParameterKind::Switch:
    case ParameterKind::Signal: break;
    }
    return ParamKind::Free;
}

struct InitialValue {
    const char* key;
    const char* krt17a;
    const char* mlv52b;
};

// The values a fresh simulated dosimeter starts with, in the order it lists them. The
// readings (doses, times, history depths) come from the dose meter instead.
constexpr InitialValue kInitialValues[] = {
    {"serial_number", "17-004217", "52-001583"},
    {"firmware_version", "3.12", "2.07"},
    {"battery_level", "87", "87"},
    {"rate_threshold", "1.000E-05", "1.000E-05"},
    {"dose_threshold", "1.000E-03", "1.000E-03"},
    {"history_time", "60", "60"},
    {"userinfo", "Simulated dosimeter", "Simulated dosimeter"},
    {"g_ks_large", "1.0320", "1.0320"},
    {"g_ks_small", "0.9870", "0.9870"},
    {"n_ks", "0.0415", "0.0415"},
    {"csWeigth", "1.0000", "1.0000"},
    {"wtx[01]", "0.8500", "0.8500"},
    {"wtx[10]", "1.1200", "1.1200"},
    {"cfg_final_sound", "enable", "enable"},
    {"cfg_alarmoff", "disable", "disable"},
    {"cfg_incharger_sound", "enable", "enable"},
    {"cfg_select_sound", "dose", "dose"},
    {"cfg_type_of_signal", "fixed", "fixed"},
    {"limit_fixed", "1.000E-04", "1.000E-04"},
    {"limit_percent", "80", "80"},
};

} // namespace

ParameterStore::ParameterStore(Model model) {
    const bool krt = MeasuresNeutron(model);
    for (const InitialValue& initial : kInitialValues) {
        const ParameterDescription* d = DescribeParameter(initial.key);
        if (!d || !d->carriedBy(model))
            continue;
        entries_.push_back(Entry{initial.key, CheckFor(*d), d, krt ? initial.krt17a : initial.mlv52b});
    }
}

ParameterStore::Entry* ParameterStore::find(std::string_view key) {
    for (auto& e : entries_)
        if (e.key == key)
            return &e;
    return nullptr;
}

const ParameterStore::Entry* ParameterStore::find(std::string_view key) const {
    return const_cast<ParameterStore*>(this)->find(key);
}

void ParameterStore::addFreeKey(const std::string& key) {
    if (!find(key))
        entries_.push_back(Entry{key, ParamKind::Free, nullptr, "0"});
}

bool ParameterStore::has(std::string_view key) const {
    return find(key) != nullptr;
}

bool ParameterStore::isProtected(std::string_view key) const {
    const Entry* e = find(key);
    return e && e->description && e->description->protectionGroup != kUnprotected;
}

ParamKind ParameterStore::kind(std::string_view key) const {
    const Entry* e = find(key);
    return e ? e->kind : ParamKind::Free;
}

std::string ParameterStore::value(std::string_view key) const {
    const Entry* e = find(key);
    return e ? e->value : std::string();
}

std::vector<std::string> ParameterStore::keys() const {
    std::vector<std::string> out;
    for (const auto& e : entries_)
        out.push_back(e.key);
    return out;
}

std::vector<std::pair<std::string, std::string>> ParameterStore::entries() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : entries_)
        out.emplace_back(e.key, e.value);
    return out;
}

ParameterStore::SetResult ParameterStore::set(std::string_view key, std::string_view valueText) {
    Entry* e = find(key);
    if (!e)
        return {SetStatus::Unknown, false, {}};
    if (e->description && !e->description->writable)
        return {SetStatus::ReadOnly, false, {}};
    const std::string_view text = TrimBlanks(valueText);
    auto bad = [](std::string reason) {
        return SetResult{SetStatus::BadValue, false, std::move(reason)};
    };
    std::string normal;
    switch (e->kind) {
    case ParamKind::Fixed:
        return {SetStatus::ReadOnly, false, {}};
    case ParamKind::Dose: {
        const auto v = ParseNumberText(text, NumberForm::Plain);
        if (!v || !e->description->range.contains(*v))
            return bad("a dose from 0 to 100 Sv");
        normal = FormatDeviceNumber(*v);
        break;
    }
    case ParamKind::Coefficient: {
        const auto v = ParseNumberText(text, NumberForm::Plain);
        if (!v || !e->description->range.contains(*v))
            return bad("a number from 0.0001 to below 1000");
        const std::string four = CNumberText(*v, 'f', 4);
        // The kept four decimals must still be in range, or the value could not be read
        // back from the state file (1e-6 would be kept as 0.0000).
        const auto kept = ParseNumberText(four, NumberForm::Plain);
        if (!kept || !e->description->range.contains(*kept))
            return bad("a number from 0.0001 to below 1000");
        normal = four;
        break;
    }
    case ParamKind::Seconds: {
        const auto v = ParseWholeNumber(text);
        if (!v || !e->description->range.contains(static_cast<double>(*v)))
            return bad("whole seconds from 1 to 86400");
        normal = std::to_string(*v);
        break;
    }
    case ParamKind::Percent: {
        const auto v = ParseWholeNumber(text);
        if (!v || !e->description->range.contains(static_cast<double>(*v)))
            return bad("a whole percentage from 0 to 1000");
        normal = std::to_string(*v);
        break;
    }
    case ParamKind::Choice:
        if (!e->description->hasChoice(text))
            return bad(std::string(e->description->choices[0]) + " or " +
                       std::string(e->description->choices[1]));
        normal = text;
        break;
    case ParamKind::Text: {
        std::string_view inner = text;
        if (inner.size() >= 2 && inner.front() == '"' && inner.back() == '"')
            inner = inner.substr(1, inner.size() - 2);
        if (inner.find('"') != std::string_view::npos)
            return bad("text without double quotes inside");
        if (Utf8Length(inner) > kMaxOwnerTextLength)
            return bad("text of at most 100 characters");
        normal = inner;
        break;
    }
    case ParamKind::Free:
        normal = text;
        break;
    }
    const bool changed = normal != e->value;
    e->value = std::move(normal);
    return {SetStatus::Stored, changed, {}};
}

} // namespace dm
