#pragma once

// Signed checkpoints of the audit chain, in the signed-note form that
// transparency logs use: a body of three lines (origin, number of entries,
// base64 of the Merkle tree hash of the entries' leaves), a blank line, and
// one signature line "— <name> <base64(key id ‖ Ed25519 signature)>". Kept
// somewhere other than the chain, a checkpoint proves later that the chain
// still begins with the very entries it had then, which a chain alone
// cannot show once entries are cut from its end; and proofs against it show
// one entry, or a later checkpoint, to someone who holds nothing but the
// public key.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/integrity/signing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenmark {

struct Checkpoint {
    std::string origin;
    std::uint64_t size { 0 };
    // The Merkle tree hash of the first `size` entries' leaves.
    MerkleHash root {};

    friend bool operator==(Checkpoint const&, Checkpoint const&) = default;
};

// The origin of a log's checkpoints under one signing key: the log's name
// prefix (as "example-audit/") followed by the signed-note key id, in hex,
// that the prefix and the key give.
std::string checkpoint_origin(std::string_view origin_prefix, VerifyingKey const& key);

// The note's text, signed under the origin's name; ends with a line feed.
std::string sign_checkpoint(Checkpoint const& checkpoint, SigningKey const& key);

// Reads a note and checks its signature under `key`, named `key_name` in the
// messages ("the local key"), with the name of the origin that the prefix
// and the key give. On failure, why, worded to follow "checkpoint ".
[[nodiscard]] Expected<Checkpoint, std::string> open_note(std::string_view note, std::string_view origin_prefix,
                                                          VerifyingKey const& key, std::string_view key_name);

// open_note under the local key; failures are ValidationFailed "checkpoint
// ...".
[[nodiscard]] Expected<Checkpoint, ContractError> open_checkpoint(std::string_view note, std::string_view origin_prefix,
                                                                  VerifyingKey const& key);

// Whether the chain still holds the checkpoint, from what a reading of the
// chain that verified found: its number of entries, the tree hash of its
// first `checkpoint.size` leaves (absent when the chain is shorter) and its
// entry at the checkpoint's last position (zero-based size - 1; absent when
// the chain is shorter or the checkpoint empty). ValidationFailed naming
// what happened otherwise: entries cut from the end or an older copy
// restored ("truncated or rolled back"), a note of the earlier form whose
// hash line is the last entry's content hash, or different entries up to
// that position ("forked").
[[nodiscard]] Expected<void, ContractError> check_checkpoint(std::uint64_t chain_size,
                                                             std::optional<MerkleHash> const& root_at_size,
                                                             std::optional<EntryMark> const& entry_at_size,
                                                             Checkpoint const& checkpoint);

} // namespace quenmark
