// Placeholder until this area is built: the subcommands say so plainly.
#include "cli/cli_common.h"
#include "cli/commands.h"

namespace dm::cli {

int RunParams(const Args&) { Fail(kExitFailed, "params: not available in this build yet"); }
int RunCompose(const Args&) { Fail(kExitFailed, "compose: not available in this build yet"); }

} // namespace dm::cli
