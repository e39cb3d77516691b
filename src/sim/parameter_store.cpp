#include "sim/parameter_store.h"

#include "core/cp1251.h"
#include "sim/device_numbers.h"

#include <cstdio>

namespace dm {

ParameterStore::ParameterStore(SimModel model) {
    const bool krt = HasNeutronChannel(model);
    auto add = [this](const char* key, ParamKind kind, bool writable, bool prot, std::string v) {
        entries_.push_back(Entry{key, kind, writable, prot, std::move(v)});
    };
    add("serial_number", ParamKind::Fixed, false, false, krt ? "17-004217" : "52-001583");
    add("firmware_version", ParamKind::Fixed, false, false, krt ? "3.12" : "2.07");
    add("battery_level", ParamKind::Fixed, false, false, "87");
    add("rate_threshold", ParamKind::Dose, true, false, "1.000E-05");
    add("dose_threshold", ParamKind::Dose, true, false, "1.000E-03");
    add("history_time", ParamKind::Seconds, true, false, "60");
    add("userinfo", ParamKind::Text, true, false, "Simulated dosimeter");
    add("g_ks_large", ParamKind::Coefficient, true, true, "1.0320");
    add("g_ks_small", ParamKind::Coefficient, true, true, "0.9870");
    if (krt)
        add("n_ks", ParamKind::Coefficient, true, true, "0.0415");
    add("csWeigth", ParamKind::Coefficient, true, true, "1.0000");
    add("wtx[01]", ParamKind::Coefficient, true, true, "0.8500");
    add("wtx[10]", ParamKind::Coefficient, true, true, "1.1200");
    if (krt) {
        add("cfg_final_sound", ParamKind::Switch, true, false, "enable");
        add("cfg_alarmoff", ParamKind::Switch, true, false, "disable");
        add("cfg_incharger_sound", ParamKind::Switch, true, false, "enable");
        add("cfg_select_sound", ParamKind::SelectSound, true, false, "dose");
    }
    add("cfg_type_of_signal", ParamKind::SignalType, true, false, "fixed");
    add("limit_fixed", ParamKind::Dose, true, false, "1.000E-04");
    add("limit_percent", ParamKind::Percent, true, false, "80");
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
        entries_.push_back(Entry{key, ParamKind::Free, true, false, "0"});
}

bool ParameterStore::has(std::string_view key) const {
    return find(key) != nullptr;
}

bool ParameterStore::isProtected(std::string_view key) const {
    const Entry* e = find(key);
    return e && e->isProtected;
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
    if (!e->writable)
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
        const auto v = ParseStrictNumber(text);
        if (!v || *v < 0 || *v >= 100)
            return bad("a dose from 0 to 100 Sv");
        normal = FormatDeviceNumber(*v);
        break;
    }
    case ParamKind::Coefficient: {
        const auto v = ParseStrictNumber(text);
        if (!v || *v <= 0 || *v >= 1000)
            return bad("a number above 0 and below 1000");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", *v);
        normal = buf;
        break;
    }
    case ParamKind::Seconds: {
        const auto v = ParseWholeNumber(text);
        if (!v || *v < 1 || *v > 86400)
            return bad("whole seconds from 1 to 86400");
        normal = std::to_string(*v);
        break;
    }
    case ParamKind::Percent: {
        const auto v = ParseWholeNumber(text);
        if (!v || *v > 1000)
            return bad("a whole percentage from 0 to 1000");
        normal = std::to_string(*v);
        break;
    }
    case ParamKind::Switch:
        if (text != "enable" && text != "disable")
            return bad("enable or disable");
        normal = text;
        break;
    case ParamKind::SignalType:
        if (text != "fixed" && text != "percent")
            return bad("fixed or percent");
        normal = text;
        break;
    case ParamKind::SelectSound:
        if (text != "dose" && text != "rate")
            return bad("dose or rate");
        normal = text;
        break;
    case ParamKind::Text: {
        std::string_view inner = text;
        if (inner.size() >= 2 && inner.front() == '"' && inner.back() == '"')
            inner = inner.substr(1, inner.size() - 2);
        if (inner.find('"') != std::string_view::npos)
            return bad("text without double quotes inside");
        if (Utf8Length(inner) > kMaxTextLength)
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
