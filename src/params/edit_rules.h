#pragma once
// What happens when the user edits a parameter. Nothing is sent while editing: the set only
// remembers the touched parameters through their modified flags.
#include "core/message_sink.h"
#include "params/parameter_set.h"

#include <string>
#include <string_view>

namespace dm {

// The start of an edit of key's value, before its editor opens: the parameter counts as
// touched. For a parameter whose change erases the dose history the user is first warned;
// on No nothing changes and the result is false: the editor must close again (or not open)
// with the old value. A change made earlier survives a later edit that is refused or left
// unchanged.
bool BeginEdit(ParameterSet& set, std::string_view key, int langBase, UserDialogs& dialogs);

// The end of an edit with the editor's value (the dosimeter's word for a choice): stored,
// and so marked modified, only when it differs from the current value. A Switch or Signal
// parameter takes only one of its words; false when the value is refused.
bool EndEdit(ParameterSet& set, std::string_view key, const std::string& value);

} // namespace dm
