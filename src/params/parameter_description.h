#pragma once
// What each parameter of the dosimeter is: one table that the reply parse, the edit rules,
// the command composer, the access codes and the simulated dosimeter all read, so that no
// part of the program has to guess a parameter's nature from its name.
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/model.h"

namespace dm {

enum class ParameterKind {
    Dose,     // Sv, in the dosimeter's number format
    DoseRate, // Sv/h
    Duration, // whole seconds
    Number,   // any other number (a count, a percentage, a coefficient)
    Switch,   // "enable" or "disable"
    Text,     // free text, written in double quotes
    Signal,   // one word out of a short list ("fixed" / "percent", "dose" / "rate")
};

// Bits of the protected-parameter mask; a parameter belongs to at most one group.
enum ProtectionGroup : int {
    kUnprotected = 0,
    kSensitivityGroup = 1,     // detector sensitivities
    kGammaCorrectionGroup = 2, // gamma correction coefficient
    kXRayGroup = 4,            // sensitivity to soft and hard X-ray
};

// The values the dosimeter takes for a number; low == high: no known range.
struct ValueRange {
    double low = 0;
    double high = 0;
    bool lowIncluded = true;
    bool highIncluded = true;
    bool whole = false; // whole numbers only, without sign or point

    bool known() const { return low < high; }
    bool contains(double v) const {
        return (lowIncluded ? v >= low : v > low) && (highIncluded ? v <= high : v < high);
    }
};

// The longest owner text the dosimeter stores, in characters.
inline constexpr std::size_t kMaxOwnerTextLength = 100;

struct ParameterDescription {
    std::string_view key;
    ParameterKind kind;
    std::string_view unit;   // "Sv", "Sv/h", "s", "%" or empty
    bool writable;           // the dosimeter takes a new value
    int protectionGroup;     // ProtectionGroup bit, 0 when not protected
    std::optional<Model> onlyOn; // the one model that carries it; nothing: both do
    std::string_view choices[2] = {}; // the words a Switch or Signal parameter takes
    bool erasesHistory = false;       // a new value makes the dosimeter drop its dose history
    ValueRange range = {};            // what the dosimeter takes for a number

    bool isChoice() const { return !choices[0].empty(); }
    bool hasChoice(std::string_view word) const {
        return isChoice() && (word == choices[0] || word == choices[1]);
    }
    // A reading the dosimeter takes itself (a dose, a time): shown formatted, never sent.
    bool isMeasurement() const {
        return !writable && (kind == ParameterKind::Dose || kind == ParameterKind::DoseRate ||
                             kind == ParameterKind::Duration);
    }
    bool carriedBy(Model model) const { return !onlyOn || *onlyOn == model; }
};

// Every parameter the program knows, in the order the dosimeter lists them.
std::span<const ParameterDescription> ParameterDescriptions();

// The description of exactly this key; nothing for a key the program does not know
// (the catalogue may still show it, as text).
const ParameterDescription* DescribeParameter(std::string_view key);

// The parameters that the table shows as on/off switch rows of a KRT-17A, in table order.
std::vector<const ParameterDescription*> SwitchParameters();

// Keys the signal row and the limit row are made of.
inline constexpr std::string_view kSignalTypeKey = "cfg_type_of_signal";
inline constexpr std::string_view kSignalSoundKey = "cfg_select_sound";
inline constexpr std::string_view kFixedLimitKey = "limit_fixed";
inline constexpr std::string_view kPercentLimitKey = "limit_percent";
inline constexpr std::string_view kHistoryIntervalKey = "history_time";
inline constexpr std::string_view kGammaDepthKey = "history_depth_gma";
inline constexpr std::string_view kNeutronDepthKey = "history_depth_neu";

} // namespace dm
