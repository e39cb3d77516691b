#include "params/parameter_set.h"

#include "core/numbers.h"
#include "params/parameter_table.h"

namespace dm {

ParameterSet::ParameterSet(std::vector<Parameter> parameters, bool neutron)
    : parameters_(std::move(parameters)), neutron_(neutron) {}

std::optional<std::string> ParameterSet::raw(std::string_view key) const {
    for (const Parameter& p : parameters_)
        if (p.key == key)
            return p.raw;
    return std::nullopt;
}

std::string ParameterSet::model() const {
    if (parameters_.empty())
        return {};
    return neutron_ ? "KRT-17A" : "MLV-52B";
}

std::string ParameterSet::serialNumber() const { return raw("serial_number").value_or(""); }

std::optional<double> ParameterSet::totalDose() const {
    const std::optional<std::string> text = raw("total_val");
    if (!text)
        return std::nullopt;
    return ParseDeviceNumber(*text);
}

ParameterSet ReadParameterSet(std::string_view reply) {
    std::vector<Parameter> parameters;
    std::size_t pos = 0;
    while (pos < reply.size()) {
        std::size_t end = reply.find('\n', pos);
        if (end == std::string_view::npos)
            end = reply.size();
        const std::string_view line = reply.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, eq);
        const std::size_t first = key.find_first_not_of(" \t\r");
        if (first == std::string_view::npos)
            continue;
        key = key.substr(first, key.find_last_not_of(" \t\r") - first + 1);
        parameters.push_back({std::string(key), CleanValue(line.substr(eq + 1))});
    }
    return ParameterSet(std::move(parameters), reply.find("neutr") != std::string_view::npos);
}

} // namespace dm
