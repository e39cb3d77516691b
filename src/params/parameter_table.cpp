#include "params/parameter_table.h"

#include "core/numbers.h"
#include "params/catalogue.h"

namespace dm {
namespace {

bool IsShown(const Parameter& p) {
    const ParameterDescription* d = p.description();
    return (d && d->isMeasurement()) || !p.raw.empty();
}

bool IsLocked(std::string_view key, int access) {
    const ParameterDescription* d = DescribeParameter(key);
    return d && d->protectionGroup != kUnprotected && (access & d->protectionGroup) == 0;
}

std::optional<double> ShownInteger(const ParameterSet& set, const std::vector<ParameterRow>& rows,
                                   std::string_view key) {
    for (const ParameterRow& row : rows)
        if (row.type == ParameterRowType::Catalogue && row.key == key)
            if (const Parameter* p = set.find(row.valueKey))
                return static_cast<double>(LeadingInteger(p->raw));
    return std::nullopt;
}

} // namespace

std::vector<ParameterRow> ParameterRows(const ParameterSet& set, std::string_view catalogue,
                                        Language language, int access) {
    std::vector<ParameterRow> rows;
    if (!set.replied())
        return rows;
    for (const CatalogueLine& line : CatalogueLines(catalogue, set.model(), language)) {
        const Parameter* p = set.findForCatalogue(line.key);
        // A protected value stays hidden under any catalogue key that reaches it.
        if (!p || !IsShown(*p) || IsLocked(line.key, access) || IsLocked(p->key, access))
            continue;
        const ParameterDescription* d = p->description();
        ParameterRow row;
        row.key = line.key;
        row.valueKey = p->key;
        row.name = line.name;
        // The catalogue may offer a value for editing that the dosimeter does not take.
        row.editable = line.editable && (!d || d->writable);
        row.colour = line.colour;
        rows.push_back(std::move(row));
    }
    if (set.model() == Model::Krt17a) {
        for (const ParameterDescription* d : SwitchParameters()) {
            ParameterRow row;
            row.type = ParameterRowType::Switch;
            row.key = std::string(d->key);
            row.valueKey = row.key;
            row.editable = true;
            rows.push_back(std::move(row));
        }
        rows.push_back({ParameterRowType::Signal, {}, {}, {}, true, std::nullopt});
    } else {
        rows.push_back({ParameterRowType::Limit, {}, {}, {}, true, std::nullopt});
    }
    return rows;
}

bool RowIsModified(const ParameterSet& set, const ParameterRow& row) {
    const Parameter* p = set.find(row.valueKey);
    if (!p)
        return false;
    if (row.type == ParameterRowType::Switch) {
        const ParameterDescription* d = p->description();
        return p->modified || (d && d->hasChoice(p->raw));
    }
    return p->modified;
}

std::string_view SignalLimitKey(const ParameterSet& set) {
    if (set.model() != Model::Krt17a)
        return kFixedLimitKey;
    const std::optional<std::string> type = set.value(kSignalTypeKey);
    if (type == "fixed")
        return kFixedLimitKey;
    if (type == "percent")
        return kPercentLimitKey;
    return {};
}

bool ChooseSignalType(ParameterSet& set, std::string_view word, const std::string& shownLimit) {
    const ParameterDescription* d = DescribeParameter(kSignalTypeKey);
    if (!set.replied() || set.model() != Model::Krt17a || !d->hasChoice(word))
        return false;
    set.setValue(kSignalTypeKey, std::string(word));
    set.setValue(SignalLimitKey(set), shownLimit);
    return true;
}

bool SetSignalLimit(ParameterSet& set, const std::string& text) {
    if (!set.replied())
        return false;
    const std::string_view key = SignalLimitKey(set);
    if (!key.empty())
        set.setValue(key, text);
    return true;
}

std::optional<double> ShownHistoryInterval(const ParameterSet& set,
                                           const std::vector<ParameterRow>& rows) {
    return ShownInteger(set, rows, kHistoryIntervalKey);
}

std::optional<double> ShownHistoryDepth(const ParameterSet& set,
                                        const std::vector<ParameterRow>& rows) {
    return ShownInteger(set, rows, kGammaDepthKey);
}

} // namespace dm
