#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_attempt(CommandContext const&, AttemptArgs const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
