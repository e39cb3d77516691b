#include "sim/sim_device.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "params/catalogue.h"
#include "sim/device_numbers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

namespace dm {
namespace {

constexpr const char* kStateMagic = "dosimeter-simulator-state 1";

// The dosimeter's own order of its parameters; the catalogue's order comes first.
const std::vector<std::string>& BuiltInOrder() {
    static const std::vector<std::string> order{"serial_number",     "firmware_version",
                                                "battery_level",     "dose_val",
                                                "dose_neutron",      "dose_time",
                                                "total_val",         "total_time",
                                                "peak_rate",         "peak_time",
                                                "rate_threshold",    "dose_threshold",
                                                "history_time",      "history_depth_gma",
                                                "history_depth_neu", "g_ks_large",
                                                "g_ks_small",        "n_ks",
                                                "csWeigth",          "wtx[01]",
                                                "wtx[10]",           "cfg_final_sound",
                                                "cfg_alarmoff",      "cfg_incharger_sound",
                                                "cfg_select_sound",  "cfg_type_of_signal",
                                                "limit_fixed",       "limit_percent",
                                                "userinfo"};
    return order;
}

// Words that start requests or belong to the password block, never parameters.
bool IsRequestWord(std::string_view key) {
    return key == "get_parameters" || key == "get_archive" || key == "password" || key == "debug";
}

std::string Unquote(std::string_view text) {
    text = TrimBlanks(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::string WholeText(long long v) {
    return std::to_string(v);
}

std::string Exact(double v) {
    return CNumberText(v, 'g', 17);
}

} // namespace

SimDevice::SimDevice(Model model, std::string_view catalogue, std::uint64_t seed)
    : model_(model), store_(model), meter_(MeasuresNeutron(model), seed, 60) {
    const bool krt = MeasuresNeutron(model);
    meter_.eraseHistory(CLongOr60(store_.value("history_time")));
    auto allowed = [&](const std::string& key) {
        // A key must stay one word of a "key = value" line.
        if (key.empty() || IsRequestWord(key) ||
            key.find_first_of("= \t\r\n\"") != std::string::npos)
            return false;
        // A gamma-only dosimeter must never write anything that reads as a KRT-17A's key.
        const ParameterDescription* d = DescribeParameter(key);
        if (!krt && (key.find("neutr") != std::string::npos || (d && !d->carriedBy(Model::Mlv52b))))
            return false;
        return true;
    };
    auto addKey = [&](const std::string& key) {
        if (allowed(key) &&
            std::find(replyKeys_.begin(), replyKeys_.end(), key) == replyKeys_.end())
            replyKeys_.push_back(key);
    };
    if (!catalogue.empty()) {
        for (const Language lang : {Language::English, Language::Russian})
            for (const auto& line : CatalogueLines(catalogue, model, lang))
                addKey(line.key);
    }
    for (const auto& key : BuiltInOrder())
        if (isLiveKey(key) || store_.has(key))
            addKey(key);
    for (const auto& key : replyKeys_)
        if (!isLiveKey(key) && !store_.has(key))
            store_.addFreeKey(key);
    // The free text goes last, so no key written inside it is ever found first.
    auto info = std::find(replyKeys_.begin(), replyKeys_.end(), "userinfo");
    if (info != replyKeys_.end())
        std::rotate(info, info + 1, replyKeys_.end());
}

long long SimDevice::CLongOr60(const std::string& text) {
    const auto v = ParseWholeNumber(text);
    return v && *v > 0 ? *v : 60;
}

bool SimDevice::isLiveKey(std::string_view key) const {
    static const char* const kLive[] = {"dose_val",  "dose_time", "total_val",        "total_time",
                                        "peak_rate", "peak_time", "history_depth_gma"};
    for (const char* k : kLive)
        if (key == k)
            return true;
    if (MeasuresNeutron(model_))
        return key == "dose_neutron" || key == "history_depth_neu";
    return false;
}

std::string SimDevice::liveValue(const std::string& key) const {
    const DoseCounters& c = meter_.counters();
    if (key == "dose_val")
        return FormatDeviceNumber(c.doseSinceOn);
    if (key == "dose_neutron")
        return FormatDeviceNumber(c.neutronSinceOn);
    if (key == "dose_time")
        return WholeText(c.clock - c.switchOnClock);
    if (key == "total_val")
        return FormatDeviceNumber(c.totalDose);
    if (key == "total_time")
        return WholeText(c.totalTime);
    if (key == "peak_rate")
        return FormatDeviceNumber(c.peakRate);
    if (key == "peak_time")
        return WholeText(c.peakTime);
    if (key == "history_depth_gma")
        return WholeText(static_cast<long long>(c.gamma.size()));
    if (key == "history_depth_neu")
        return WholeText(static_cast<long long>(c.neutron.size()));
    return {};
}

void SimDevice::fillHistory(std::size_t records) {
    meter_.fillHistory(records);
}

std::string SimDevice::parameterReply(bool withProtected) const {
    std::string text;
    for (const auto& key : replyKeys_) {
        if (store_.isProtected(key) && !withProtected)
            continue;
        std::string value;
        if (isLiveKey(key))
            value = liveValue(key);
        else if (store_.kind(key) == ParamKind::Text)
            value = "\"" + store_.value(key) + "\"";
        else
            value = store_.value(key);
        text += key + " = " + value + "\r\n";
    }
    return text;
}

std::string SimDevice::archiveReply() const {
    const DoseCounters& c = meter_.counters();
    std::string text;
    if (MeasuresNeutron(model_)) {
        text += std::string(ModelName(model_)) + " dose history, " +
                WholeText(static_cast<long long>(c.gamma.size())) + " records every " +
                WholeText(c.historyInterval) + " s\r\n";
        // The manager's pickup turns each LF into CR LF, and its parse then drops the
        // two characters before each LF: so a line ends right after its value, and the
        // CR the pickup adds is the "one character" the parse expects there.
        bool first = true;
        for (const auto& r : c.gamma) {
            // The first dose line carries one more character in front.
            text += (first ? " " : "") + FormatDeviceNumber(r.dose) + "\r\n";
            first = false;
        }
        for (const auto& r : c.neutron) {
            text += FormatDeviceNumber(r.dose) + "\t" + CNumberText(r.coefficient, 'f', 2) + "\t " +
                    WholeText(r.seconds) +
                    "\r\n";
        }
    } else {
        text += std::string(ModelName(model_)) + " dose history\r\n";
        text += "Serial number " + store_.value("serial_number") + "\r\n";
        text += "Records " + WholeText(static_cast<long long>(c.gamma.size())) + "\r\n";
        text += "Interval " + WholeText(c.historyInterval) + " s\r\n";
        for (const auto& r : c.gamma)
            text += FormatDeviceNumber(r.dose) + "\r\n";
    }
    return text;
}

std::vector<SimReply> SimDevice::handleCommandFile(std::string_view fileBytes, long long clock) {
    meter_.advanceTo(clock);
    const std::string text = Cp1251ToUtf8(fileBytes);

    bool wantParameters = false;
    bool wantArchive = false;
    bool unlocked = false;
    bool eraseTotal = false;
    bool eraseHistory = false;
    int settings = 0;
    int stored = 0;
    std::vector<std::string> refusals;

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = TrimBlanks(line);
        if (line.empty() || line.front() == '#')
            continue;
        const KeyValueLine kv = SplitKeyValueLine(line);
        const std::string key(kv.key);
        const std::string_view value = TrimBlanks(kv.value);
        if (key == "get_parameters") {
            wantParameters = true;
            continue;
        }
        if (key == "get_archive") {
            wantArchive = true;
            continue;
        }
        if (key == "debug")
            continue;
        if (key == "password") {
            if (Unquote(value) == kPassword)
                unlocked = true;
            else
                refusals.push_back("wrong password");
            continue;
        }
        if (!kv.hasValue) {
            refusals.push_back("unknown command \"" + key + "\"");
            continue;
        }
        ++settings;
        if (key == "total_val" || key == "total_time") {
            if (ParseWholeNumber(value) == 0) {
                eraseTotal = true;
                ++stored;
            } else {
                refusals.push_back("parameter \"" + key + "\" can only be erased (= 0)");
            }
            continue;
        }
        if (key == "history_depth_gma" || (key == "history_depth_neu" && isLiveKey(key))) {
            if (ParseWholeNumber(value) == 0) {
                eraseHistory = true;
                ++stored;
            } else {
                refusals.push_back("parameter \"" + key + "\" can only be erased (= 0)");
            }
            continue;
        }
        if (isLiveKey(key)) {
            refusals.push_back("parameter \"" + key + "\" is read-only");
            continue;
        }
        const auto result = store_.set(key, value);
        switch (result.status) {
        case ParameterStore::SetStatus::Stored:
            ++stored;
            if (key == "history_time" && result.changed)
                eraseHistory = true;
            break;
        case ParameterStore::SetStatus::Unknown:
            refusals.push_back("unknown parameter \"" + key + "\"");
            break;
        case ParameterStore::SetStatus::ReadOnly:
            refusals.push_back("parameter \"" + key + "\" is read-only");
            break;
        case ParameterStore::SetStatus::BadValue:
            refusals.push_back("parameter \"" + key + "\": \"" + std::string(value) + "\" is not " +
                               result.reason);
            break;
        }
    }
    if (eraseTotal)
        meter_.eraseTotal();
    if (eraseHistory)
        meter_.eraseHistory(CLongOr60(store_.value("history_time")));

    std::vector<SimReply> replies;
    if (settings > 0 || !refusals.empty()) {
        std::string result;
        if (refusals.empty()) {
            result = "Command accepted: " + std::to_string(stored) + " parameter(s) stored.\r\n";
        } else {
            // Never the word that means success, even in a negation.
            result = "Command refused:\r\n";
            const std::size_t shown = std::min<std::size_t>(refusals.size(), 20);
            for (std::size_t i = 0; i < shown; ++i)
                result += refusals[i] + "\r\n";
            if (refusals.size() > shown)
                result += "and " + std::to_string(refusals.size() - shown) + " more\r\n";
            if (stored > 0)
                result += std::to_string(stored) + " other parameter(s) stored.\r\n";
        }
        replies.push_back({'L', Utf8ToCp1251(result)});
    }
    if (wantParameters)
        replies.push_back({'P', Utf8ToCp1251(parameterReply(unlocked))});
    if (wantArchive)
        replies.push_back({'A', Utf8ToCp1251(archiveReply())});
    return replies;
}

std::string SimDevice::stateText() const {
    const DoseCounters& c = meter_.counters();
    std::string s = std::string(kStateMagic) + "\n";
    s += "model " + std::string(ModelName(model_)) + "\n";
    s += "seed " + std::to_string(meter_.seed()) + "\n";
    s += "clock " + WholeText(c.clock) + "\n";
    s += "total_dose " + Exact(c.totalDose) + "\n";
    s += "total_time " + WholeText(c.totalTime) + "\n";
    s += "peak_rate " + Exact(c.peakRate) + "\n";
    s += "peak_time " + WholeText(c.peakTime) + "\n";
    s += "history_interval " + WholeText(c.historyInterval) + "\n";
    s += "history_start " + WholeText(c.historyStart) + "\n";
    s += "history_intervals " + WholeText(c.historyIntervals) + "\n";
    s += "history_gamma " + Exact(c.historyGamma) + "\n";
    s += "history_neutron " + Exact(c.historyNeutron) + "\n";
    for (const auto& [key, value] : store_.entries())
        s += "param " + key + " " + value + "\n";
    for (const auto& r : c.gamma)
        s += "gamma " + Exact(r.dose) + "\n";
    for (const auto& r : c.neutron)
        s += "neutron " + Exact(r.dose) + " " + Exact(r.coefficient) + " " + WholeText(r.seconds) +
             "\n";
    s += "end\n";
    return s;
}

bool SimDevice::loadState(std::string_view text, std::string* error) {
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        if (error)
            *error = lineNo > 0 ? "line " + std::to_string(lineNo) + ": " + what : what;
        return false;
    };
    DoseCounters c;
    ParameterStore store = store_;
    std::uint64_t seed = meter_.seed();
    std::map<std::string, bool> seen;
    bool ended = false;

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lineNo == 1) {
            if (line != kStateMagic)
                return fail("not a simulated dosimeter state file");
            continue;
        }
        if (ended)
            return fail("text after the end line");
        if (line.empty())
            continue;
        const std::size_t space = line.find(' ');
        const std::string name(line.substr(0, space));
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        auto number = [&](double* out) {
            const auto v = ParseNumberText(rest, NumberForm::Plain);
            if (!v || *v < 0)
                return false;
            *out = *v;
            return true;
        };
        auto whole = [&](long long* out) {
            const auto v = ParseWholeNumber(rest);
            if (!v)
                return false;
            *out = *v;
            return true;
        };
        bool ok = true;
        if (name == "end") {
            ended = true;
        } else if (name == "model") {
            if (rest != ModelName(model_))
                return fail("the state is of a " + std::string(rest) + ", not of a " +
                            std::string(ModelName(model_)));
        } else if (name == "seed") {
            const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), seed);
            ok = !rest.empty() && r.ec == std::errc{} && r.ptr == rest.data() + rest.size();
        } else if (name == "clock") {
            ok = whole(&c.clock);
        } else if (name == "total_dose") {
            ok = number(&c.totalDose);
        } else if (name == "total_time") {
            ok = whole(&c.totalTime);
        } else if (name == "peak_rate") {
            ok = number(&c.peakRate);
        } else if (name == "peak_time") {
            ok = whole(&c.peakTime);
        } else if (name == "history_interval") {
            ok = whole(&c.historyInterval) && c.historyInterval >= 1 && c.historyInterval <= 86400;
        } else if (name == "history_start") {
            ok = whole(&c.historyStart);
        } else if (name == "history_intervals") {
            ok = whole(&c.historyIntervals);
        } else if (name == "history_gamma") {
            ok = number(&c.historyGamma);
        } else if (name == "history_neutron") {
            ok = number(&c.historyNeutron);
        } else if (name == "param") {
            const std::size_t sp = rest.find(' ');
            const std::string key(rest.substr(0, sp));
            const std::string_view value =
                sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
            // A parameter this build does not know (the catalogue changed) is dropped.
            if (store.has(key)) {
                const std::string stored = store.kind(key) == ParamKind::Text
                                               ? "\"" + std::string(value) + "\""
                                               : std::string(value);
                const auto r = store.set(key, stored);
                if (r.status == ParameterStore::SetStatus::BadValue)
                    return fail("parameter " + key + ": \"" + std::string(value) + "\" is not " +
                                r.reason);
            }
            continue;
        } else if (name == "gamma") {
            GammaRecord r;
            ok = number(&r.dose) && c.gamma.size() < DoseMeter::kHistoryCapacity;
            c.gamma.push_back(r);
        } else if (name == "neutron") {
            const std::size_t a = rest.find(' ');
            const std::size_t b = a == std::string_view::npos ? a : rest.find(' ', a + 1);
            if (b == std::string_view::npos || !MeasuresNeutron(model_))
                return fail("bad neutron record");
            const auto dose = ParseNumberText(rest.substr(0, a), NumberForm::Plain);
            const auto coefficient = ParseNumberText(rest.substr(a + 1, b - a - 1), NumberForm::Plain);
            const auto seconds = ParseWholeNumber(rest.substr(b + 1));
            ok = dose && coefficient && seconds && *dose >= 0 &&
                 c.neutron.size() < DoseMeter::kHistoryCapacity;
            if (ok)
                c.neutron.push_back(NeutronRecord{*dose, *coefficient, *seconds});
        } else {
            return fail("unknown entry \"" + name + "\"");
        }
        if (!ok)
            return fail("bad value for " + name + ": \"" + std::string(rest) + "\"");
        seen[name] = true;
    }
    if (lineNo == 0)
        return fail("the file is empty");
    lineNo = 0;
    if (!ended)
        return fail("the file is cut short (no end line)");
    for (const char* required : {"model", "clock", "total_dose", "total_time", "history_interval",
                                 "history_start", "history_intervals"})
        if (!seen.count(required))
            return fail(std::string("missing entry \"") + required + "\"");
    if (c.historyStart > c.clock)
        return fail("history starts after the clock");
    // Each run is a new switch-on.
    c.switchOnClock = c.clock;
    store_ = std::move(store);
    meter_.restore(std::move(c), seed);
    return true;
}

} // namespace dm
