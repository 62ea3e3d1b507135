#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_report_readiness(CommandContext const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
