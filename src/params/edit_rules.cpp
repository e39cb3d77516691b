#include "params/edit_rules.h"

#include "core/string_table.h"

namespace dm {

bool BeginEdit(ParameterSet& set, std::string_view key, int langBase, UserDialogs& dialogs) {
    const ParameterDescription* d = DescribeParameter(key);
    if (!d || !d->erasesHistory) {
        set.setModified(key, true);
        return true;
    }
    // Only an actual change counts here, since a change costs the dose history.
    return dialogs.askYesNo(Tr(IDS_WARN_HISTORY_TIME, langBase));
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
