#pragma once
// The dosimeter's settable and fixed parameters: their current values, and the checks a new
// value must pass before it is stored. What each parameter is (kind, writable, protected,
// which models) comes from the shared description table; only the values and the ranges
// are the simulated dosimeter's own.
#include "params/parameter_description.h"
#include "core/model.h"

#include <string>
#include <string_view>
#include <vector>

namespace dm {

// The check a value must pass, derived from the parameter's description.
enum class ParamKind {
    Fixed,       // read-only (serial number, firmware, battery)
    Dose,        // a dose or dose rate, kept in the device's number format
    Coefficient, // a factory coefficient, positive decimal
    Seconds,     // whole seconds, 1 to one day
    Percent,     // whole percent, 0 to 1000
    Choice,      // one of the description's two words
    Text,        // free text written in double quotes
    Free,        // a key only the catalogue knows: any text
};

class ParameterStore {
public:
    explicit ParameterStore(Model model);

    enum class SetStatus { Stored, Unknown, ReadOnly, BadValue };
    struct SetResult {
        SetStatus status = SetStatus::Unknown;
        bool changed = false;
        std::string reason; // for BadValue: what a value must look like
    };

    // Checks and stores a value as it came in a command file ("1.5E-05", "\"text\"").
    SetResult set(std::string_view key, std::string_view valueText);

    // A key the catalogue lists but the model does not know by itself: it holds free text.
    void addFreeKey(const std::string& key);

    bool has(std::string_view key) const;
    bool isProtected(std::string_view key) const;
    ParamKind kind(std::string_view key) const;
    // The stored value (text kind without its quotes).
    std::string value(std::string_view key) const;
    // Keys in the order the dosimeter lists them.
    std::vector<std::string> keys() const;

    // Values as a state file keeps them; set() applies to them as well.
    std::vector<std::pair<std::string, std::string>> entries() const;

    static constexpr std::size_t kMaxTextLength = kMaxOwnerTextLength;

private:
    struct Entry {
        std::string key;
        ParamKind kind;
        const ParameterDescription* description; // none for a free key
        std::string value;
    };
    Entry* find(std::string_view key);
    const Entry* find(std::string_view key) const;

    std::vector<Entry> entries_;
};

} // namespace dm
