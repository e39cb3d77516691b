#include "params/parameter_description.h"

#include <unordered_map>

namespace dm {
namespace {

using K = ParameterKind;

constexpr std::string_view kOnOff[2] = {"enable", "disable"};

constexpr std::optional<Model> kBothModels{};
constexpr std::optional<Model> kKrt17a{Model::Krt17a};

// What the dosimeter stores: doses below 100 Sv, coefficients above 0 and below 1000 kept
// to four decimals, a record interval of a second to a day, a whole percentage to 1000.
constexpr ValueRange kDoseRange{0, 100, true, false};
constexpr ValueRange kCoefficientRange{0.0001, 1000, true, false};
constexpr ValueRange kSecondsRange{1, 86400, true, true, true};
constexpr ValueRange kPercentRange{0, 1000, true, true, true};

// clang-format off
constexpr ParameterDescription kDescriptions[] = {
    // key                   kind          unit    writable protection          carried by
    {"serial_number",        K::Text,      "",     false, kUnprotected,         kBothModels},
    {"firmware_version",     K::Text,      "",     false, kUnprotected,         kBothModels},
    {"battery_level",        K::Number,    "%",    false, kUnprotected,         kBothModels},
    {"dose_val",             K::Dose,      "Sv",   false, kUnprotected,         kBothModels},
    {"dose_neutron",         K::Dose,      "Sv",   false, kUnprotected,         kKrt17a},
    {"dose_time",            K::Duration,  "s",    false, kUnprotected,         kBothModels},
    {"total_val",            K::Dose,      "Sv",   false, kUnprotected,         kBothModels},
    {"total_time",           K::Duration,  "s",    false, kUnprotected,         kBothModels},
    {"peak_rate",            K::DoseRate,  "Sv/h", false, kUnprotected,         kBothModels},
    {"peak_time",            K::Duration,  "s",    false, kUnprotected,         kBothModels},
    {"rate_threshold",       K::DoseRate,  "Sv/h", true,  kUnprotected,         kBothModels, {}, false, kDoseRange},
    {"dose_threshold",       K::Dose,      "Sv",   true,  kUnprotected,         kBothModels, {}, false, kDoseRange},
    {"history_time",         K::Duration,  "s",    true,  kUnprotected,         kBothModels, {}, true, kSecondsRange},
    {"history_depth_gma",    K::Number,    "",     false, kUnprotected,         kBothModels},
    {"history_depth_neu",    K::Number,    "",     false, kUnprotected,         kKrt17a},
    {"userinfo",             K::Text,      "",     true,  kUnprotected,         kBothModels},
    {"g_ks_large",           K::Number,    "",     true,  kSensitivityGroup,    kBothModels, {}, false, kCoefficientRange},
    {"g_ks_small",           K::Number,    "",     true,  kSensitivityGroup,    kBothModels, {}, false, kCoefficientRange},
    {"n_ks",                 K::Number,    "",     true,  kSensitivityGroup,    kKrt17a, {}, false, kCoefficientRange},
    {"csWeigth",             K::Number,    "",     true,  kGammaCorrectionGroup, kBothModels, {}, false, kCoefficientRange},
    {"wtx[01]",              K::Number,    "",     true,  kXRayGroup,           kBothModels, {}, false, kCoefficientRange},
    {"wtx[10]",              K::Number,    "",     true,  kXRayGroup,           kBothModels, {}, false, kCoefficientRange},
    {"cfg_final_sound",      K::Switch,    "",     true,  kUnprotected,         kKrt17a, {kOnOff[0], kOnOff[1]}},
    {"cfg_alarmoff",         K::Switch,    "",     true,  kUnprotected,         kKrt17a, {kOnOff[0], kOnOff[1]}},
    {"cfg_incharger_sound",  K::Switch,    "",     true,  kUnprotected,         kKrt17a, {kOnOff[0], kOnOff[1]}},
    {"cfg_select_sound",     K::Signal,    "",     true,  kUnprotected,         kKrt17a, {"dose", "rate"}},
    {"cfg_type_of_signal",   K::Signal,    "",     true,  kUnprotected,         kBothModels, {"fixed", "percent"}},
    {"limit_fixed",          K::Dose,      "Sv",   true,  kUnprotected,         kBothModels, {}, false, kDoseRange},
    {"limit_percent",        K::Number,    "%",    true,  kUnprotected,         kBothModels, {}, false, kPercentRange},
};
// clang-format on

} // namespace

std::span<const ParameterDescription> ParameterDescriptions() { return kDescriptions; }

const ParameterDescription* DescribeParameter(std::string_view key) {
    static const std::unordered_map<std::string_view, const ParameterDescription*> byKey = [] {
        std::unordered_map<std::string_view, const ParameterDescription*> map;
        for (const ParameterDescription& d : kDescriptions)
            map.emplace(d.key, &d);
        return map;
    }();
    const auto it = byKey.find(key);
    return it == byKey.end() ? nullptr : it->second;
}

std::vector<const ParameterDescription*> SwitchParameters() {
    std::vector<const ParameterDescription*> out;
    for (const ParameterDescription& d : kDescriptions)
        if (d.kind == ParameterKind::Switch)
            out.push_back(&d);
    return out;
}

} // namespace dm
