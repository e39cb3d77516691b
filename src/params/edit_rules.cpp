#include "params/edit_rules.h"

namespace dm {

EditStart BeginEdit(ParameterSet& set, std::string_view key) {
    const ParameterDescription* d = DescribeParameter(key);
    if (d && d->erasesHistory)
        return EditStart::ConfirmHistoryErase; // only an actual change may count here
    set.setModified(key, true);
    return EditStart::Go;
}

bool EndEdit(ParameterSet& set, std::string_view key, const std::string& value) {
    const std::optional<std::string> current = set.value(key);
    if (current == value)
        return true;
    const ParameterDescription* d = DescribeParameter(key);
    if (d && d->isChoice() && !d->hasChoice(value))
        return false;
    return set.setValue(key, value);
}

} // namespace dm
