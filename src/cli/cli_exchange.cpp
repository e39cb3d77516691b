// Placeholder until this area is built: the subcommands say so plainly.
#include "cli/cli_common.h"
#include "cli/commands.h"

namespace dm::cli {

int RunReadParams(const Args&) { Fail(kExitFailed, "read-params: not available in this build yet"); }
int RunReadArchive(const Args&) { Fail(kExitFailed, "read-archive: not available in this build yet"); }

} // namespace dm::cli
