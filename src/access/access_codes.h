#pragma once
// The access codes of the three protected parameter groups. Entering a group's code
// switches the group between locked and unlocked; the mask keeps one bit per group.
#include "core/language.h"

#include <optional>
#include <string>

namespace dm {

struct PasswordOutcome {
    int access = 0;                 // the mask after the entry
    std::string message;            // what the user is told (an OK box)
    bool requestParameters = false; // ask the dosimeter for its parameters again
};

// The entry compared exactly (no trimming). Nothing for an empty entry: nothing happens.
// A group's code flips its bit and tells whether the group is now accessible or no
// longer available; any other text is "Wrong password." and leaves the mask alone.
std::optional<PasswordOutcome> ApplyPassword(const std::string& entered, int access, Language language);

} // namespace dm
