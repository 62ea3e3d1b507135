#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_assign(CommandContext const&, AssignArgs const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
