#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_doctor(CommandContext const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
