#include "commands/commands.h"

namespace corvellactl {

CommandResult<void> run_certify(CommandContext const&, CertifyArgs const&)
{
    return quenmark::unexpected(not_implemented());
}

} // namespace corvellactl
