#pragma once
// What happens when the user edits a parameter. Nothing is sent while editing: the set only
// remembers the touched parameters through their modified flags. Nothing is asked or
// translated here: the caller asks the user when told to.
#include "params/parameter_set.h"

#include <string>
#include <string_view>

namespace dm {

enum class EditStart {
    Go,                 // the parameter counts as touched; the editor may open
    ConfirmHistoryErase // a change erases the dose history: ask first, and on No
                        // let no editor open; nothing is touched either way
};

// The start of an edit of key's value, before its editor opens. A change made earlier
// survives a later edit that is refused or left unchanged.
EditStart BeginEdit(ParameterSet& set, std::string_view key);

// The end of an edit with the editor's value (the dosimeter's word for a choice): stored,
// and so marked modified, only when it differs from the current value. A Switch or Signal
// parameter takes only one of its words; false when the value is refused.
bool EndEdit(ParameterSet& set, std::string_view key, const std::string& value);

} // namespace dm
