#include "commands/commands.h"

#include "output.h"
#include "store/chain_file.h"
#include "store/key_file.h"

#include "quenmark/text.h"

#include <string>

namespace corvellactl {

CommandResult<void> run_audit_verify(CommandContext const& context)
{
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    auto const count = TRY(verify_chain_file(context.audit_path, key.verifying_key()));
    return print(concat("audit chain verifies: ", count, " event(s), all links and signatures intact\n"));
}

} // namespace corvellactl
