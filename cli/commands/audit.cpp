#include "command.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/key_file.h"

#include "quenmark/integrity/checkpoint.h"
#include "quenmark/integrity/log_proof.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace corvellactl {
namespace {

// The tool's name for its audit log: each signing key's checkpoints have the
// origin this prefix and the key give.
constexpr std::string_view origin_prefix = "corvellactl-audit/";

constexpr std::string_view checkpoint_failed = "checkpoint verification failed: ";
constexpr std::string_view older_checkpoint_failed = "older checkpoint verification failed: ";
// A checkpoint is a signed note of a few lines.
constexpr SizeCap checkpoint_cap { std::size_t { 64 } << 10U, "a checkpoint" };
// A proof holds one event, two checkpoints and a few dozen hashes at most.
constexpr SizeCap proof_cap { std::size_t { 1 } << 20U, "a proof" };

void add_verified(Results& results, std::uint64_t count)
{
    results.add(concat("audit chain verifies: ", count, " event(s), all links and signatures intact\n"), "audit_chain",
                [count](JsonObject& object) { object.number("events", count).boolean("valid", true); });
}

// A note that `audit checkpoint` wrote, as it was read and as it opened.
struct CheckpointFile {
    std::string note;
    quenmark::Checkpoint checkpoint;
};

// Reads a note and checks its signature under the local key; Message
// `failure` + the platform error's text when it does not open.
CommandResult<CheckpointFile> open_checkpoint_file(std::string const& path, quenmark::VerifyingKey const& key,
                                                   std::string_view failure)
{
    auto note = TRY(read_text(path, checkpoint_cap));
    auto opened = quenmark::open_checkpoint(note, origin_prefix, key);
    if (!opened)
        return quenmark::unexpected(CommandError::message(concat(failure, opened.error().text())));
    return CheckpointFile { std::move(note), std::move(*opened) };
}

// The tree hash of the chain's first `size` entries, when it holds that many
// and their leaves were read.
std::optional<quenmark::MerkleHash> root_at(VerifiedChain const& chain, std::uint64_t size)
{
    if (chain.entries < size || chain.leaves.size() < size)
        return std::nullopt;
    return quenmark::tree_hash(std::span(chain.leaves).first(static_cast<std::size_t>(size)));
}

// Whether the entries a checkpoint covers are trusted for what it says of them.
enum class Trust : std::uint8_t { Checkpoint, Nothing };

// Reads and verifies the chain as `query` asks, with the leaves of the
// checkpoint's entries, and checks that it still holds the checkpoint. With
// Trust::Checkpoint, the entries the checkpoint covers are verified by their
// tree hash alone (the checkpoint was signed over a chain that verified) and
// only the entries after them one by one. When anything fails, the chain is
// read again and verified in full, so that its own first break is reported
// before the checkpoint's failure, Message `failure` + the platform error's
// text, which may then name the entry at the checkpoint's size.
CommandResult<VerifiedChain> verify_chain_holding(std::string const& path, quenmark::VerifyingKey const& key,
                                                  quenmark::Checkpoint const& checkpoint, quenmark::ChainQuery query,
                                                  Trust trust, std::string_view failure)
{
    auto const size = static_cast<std::size_t>(checkpoint.size);
    query.leaves = std::max(query.leaves, size);
    if (trust == Trust::Checkpoint)
        query.trusted = size;
    auto chain = verify_chain_with_progress(path, key, query);
    if (chain && root_at(*chain, size) == checkpoint.root)
        return chain;

    query.trusted = 0;
    if (size > 0)
        query.marked_position = size - 1;
    chain = TRY(verify_chain_with_progress(path, key, query));
    auto const held = quenmark::check_checkpoint(chain->entries, root_at(*chain, size), chain->marked, checkpoint);
    if (!held)
        return quenmark::unexpected(CommandError::message(concat(failure, held.error().text())));
    return chain;
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

class AuditProve final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--event-id", m_event_id,
                         { .value_name = "EVENT_ID", .help = "Prove that the chain holds this event" });
        declaration.text("--from-checkpoint", m_from_checkpoint,
                         { .value_name = "OLD",
                           .help = "Prove that the chain only grew since the checkpoint OLD" });
        declaration.text("--checkpoint", m_checkpoint,
                         { .value_name = "FILE",
                           .help = "Prove against this checkpoint written by `audit checkpoint` instead of a fresh "
                                   "one" });
        declaration.text("--output", m_output,
                         { .value_name = "FILE",
                           .help = "Write the proof to FILE (replaced atomically) instead of standard output; "
                                   "- is standard output" });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    // Exactly one of the event and the older checkpoint is given.
    std::optional<std::string> m_event_id;
    std::optional<std::string> m_from_checkpoint;
    // The checkpoint the proof ends at; a fresh one of the whole chain when absent.
    std::optional<std::string> m_checkpoint;
    // Where the proof goes; standard output when absent.
    std::optional<std::string> m_output;
};

class AuditVerifyProof final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("FILE", m_file,
                         { .value_name = "FILE", .help = "The proof, as `audit prove` wrote it", .required = true });
        declaration.text("--public-key", m_public_key,
                         { .value_name = "KEY",
                           .help = "The log's verifying key, in any form `key public` prints",
                           .required = true });
    }
    // Reads the proof file and nothing else.
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_file;
    std::string m_public_key;
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
    auto const claimed = quenmark::open_checkpoint(note, origin_prefix, key.verifying_key());
    if (!claimed) {
        TRY(verify_chain_with_progress(context.audit_path, key.verifying_key()));
        return quenmark::unexpected(CommandError::message(concat(checkpoint_failed, claimed.error().text())));
    }
    auto const chain = TRY(verify_chain_holding(context.audit_path, key.verifying_key(), *claimed, {},
                                                Trust::Checkpoint, checkpoint_failed));
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
    auto const chain = TRY(verify_chain_with_progress(context.audit_path, key.verifying_key(),
                                                      { .leaves = std::numeric_limits<std::size_t>::max() }));
    quenmark::Checkpoint const checkpoint { quenmark::checkpoint_origin(origin_prefix, key.verifying_key()),
                                            chain.entries, quenmark::tree_hash(chain.leaves) };
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

CommandResult<void> AuditProve::run(CommandContext const& context)
{
    if (m_event_id.has_value() == m_from_checkpoint.has_value())
        return quenmark::unexpected(CommandError::message("give either --event-id or --from-checkpoint, not both or neither"));
    auto const output = TRY(output_file(context, m_output));
    std::optional<quenmark::Uuid> event_id;
    if (m_event_id) {
        auto parsed = quenmark::Uuid::parse(*m_event_id);
        if (!parsed)
            return quenmark::unexpected(quenmark::ContractError::invalid_identifier("EventId", std::move(parsed).error()));
        event_id = *parsed;
    }
    // Read under the lock, so that every reading of the chain sees the same file.
    auto const lock = TRY(lock_data_files(context, output));
    auto const key = TRY(load_or_create_key(context.key_path));
    quenmark::VerifyingKey const verifying_key = key.verifying_key();
    std::optional<CheckpointFile> older;
    if (m_from_checkpoint)
        older = TRY(open_checkpoint_file(*m_from_checkpoint, verifying_key, older_checkpoint_failed));
    std::optional<CheckpointFile> given;
    if (m_checkpoint)
        given = TRY(open_checkpoint_file(*m_checkpoint, verifying_key, checkpoint_failed));

    quenmark::ChainQuery const query { .leaves = std::numeric_limits<std::size_t>::max(), .wanted_event = event_id };
    auto const chain = given ? TRY(verify_chain_holding(context.audit_path, verifying_key, given->checkpoint, query,
                                                        Trust::Checkpoint, checkpoint_failed))
                             : TRY(verify_chain_with_progress(context.audit_path, verifying_key, query));
    if (!given) {
        quenmark::Checkpoint fresh { quenmark::checkpoint_origin(origin_prefix, verifying_key), chain.entries,
                                     quenmark::tree_hash(chain.leaves) };
        std::string note = quenmark::sign_checkpoint(fresh, key);
        given = CheckpointFile { std::move(note), std::move(fresh) };
    }
    quenmark::Checkpoint const& checkpoint = given->checkpoint;
    auto const leaves = std::span(chain.leaves).first(static_cast<std::size_t>(checkpoint.size));

    Results results(context.format);
    std::string proof;
    if (event_id) {
        if (!chain.found)
            return quenmark::unexpected(CommandError::not_found(concat("audit event ", *event_id)));
        std::size_t const index = chain.found->position;
        if (index >= checkpoint.size) {
            return quenmark::unexpected(CommandError::message(concat("audit event ", *event_id, " is at index ", index,
                " of the chain, after the ", checkpoint.size, " event(s) of the checkpoint")));
        }
        quenmark::InclusionProof inclusion { {}, index, quenmark::inclusion_proof(leaves, index), given->note };
        quenmark::append_leaf_bytes(chain.found->entry, inclusion.leaf);
        proof = quenmark::format_inclusion_proof(inclusion);
        auto const described = [&](JsonObject& object) {
            object.text("event_id", *event_id).number("index", index).number("size", checkpoint.size)
                .text("origin", checkpoint.origin);
            if (output)
                object.text("path", *output);
            else
                object.text("proof", proof);
        };
        if (!output)
            results.add(proof, "inclusion_proof", described);
        else
            results.add(concat("wrote inclusion proof of event ", *event_id, " to ", *output, " \u2014 index ",
                               index, " of ", checkpoint.size, " event(s) of ", checkpoint.origin, '\n'),
                        "inclusion_proof_file", described);
    } else {
        quenmark::Checkpoint const& old_checkpoint = older->checkpoint;
        if (old_checkpoint.size > checkpoint.size) {
            return quenmark::unexpected(CommandError::message(concat("the checkpoint of --from-checkpoint holds more "
                "events (", old_checkpoint.size, ") than that of --checkpoint (", checkpoint.size, ")")));
        }
        if (root_at(chain, old_checkpoint.size) != old_checkpoint.root) {
            // Read again for the reason: the lock keeps the chain as it was.
            TRY(verify_chain_holding(context.audit_path, verifying_key, old_checkpoint, {}, Trust::Nothing,
                                     older_checkpoint_failed));
            quenmark::fail_internal("a chain held an older checkpoint on its second reading only");
        }
        proof = quenmark::format_consistency_proof(
            { quenmark::consistency_proof(leaves, old_checkpoint.size), older->note, given->note });
        auto const described = [&](JsonObject& object) {
            object.number("old_size", old_checkpoint.size).number("size", checkpoint.size)
                .text("origin", checkpoint.origin);
            if (output)
                object.text("path", *output);
            else
                object.text("proof", proof);
        };
        if (!output)
            results.add(proof, "consistency_proof", described);
        else
            results.add(concat("wrote consistency proof to ", *output, " \u2014 from ", old_checkpoint.size, " to ",
                               checkpoint.size, " event(s) of ", checkpoint.origin, '\n'),
                        "consistency_proof_file", described);
    }
    if (!output)
        return print(results);
    TRY(write_output(*output, proof));
    return print_after_commit(results, *output + " was written");
}

CommandResult<void> AuditVerifyProof::run(CommandContext const& context)
{
    auto const key = quenmark::parse_verifying_key(m_public_key);
    if (!key) {
        return quenmark::unexpected(CommandError::message(concat("--public-key ", shown(m_public_key),
            " is not an Ed25519 verifying key in hex, multibase or did:key form")));
    }
    auto const text = TRY(read_text(m_file, proof_cap));
    std::string const path = shown(m_file);
    Results results(context.format);
    auto const outcome = [&](std::string_view kind, quenmark::Expected<std::string, std::string> const& checked,
                             auto const& fill) -> CommandResult<void> {
        auto const verification = [&](JsonObject& object) {
            object.text("path", m_file).text("kind", kind).boolean("valid", checked.has_value());
            if (checked)
                fill(object);
            else
                object.text("reason", checked.error());
        };
        if (checked) {
            results.add(concat("VALID \u2014 ", *checked, '\n'), "proof_verification", verification);
            return print(results);
        }
        results.add(concat("INVALID \u2014 proof ", path, " does not verify: ", checked.error(), '\n'),
                    "proof_verification", verification);
        TRY(print(results));
        return quenmark::unexpected(
            CommandError::message(concat("proof ", path, " failed verification: ", checked.error())));
    };

    if (text.starts_with(concat(quenmark::inclusion_proof_header, '\n'))) {
        std::optional<quenmark::Checkpoint> checkpoint;
        quenmark::InclusionProof proof;
        quenmark::SignedAuditEvent entry;
        auto const checked = [&]() -> quenmark::Expected<std::string, std::string> {
            proof = TRY(quenmark::parse_inclusion_proof(text));
            checkpoint = TRY(quenmark::check_inclusion_proof(proof, origin_prefix, *key));
            entry = TRY(quenmark::open_leaf(proof.leaf, *key));
            auto const& event = entry.event;
            std::string target = shown(event.target.target_type);
            if (event.target.target_id)
                append_parts(target, ' ', shown(*event.target.target_id));
            return concat("event ", event.event_id, " (", shown(event.action), " on ", target, " at ",
                          event.occurred_at, ") is at index ", proof.index, " of the ", checkpoint->size,
                          " event(s) of ", checkpoint->origin);
        }();
        return outcome("inclusion", checked, [&](JsonObject& object) {
            object.text("origin", checkpoint->origin).number("size", checkpoint->size).number("index", proof.index)
                .text("event_id", entry.event.event_id).text("action", entry.event.action)
                .text("target_type", entry.event.target.target_type).text("target_id", entry.event.target.target_id)
                .text("occurred_at", entry.event.occurred_at);
        });
    }
    if (text.starts_with(concat(quenmark::consistency_proof_header, '\n'))) {
        std::optional<quenmark::CheckpointPair> pair;
        auto const checked = [&]() -> quenmark::Expected<std::string, std::string> {
            auto const proof = TRY(quenmark::parse_consistency_proof(text));
            pair = TRY(quenmark::check_consistency_proof(proof, origin_prefix, *key));
            auto const old_size = pair->old_checkpoint.size;
            return concat("log ", pair->checkpoint.origin, " grew from ", old_size, " to ", pair->checkpoint.size,
                          " event(s) without changing its first ", old_size);
        }();
        return outcome("consistency", checked, [&](JsonObject& object) {
            object.text("origin", pair->checkpoint.origin).number("old_size", pair->old_checkpoint.size)
                .number("size", pair->checkpoint.size);
        });
    }
    return quenmark::unexpected(CommandError::message(concat(path, " is not a proof of an audit log: its first line is "
        "neither ", quenmark::inclusion_proof_header, " nor ", quenmark::consistency_proof_header)));
}

} // namespace

std::unique_ptr<Command> make_audit_verify() { return std::make_unique<AuditVerify>(); }
std::unique_ptr<Command> make_audit_checkpoint() { return std::make_unique<AuditCheckpoint>(); }
std::unique_ptr<Command> make_audit_prove() { return std::make_unique<AuditProve>(); }
std::unique_ptr<Command> make_audit_verify_proof() { return std::make_unique<AuditVerifyProof>(); }

} // namespace corvellactl
