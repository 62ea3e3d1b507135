#include "commands/commands.h"

#include "output.h"
#include "store/key_file.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <string>

namespace corvellactl {

CommandResult<void> run_key_public(CommandContext const& context)
{
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    quenmark::VerifyingKey const verifying_key = key.verifying_key();
    std::string hex;
    quenmark::append_hex(hex, verifying_key.bytes);
    return print(concat(hex, '\n', quenmark::multikey(verifying_key), '\n', quenmark::did_key(verifying_key), '\n'));
}

} // namespace corvellactl
