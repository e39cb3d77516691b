#pragma once
// The parameters of one parameter reply: each "key = value" line's key, its raw value text
// as received (UTF-8, cleaned of line ends, quotes and leading blanks) and what the
// description table says the parameter is, plus the user's edits. This is the data; the
// parameter table, the records store and the CLI are views over it. Nothing here is
// translated: values are the dosimeter's own words and numbers.
#include "params/parameter_description.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dm {

struct Parameter {
    std::string key;
    std::string raw;                   // the value text as received
    ParameterKind kind = ParameterKind::Text;
    std::string unit;
    bool writable = false;
    int protectionGroup = kUnprotected;
    bool modified = false;             // touched by the user since the reply came
    std::optional<std::string> edited; // the user's value, when it differs from raw

    const std::string& value() const { return edited ? *edited : raw; }
    const ParameterDescription* description() const { return DescribeParameter(key); }
};

class ParameterSet {
public:
    ParameterSet() = default;
    // model: the model the reply came from.
    // Kind, unit, writable and protection group are taken from the description table.
    ParameterSet(std::vector<Parameter> parameters, Model model);

    const std::vector<Parameter>& parameters() const { return parameters_; }
    bool empty() const { return parameters_.empty(); }
    // Whether a reply came at all: a reply without a single parameter line still gets its
    // table (the model's last rows, empty), as the window has always shown it.
    bool replied() const { return replied_ || !parameters_.empty(); }

    // The first parameter with exactly this key; nothing when absent.
    const Parameter* find(std::string_view key) const;
    // What a catalogue row of this key shows: the parameter with exactly this key, else the
    // first one (in reply order) whose key holds it inside a longer key (a catalogue row
    // "battery" shows "battery_level"); nothing when neither is there.
    const Parameter* findForCatalogue(std::string_view key) const;
    // Its raw value; nothing when absent.
    std::optional<std::string> raw(std::string_view key) const;
    // Its current value (the user's, else the raw one); nothing when absent.
    std::optional<std::string> value(std::string_view key) const;
    bool isModified(std::string_view key) const;

    Model model() const { return model_; }
    // "KRT-17A" or "MLV-52B"; empty for an empty set.
    std::string modelName() const;
    // "serial_number", empty when absent.
    std::string serialNumber() const;
    // "total_val" read as the dosimeter writes numbers (Sv); nothing when absent.
    std::optional<double> totalDose() const;

    // Edits. A key the reply did not carry may still be edited when the description table
    // knows it (a switch the table shows empty): it is added with an empty raw value.
    // Unknown keys are refused (false).
    bool setModified(std::string_view key, bool modified);
    // Stores the value and marks the parameter modified; an equal value changes nothing.
    bool setValue(std::string_view key, const std::string& value);
    // Drops every edit: the values are the dosimeter's again.
    void discardEdits();

private:
    Parameter* findOrAdd(std::string_view key);

    std::vector<Parameter> parameters_;
    std::unordered_map<std::string, std::size_t> firstOfKey_; // index into parameters_
    Model model_ = Model::Mlv52b;
    bool replied_ = false;

    friend ParameterSet ReadParameterSet(std::string_view reply);
};

// Removes every LF, CR and double quote, then the leading blanks (trailing ones stay).
std::string CleanValue(std::string_view text);

// Every line of the reply (UTF-8) that holds a "=" becomes one parameter: the key is the
// text before the first "=" without surrounding blanks, the raw value the text after it,
// cleaned. Lines without a key are skipped; order is kept; the last line counts whether or
// not it ends in a line end.
// The reply is a KRT-17A's when it carries a parameter only that model has (its neutron
// dose, neutron history depth, neutron sensitivity or a switch).
ParameterSet ReadParameterSet(std::string_view reply);

} // namespace dm
