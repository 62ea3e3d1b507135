#pragma once

// Signed checkpoints of the audit chain, in the signed-note form that
// transparency logs use: a body of three lines (origin, number of entries,
// base64 of the last entry's content hash), a blank line, and one signature
// line "— <name> <base64(key id ‖ Ed25519 signature)>". Kept somewhere other
// than the chain, a checkpoint proves later that the chain still holds at
// least that many entries and the same entry at that position, which a
// chain alone cannot show once entries are cut from its end.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/audit_chain.h"
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
    // The last entry's content hash; all zero bytes for an empty chain.
    std::array<std::uint8_t, 32> head {};

    friend bool operator==(Checkpoint const&, Checkpoint const&) = default;
};

// The origin of a log's checkpoints under one signing key: the log's name
// prefix (as "example-audit/") followed by the signed-note key id, in hex,
// that the prefix and the key give.
std::string checkpoint_origin(std::string_view origin_prefix, VerifyingKey const& key);

// The checkpoint of a chain, from what a reading of it found: its number of
// entries and its last entry (absent for an empty chain).
Checkpoint checkpoint_at(std::string_view origin_prefix, std::uint64_t size, std::optional<EntryMark> const& last,
                         VerifyingKey const& key);

// The note's text, signed under the origin's name; ends with a line feed.
std::string sign_checkpoint(Checkpoint const& checkpoint, SigningKey const& key);

// Reads a note and checks its signature under `key` with the name of the
// origin that the prefix and the key give. Failures are ValidationFailed
// "checkpoint ...".
[[nodiscard]] Expected<Checkpoint, ContractError> open_checkpoint(std::string_view note, std::string_view origin_prefix,
                                                                  VerifyingKey const& key);

// Whether the chain still holds the checkpoint, from what a reading of the
// chain found: its number of entries and its entry at the checkpoint's last
// position (zero-based size - 1; absent when the chain is shorter or the
// checkpoint empty). The chain must hold at least `size` entries, and the
// entry at that position must have the checkpoint's hash. ValidationFailed
// naming what happened otherwise: entries cut from the end or an older copy
// restored ("truncated or rolled back"), or a different entry at that
// position ("forked").
[[nodiscard]] Expected<void, ContractError> check_checkpoint(std::uint64_t chain_size,
                                                             std::optional<EntryMark> const& entry_at_size,
                                                             Checkpoint const& checkpoint);

} // namespace quenmark
