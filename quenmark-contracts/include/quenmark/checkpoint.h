#pragma once

// Signed checkpoints of the audit chain, in the signed-note form that
// transparency logs use: a body of three lines (origin, number of entries,
// base64 of the last entry's content hash), a blank line, and one signature
// line "— <name> <base64(key id ‖ Ed25519 signature)>". Kept somewhere other
// than the chain, a checkpoint proves later that the chain still holds at
// least that many entries and the same entry at that position, which a
// chain alone cannot show once entries are cut from its end.

#include "quenmark/audit_chain.h"
#include "quenmark/audit_event.h"
#include "quenmark/content_hash.h"
#include "quenmark/expected.h"
#include "quenmark/signing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
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

// The signed-note key id: the first four bytes of SHA-256 of the name, a line
// feed, the Ed25519 signature type 0x01 and the public key.
std::array<std::uint8_t, 4> note_key_id(std::string_view name, VerifyingKey const& key);

// "corvellactl-audit/" + the key id in hex: one origin per signing key.
std::string checkpoint_origin(VerifyingKey const& key);

// The checkpoint of a chain as it stands.
[[nodiscard]] Expected<Checkpoint, ContractError> checkpoint_of(std::span<SignedAuditEvent const> entries,
                                                                VerifyingKey const& key);
// The same from what a reading of the chain found: its number of entries and
// its last entry (absent for an empty chain).
Checkpoint checkpoint_at(std::uint64_t size, std::optional<EntryMark> const& last, VerifyingKey const& key);

// The note's text, signed under the origin's name; ends with a line feed.
std::string sign_checkpoint(Checkpoint const& checkpoint, SigningKey const& key);

// Reads a note and checks its signature under `key` with the name of the
// key's own origin. Failures are ValidationFailed "checkpoint ...".
[[nodiscard]] Expected<Checkpoint, ContractError> open_checkpoint(std::string_view note, VerifyingKey const& key);

// Whether the chain still holds the checkpoint: at least `size` entries, and
// the entry at that position has the checkpoint's hash. ValidationFailed
// naming what happened otherwise: entries cut from the end or an older copy
// restored ("truncated or rolled back"), or a different entry at that
// position ("forked").
[[nodiscard]] Expected<void, ContractError> check_checkpoint(std::span<SignedAuditEvent const> entries,
                                                             Checkpoint const& checkpoint);
// The same from what a reading of the chain found: its number of entries and
// its entry at the checkpoint's last position (zero-based size - 1; absent
// when the chain is shorter or the checkpoint empty).
[[nodiscard]] Expected<void, ContractError> check_checkpoint(std::uint64_t chain_size,
                                                             std::optional<EntryMark> const& entry_at_size,
                                                             Checkpoint const& checkpoint);

} // namespace quenmark
