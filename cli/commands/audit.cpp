#include "command.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/key_file.h"

#include "quenmark/integrity/checkpoint.h"
#include "quenmark/text/text.h"

#include <memory>
#include <cstddef>
#include <optional>
#include <string>

namespace corvellactl {
namespace {

// The tool's name for its audit log: each signing key's checkpoints have the
// origin this prefix and the key give.
constexpr std::string_view origin_prefix = "corvellactl-audit/";

// A checkpoint is a signed note of a few lines.
constexpr SizeCap checkpoint_cap { std::size_t { 64 } << 10U, "a checkpoint" };

void add_verified(Results& results, std::uint64_t count)
{
    results.add(concat("audit chain verifies: ", count, " event(s), all links and signatures intact\n"), "audit_chain",
                [count](JsonObject& object) { object.number("events", count).boolean("valid", true); });
}

class AuditVerify final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--checkpoint", m_checkpoint,
                         { .value_name = "FILE",
                           .help = "Also prove that the chain still holds a checkpoint written by `audit checkpoint`" });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    // A note written by `audit checkpoint` that the chain must still hold.
    std::optional<std::string> m_checkpoint;
};

class AuditCheckpoint final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--output", m_output,
                         { .value_name = "FILE",
                           .help = "Write the checkpoint to FILE (replaced atomically) instead of standard output; "
                                   "- is standard output" });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    // Where the signed note goes; standard output when absent.
    std::optional<std::string> m_output;
};

CommandResult<void> AuditVerify::run(CommandContext const& context)
{
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    Results results(context.format);
    if (!m_checkpoint) {
        auto const count = TRY(verify_chain_with_progress(context.audit_path, key.verifying_key())).entries;
        add_verified(results, count);
        return print(results);
    }

    // The note is read before the chain so that a path given wrongly fails
    // at once; the chain's own integrity is then checked before the note's.
    auto const note = TRY(read_text(*m_checkpoint, checkpoint_cap));
    // Only the chain's entry at the note's size is needed; the size is known
    // from the note's text before its signature is checked.
    auto const claimed = quenmark::open_checkpoint(note, origin_prefix, key.verifying_key());
    std::optional<std::size_t> marked_position;
    if (claimed && claimed->size > 0)
        marked_position = static_cast<std::size_t>(claimed->size - 1);
    auto const chain = TRY(verify_chain_with_progress(context.audit_path, key.verifying_key(), marked_position));
    if (!claimed)
        return quenmark::unexpected(CommandError::message("checkpoint verification failed: " + claimed.error().text()));
    auto const held = quenmark::check_checkpoint(chain.entries, chain.marked, *claimed);
    if (!held)
        return quenmark::unexpected(CommandError::message("checkpoint verification failed: " + held.error().text()));
    add_verified(results, chain.entries);
    results.add(concat("checkpoint verifies: the chain still holds its ", claimed->size, " event(s) of ",
                       claimed->origin, '\n'),
                "checkpoint_check", [&](JsonObject& object) {
                    object.text("origin", claimed->origin).number("size", claimed->size).boolean("holds", true);
                });
    return print(results);
}

CommandResult<void> AuditCheckpoint::run(CommandContext const& context)
{
    auto const output = TRY(output_file(context, m_output));
    auto const key = TRY(load_or_create_key_locking(context.key_path));
    // Only a chain that verifies is vouched for.
    auto const chain = TRY(verify_chain_with_progress(context.audit_path, key.verifying_key()));
    auto const checkpoint = quenmark::checkpoint_at(origin_prefix, chain.entries, chain.last, key.verifying_key());
    std::string const note = quenmark::sign_checkpoint(checkpoint, key);
    Results results(context.format);
    auto const described = [&](JsonObject& object) {
        object.text("origin", checkpoint.origin).number("size", checkpoint.size);
        if (output)
            object.text("path", *output);
        else
            object.text("note", note);
    };
    if (!output) {
        results.add(note, "checkpoint", described);
        return print(results);
    }
    TRY(write_output(*output, note));
    results.add(concat("wrote checkpoint to ", *output, " \u2014 ", checkpoint.size, " event(s) of ",
                       checkpoint.origin, '\n'),
                "checkpoint_file", described);
    return print_after_commit(results, *output + " was written");
}

} // namespace

std::unique_ptr<Command> make_audit_verify() { return std::make_unique<AuditVerify>(); }
std::unique_ptr<Command> make_audit_checkpoint() { return std::make_unique<AuditCheckpoint>(); }

} // namespace corvellactl
