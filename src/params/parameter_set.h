#pragma once
// The parameters of one parameter reply, as received: each "key = value" line's key and its
// raw value text (UTF-8, cleaned of line ends, quotes and leading blanks). This is the data;
// the parameter table, the records store and the CLI are views over it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct Parameter {
    std::string key;
    std::string raw; // the value text as received
};

class ParameterSet {
public:
    ParameterSet() = default;
    // neutron: the reply came from a KRT-17A (the window's rule: "neutr" anywhere in it).
    ParameterSet(std::vector<Parameter> parameters, bool neutron);

    const std::vector<Parameter>& parameters() const { return parameters_; }
    bool empty() const { return parameters_.empty(); }

    // The raw value of the first line with exactly this key; nothing when absent.
    std::optional<std::string> raw(std::string_view key) const;

    bool neutron() const { return neutron_; }
    // "KRT-17A" or "MLV-52B"; empty for an empty set.
    std::string model() const;
    // "serial_number", empty when absent.
    std::string serialNumber() const;
    // "total_val" read as the dosimeter writes numbers (Sv); nothing when absent.
    std::optional<double> totalDose() const;

private:
    std::vector<Parameter> parameters_;
    bool neutron_ = false;
};

// Every line of the reply (UTF-8) that holds a "=" becomes one parameter: the key is the
// text before the first "=" without surrounding blanks, the raw value the text after it,
// cleaned as the table cleans values. Lines without a key are skipped; order is kept.
ParameterSet ReadParameterSet(std::string_view reply);

} // namespace dm
