#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_audit_verify(CommandContext const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
