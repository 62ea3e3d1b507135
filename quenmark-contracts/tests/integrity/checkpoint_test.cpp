#include "quenmark/integrity/checkpoint.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/text/encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quenmark;

// A log's name, as the command layer gives its own.
constexpr std::string_view log_prefix = "example-audit/";

SigningKey key_from(std::uint8_t fill)
{
    std::array<std::uint8_t, seed_size> seed {};
    seed.fill(fill);
    return SigningKey::from_seed(seed);
}

std::vector<SignedAuditEvent> chain_of(std::size_t count, SigningKey const& key, std::string const& action = "a")
{
    std::vector<SignedAuditEvent> chain;
    for (std::size_t index = 0; index < count; ++index) {
        AuditEvent event = build_audit_event(*Slug::parse("corvella"), Actor {}, Target { "t", std::nullopt },
                                             action + std::to_string(index), AuditResult::Success,
                                             AuditCategory::DataAccess, Timestamp::from_unix_seconds(1000));
        chain.push_back(*link_event(*derive_head(chain), key, std::move(event)));
    }
    return chain;
}

// An entry as a reading of the chain file marks it.
EntryMark mark_of(SignedAuditEvent const& entry) { return { entry.sequence, *event_content_hash(entry.event) }; }

MerkleHash root_of(std::span<SignedAuditEvent const> chain)
{
    std::vector<MerkleHash> leaves;
    for (SignedAuditEvent const& entry : chain) {
        std::string leaf;
        append_leaf_bytes(entry, leaf);
        leaves.push_back(leaf_hash(leaf));
    }
    return tree_hash(leaves);
}

// The checkpoint of the chain as it stands.
Checkpoint checkpoint_of(std::span<SignedAuditEvent const> chain, VerifyingKey const& key)
{
    return { checkpoint_origin(log_prefix, key), chain.size(), root_of(chain) };
}

// Whether the chain still holds the checkpoint, told from what a reading of
// the chain finds.
Expected<void, ContractError> check(std::span<SignedAuditEvent const> chain, Checkpoint const& checkpoint)
{
    std::optional<MerkleHash> root;
    std::optional<EntryMark> entry_at_size;
    if (checkpoint.size <= chain.size())
        root = root_of(chain.first(checkpoint.size));
    if (checkpoint.size > 0 && checkpoint.size <= chain.size())
        entry_at_size = mark_of(chain[checkpoint.size - 1]);
    return check_checkpoint(chain.size(), root, entry_at_size, checkpoint);
}

TEST(Checkpoint, NoteShapeAndRoundTrip)
{
    auto const key = key_from(7);
    auto const chain = chain_of(3, key);
    auto const checkpoint = checkpoint_of(chain, key.verifying_key());
    std::string const note = sign_checkpoint(checkpoint, key);

    std::string const origin = checkpoint_origin(log_prefix, key.verifying_key());
    EXPECT_EQ(origin.size(), log_prefix.size() + 8);
    std::string const body = origin + "\n3\n" + base64_encode(root_of(chain)) + "\n";
    ASSERT_TRUE(note.starts_with(body + "\n\u2014 " + origin + " ")) << note;
    EXPECT_TRUE(note.ends_with("\n"));
    // key id (4 bytes) and signature (64 bytes): 92 base64 characters.
    EXPECT_EQ(note.size(), body.size() + 1 + std::string("\u2014 ").size() + origin.size() + 1 + 92 + 1);

    auto const opened = open_checkpoint(note, log_prefix, key.verifying_key());
    ASSERT_TRUE(opened) << opened.error().text();
    EXPECT_EQ(*opened, checkpoint);
    EXPECT_TRUE(check(chain, *opened));
}

// What a kept checkpoint reveals about the chain read later.
TEST(Checkpoint, DetectsTruncationRollbackAndFork)
{
    auto const key = key_from(7);
    auto const chain = chain_of(5, key);
    auto const kept = checkpoint_of(std::span(chain).first(4), key.verifying_key());

    struct Case {
        char const* what;
        std::vector<SignedAuditEvent> chain;
        char const* error; // empty when the chain still holds the checkpoint
    };
    auto grown = chain;
    auto rewritten = chain_of(5, key, "b");
    // The same events under other numbers: the leaves hold the numbers too.
    auto renumbered = chain;
    for (auto& entry : renumbered)
        entry.sequence += 3;
    std::vector<Case> const cases {
        { "same length", std::vector(chain.begin(), chain.begin() + 4), "" },
        { "grown since", grown, "" },
        { "last entry cut", std::vector(chain.begin(), chain.begin() + 3),
            "validation failed: audit chain truncated or rolled back: it holds 3 event(s), the checkpoint proves 4" },
        { "older copy", std::vector(chain.begin(), chain.begin() + 1),
            "validation failed: audit chain truncated or rolled back: it holds 1 event(s), the checkpoint proves 4" },
        { "emptied", {}, "validation failed: audit chain truncated or rolled back: it holds 0 event(s), the checkpoint proves 4" },
        { "rewritten with the same key", rewritten,
            "validation failed: audit chain forked: the event at sequence 4 is not the one the checkpoint proves" },
        { "renumbered", renumbered,
            "validation failed: audit chain forked: the event at sequence 7 is not the one the checkpoint proves" },
    };
    for (auto const& entry : cases) {
        auto const result = check(entry.chain, kept);
        if (std::string(entry.error).empty())
            EXPECT_TRUE(result) << entry.what;
        else
            EXPECT_EQ(result ? std::string("holds") : result.error().text(), entry.error) << entry.what;
    }
    EXPECT_TRUE(check({}, checkpoint_of({}, key.verifying_key())));

    // A note of the earlier form, whose hash line held the last entry's
    // content hash (zeros for an empty chain), is named as such.
    std::string const earlier = "validation failed: checkpoint is of an earlier form, whose hash line is the last "
                                "event's hash rather than the Merkle tree hash of all its events; write a new one "
                                "with `audit checkpoint`";
    Checkpoint old_form = kept;
    old_form.root = mark_of(chain[3]).hash.digest;
    EXPECT_EQ(check(chain, old_form).error().text(), earlier);
    Checkpoint old_empty = checkpoint_of({}, key.verifying_key());
    old_empty.root = {};
    EXPECT_EQ(check(chain, old_empty).error().text(), earlier);
}

TEST(Checkpoint, RefusesNotesThatAreNotOursOrNotIntact)
{
    auto const key = key_from(7);
    auto const other = key_from(9);
    auto const chain = chain_of(2, key);
    std::string const note = sign_checkpoint(checkpoint_of(chain, key.verifying_key()), key);
    std::string const origin = checkpoint_origin(log_prefix, key.verifying_key());
    auto const replaced = [&](std::string const& from, std::string const& to) {
        std::string text = note;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    std::string const prefix = "validation failed: checkpoint ";
    std::vector<std::pair<std::string, std::string>> const cases {
        { replaced("\n2\n", "\n3\n"), "signature does not verify under the local key" },
        { replaced("\n2\n", "\n02\n"), "size \"02\" is not a decimal number" },
        { replaced("\n2\n", "\n-1\n"), "size \"-1\" is not a decimal number" },
        { note.substr(0, note.size() - 1), "is not a signed note: its signature lines must end with a line feed" },
        { replaced("\n\n", "\n"), "is not a signed note: no blank line after its text" },
        { replaced("\u2014 ", "- "), "is not a signed note: a signature line does not start with an em dash" },
        { note.substr(0, note.find("\n\n") + 2), "is not a signed note: its signature lines must end with a line feed" },
        { replaced("\n2\n", "\n2\nextra\n"), "text must be three lines: origin, number of entries, hash" },
        { sign_checkpoint(checkpoint_of(chain, other.verifying_key()), other),
            "origin \"" + checkpoint_origin(log_prefix, other.verifying_key()) + "\" is not this key's (" + origin + ")" },
    };
    for (auto const& [text, error] : cases) {
        auto const opened = open_checkpoint(text, log_prefix, key.verifying_key());
        EXPECT_EQ(opened ? std::string("opened") : opened.error().text(), prefix + error) << text;
    }
    // A note with a second signature by someone else still opens.
    std::string const cosigned = note + "\u2014 witness.example AAAA\n";
    EXPECT_TRUE(open_checkpoint(cosigned, log_prefix, key.verifying_key()));
}

} // namespace
