#include "commands/commands.h"

#include "output.h"
#include "store/chain_file.h"
#include "store/files.h"
#include "store/key_file.h"

#include "quenmark/integrity/checkpoint.h"
#include "quenmark/text/text.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvellactl {
namespace {

// The tool's name for its audit log: each signing key's checkpoints have the
// origin this prefix and the key give.
constexpr std::string_view origin_prefix = "corvellactl-audit/";

std::string verified_line(std::uint64_t count)
{
    return concat("audit chain verifies: ", count, " event(s), all links and signatures intact\n");
}

} // namespace

CommandResult<void> run_audit_verify(CommandContext const& context, AuditVerifyArgs const& args)
{
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    if (!args.checkpoint) {
        auto const count = TRY(verify_chain_file(context.audit_path, key.verifying_key()));
        return print(verified_line(count));
    }

    // The note is read before the chain so that a path given wrongly fails
    // at once; the chain's own integrity is then checked before the note's.
    auto const note = TRY(read_text(*args.checkpoint));
    // Only the chain's entry at the note's size is needed; the size is known
    // from the note's text before its signature is checked.
    auto const claimed = quenmark::open_checkpoint(note, origin_prefix, key.verifying_key());
    std::optional<std::size_t> marked_position;
    if (claimed && claimed->size > 0)
        marked_position = static_cast<std::size_t>(claimed->size - 1);
    auto const chain = TRY(verify_chain_file_marking(context.audit_path, key.verifying_key(), marked_position));
    if (!claimed)
        return quenmark::unexpected(CommandError::message("checkpoint verification failed: " + claimed.error().text()));
    auto const held = quenmark::check_checkpoint(chain.entries, chain.marked, *claimed);
    if (!held)
        return quenmark::unexpected(CommandError::message("checkpoint verification failed: " + held.error().text()));
    return print(concat(verified_line(chain.entries), "checkpoint verifies: the chain still holds its ", claimed->size,
                        " event(s) of ", claimed->origin, '\n'));
}

CommandResult<void> run_audit_checkpoint(CommandContext const& context, AuditCheckpointArgs const& args)
{
    if (args.output)
        TRY(refuse_data_file_as_output(context, *args.output));
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    // Only a chain that verifies is vouched for.
    auto const chain = TRY(verify_chain_file_marking(context.audit_path, key.verifying_key()));
    auto const checkpoint = quenmark::checkpoint_at(origin_prefix, chain.entries, chain.last, key.verifying_key());
    std::string const note = quenmark::sign_checkpoint(checkpoint, key);
    if (!args.output)
        return print(note);
    TRY(replace_file(*args.output, note));
    return print(concat("wrote checkpoint to ", *args.output, " \u2014 ", checkpoint.size, " event(s) of ",
                        checkpoint.origin, '\n'));
}

} // namespace corvellactl
