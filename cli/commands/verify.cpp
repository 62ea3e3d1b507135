#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_verify(CommandContext const&, VerifyArgs const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
