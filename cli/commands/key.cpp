#include "command.h"
#include "output.h"
#include "store/key_file.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <memory>
#include <string>

namespace corvellactl {
namespace {

CommandResult<void> run_key_public(CommandContext const& context)
{
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    quenmark::VerifyingKey const verifying_key = key.verifying_key();
    std::string hex;
    quenmark::append_hex(hex, verifying_key.bytes);
    std::string const multikey = quenmark::multikey(verifying_key);
    std::string const did_key = quenmark::did_key(verifying_key);
    Results results(context.format);
    results.add(concat(hex, '\n', multikey, '\n', did_key, '\n'), "verifying_key", [&](JsonObject& object) {
        object.text("hex", hex).text("multibase", multikey).text("did_key", did_key);
    });
    return print(results);
}

} // namespace

std::unique_ptr<Command> make_key_public() { return std::make_unique<PlainCommand<run_key_public>>(); }

} // namespace corvellactl
