// Placeholder until the simulated dosimeter is built: the subcommand says so plainly.
#include "cli/cli_common.h"
#include "cli/commands.h"

namespace dm::cli {

int RunSimulate(const Args&) { Fail(kExitFailed, "simulate: not available in this build yet"); }

} // namespace dm::cli
