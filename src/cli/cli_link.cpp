// Placeholder until this area is built: the subcommands say so plainly.
#include "cli/cli_common.h"
#include "cli/commands.h"

namespace dm::cli {

int RunPush(const Args&) { Fail(kExitFailed, "push: not available in this build yet"); }

} // namespace dm::cli
