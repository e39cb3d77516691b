// Placeholder until this area is built: the subcommands say so plainly.
#include "cli/cli_common.h"
#include "cli/commands.h"

namespace dm::cli {

int RunChart(const Args&) { Fail(kExitFailed, "chart: not available in this build yet"); }

} // namespace dm::cli
