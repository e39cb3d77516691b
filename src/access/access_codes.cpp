#include "access/access_codes.h"

#include "core/string_table.h"
#include "params/parameter_description.h"

namespace dm {
namespace {

struct ProtectedGroup {
    const char* code;
    int bit;
    int unlockMessage;
    int lockMessage;
};

constexpr ProtectedGroup kGroups[] = {
    {"20947", kSensitivityGroup, IDS_UNLOCK_1, IDS_LOCK_1},
    {"64213", kGammaCorrectionGroup, IDS_UNLOCK_2, IDS_LOCK_2},
    {"71590", kXRayGroup, IDS_UNLOCK_3, IDS_LOCK_3},
};

} // namespace

std::optional<PasswordOutcome> ApplyPassword(const std::string& entered, int access, Language language) {
    if (entered.empty())
        return std::nullopt;
    for (const ProtectedGroup& group : kGroups) {
        if (entered != group.code)
            continue;
        const bool wasUnlocked = (access & group.bit) != 0;
        PasswordOutcome outcome;
        outcome.access = access ^ group.bit;
        outcome.message = Tr(wasUnlocked ? group.lockMessage : group.unlockMessage, language);
        outcome.requestParameters = true;
        return outcome;
    }
    PasswordOutcome outcome;
    outcome.access = access;
    outcome.message = Tr(IDS_WRONG_PASSWORD, language);
    return outcome;
}

} // namespace dm
