#include "params/parameter_set.h"

#include "core/numbers.h"
#include "core/text_lines.h"

namespace dm {
namespace {

void Describe(Parameter& p) {
    const ParameterDescription* d = DescribeParameter(p.key);
    if (!d)
        return; // a key only the catalogue knows: text, read as received
    p.kind = d->kind;
    p.unit = std::string(d->unit);
    p.writable = d->writable;
    p.protectionGroup = d->protectionGroup;
    // A word such as "enable" is matched whole; blanks after it are line noise.
    if (d->isChoice())
        p.raw.erase(p.raw.find_last_not_of(" \t") + 1);
}

} // namespace

ParameterSet::ParameterSet(std::vector<Parameter> parameters, Model model)
    : parameters_(std::move(parameters)), model_(model) {
    for (std::size_t i = 0; i < parameters_.size(); ++i) {
        Describe(parameters_[i]);
        firstOfKey_.emplace(parameters_[i].key, i); // a repeated key keeps its first line
    }
}

const Parameter* ParameterSet::find(std::string_view key) const {
    const auto it = firstOfKey_.find(std::string(key));
    return it == firstOfKey_.end() ? nullptr : &parameters_[it->second];
}

const Parameter* ParameterSet::findForCatalogue(std::string_view key) const {
    if (const Parameter* exact = find(key))
        return exact;
    if (key.empty())
        return nullptr;
    for (const Parameter& p : parameters_)
        if (p.key.find(key) != std::string::npos)
            return &p;
    return nullptr;
}

std::optional<std::string> ParameterSet::raw(std::string_view key) const {
    const Parameter* p = find(key);
    return p ? std::optional<std::string>(p->raw) : std::nullopt;
}

std::optional<std::string> ParameterSet::value(std::string_view key) const {
    const Parameter* p = find(key);
    return p ? std::optional<std::string>(p->value()) : std::nullopt;
}

bool ParameterSet::isModified(std::string_view key) const {
    const Parameter* p = find(key);
    return p && p->modified;
}

std::string ParameterSet::modelName() const {
    if (parameters_.empty())
        return {};
    return std::string(ModelName(model_));
}

std::string ParameterSet::serialNumber() const { return raw("serial_number").value_or(""); }

std::optional<double> ParameterSet::totalDose() const {
    const std::optional<std::string> text = raw("total_val");
    if (!text)
        return std::nullopt;
    return ParseDeviceNumber(*text);
}

Parameter* ParameterSet::findOrAdd(std::string_view key) {
    if (const Parameter* p = find(key))
        return &parameters_[static_cast<std::size_t>(p - parameters_.data())];
    if (!DescribeParameter(key))
        return nullptr;
    Parameter& added = parameters_.emplace_back();
    added.key = std::string(key);
    Describe(added);
    firstOfKey_.emplace(added.key, parameters_.size() - 1);
    return &added;
}

bool ParameterSet::setModified(std::string_view key, bool modified) {
    if (!modified && !find(key))
        return false; // nothing to clear, and nothing to add for it
    Parameter* p = findOrAdd(key);
    if (!p)
        return false;
    p->modified = modified;
    return true;
}

bool ParameterSet::setValue(std::string_view key, const std::string& value) {
    Parameter* p = findOrAdd(key);
    if (!p)
        return false;
    if (p->value() == value)
        return true;
    if (value == p->raw)
        p->edited.reset();
    else
        p->edited = value;
    p->modified = true;
    return true;
}

std::string CleanValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\n' && c != '\r' && c != '"')
            out += c;
    const std::size_t first = out.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first);
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
        const KeyValueLine kv = SplitKeyValueLine(line);
        if (!kv.hasValue || kv.key.empty())
            continue;
        Parameter p;
        p.key = std::string(kv.key);
        p.raw = CleanValue(kv.value);
        parameters.push_back(std::move(p));
    }
    // Only a KRT-17A reports its neutron channel and its switches; a word such as
    // "neutron" inside a value (the owner's text) says nothing about the model.
    Model model = Model::Mlv52b;
    for (const Parameter& p : parameters) {
        const ParameterDescription* d = DescribeParameter(p.key);
        if (d && d->onlyOn)
            model = *d->onlyOn;
    }
    ParameterSet set(std::move(parameters), model);
    set.replied_ = !reply.empty();
    return set;
}

void ParameterSet::discardEdits() {
    for (Parameter& p : parameters_) {
        p.edited.reset();
        p.modified = false;
    }
}

} // namespace dm
