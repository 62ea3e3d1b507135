#pragma once

// The audit chain, without its file: each entry is an event signed over its
// canonical bytes, numbered, and linked to the content hash of the event
// before it. The command layer reads and writes the chain file and calls
// these functions on the entries.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/integrity/signing.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {

// Where the next entry attaches: the last entry's sequence (0 for an empty
// chain) and the content hash of its event (absent for an empty chain).
struct ChainHead {
    std::uint64_t last_sequence { 0 };
    std::optional<ContentHash> last_hash;

    friend bool operator==(ChainHead const&, ChainHead const&) = default;
};

// The head after the given entries. Fails only when the last event cannot be
// canonicalised.
[[nodiscard]] Expected<ChainHead, ContractError> derive_head(std::span<SignedAuditEvent const> entries);

// Turns an event into the entry that follows `head`: links it to the last
// hash, signs its canonical bytes and numbers it last sequence + 1 (staying
// at the largest value once there). Fails only when the event cannot be
// canonicalised. The existing chain is not verified.
[[nodiscard]] Expected<SignedAuditEvent, ContractError> link_event(ChainHead const& head, SigningKey const& key,
                                                                   AuditEvent event);

// The entries that link_event() makes of `events` appended one after the
// other from `head`, with the signatures made on every core. Fails only when
// an event cannot be canonicalised.
[[nodiscard]] Expected<std::vector<SignedAuditEvent>, ContractError>
link_events(ChainHead const& head, SigningKey const& key, std::vector<AuditEvent> events);

// Checks every signature, hash link and sequence number in order and returns
// the first break: SignatureVerification for a signature that does not hold,
// ValidationFailed "audit chain broken at sequence N: ..." for a missing or
// wrong link (or a first entry that has one), ValidationFailed "audit chain
// sequence gap: expected N, found M" for a misnumbered entry after the first.
// An empty chain verifies; removing entries from the end is not detectable.
// Long chains have their signatures checked on all cores; the result is the
// same as that of a check of one entry after another.
[[nodiscard]] Expected<void, ContractError> verify_chain(std::span<SignedAuditEvent const> entries,
                                                         VerifyingKey const& key);

// Reads the chain file's text: a JSON array of signed events. On failure
// returns the reader's message with its line and column.
[[nodiscard]] Expected<std::vector<SignedAuditEvent>, std::string> parse_chain(std::string_view text);

// One entry as a checkpoint names it: its sequence number and the content
// hash of its event.
struct EntryMark {
    std::uint64_t sequence { 0 };
    ContentHash hash;

    friend bool operator==(EntryMark const&, EntryMark const&) = default;
};

// Reads a leaf of the log's Merkle tree (append_leaf_bytes) back into its
// entry and checks the event's signature under `key`. On failure, why,
// worded to follow "does not verify: ": "its entry is not a signed audit
// event: ...", "its entry is not in canonical form" or "its entry's
// signature does not verify".
[[nodiscard]] Expected<SignedAuditEvent, std::string> open_leaf(std::string_view leaf, VerifyingKey const& key);

// What a reading of the chain file is asked for besides verification.
struct ChainQuery {
    // The first `trusted` entries are those of a checkpoint the caller has
    // opened, which was signed over a chain that verified: their signatures,
    // links and sequence numbers are not checked again, and the entry after
    // them must link to the last of them. The caller must then compare their
    // tree hash (ask for their leaves) with the checkpoint's.
    std::size_t trusted { 0 };
    // How many entries, from the first, to report the leaf hashes of.
    std::size_t leaves { 0 };
    // The zero-based position of an entry to report as `marked`.
    std::optional<std::size_t> marked_position {};
    // The event whose entry to report as `found`.
    std::optional<Uuid> wanted_event {};
};

// An entry found by its event's identifier, and its zero-based position.
struct FoundEntry {
    std::size_t position { 0 };
    SignedAuditEvent entry;
};

// A chain file's text that reads as a chain: how many entries it holds and
// what verify_chain says of them (of those after the trusted ones). Once the
// chain verified, also its last entry and the entry at the position asked
// about, where their content hashes were computed (absent when the chain is
// empty or shorter, or when the entry lies before the last trusted one), the
// leaf hashes asked for (fewer when the chain is shorter) and the entry of
// the event asked for (absent when none has its identifier).
struct ChainCheck {
    std::size_t entries { 0 };
    Expected<void, ContractError> verified;
    std::optional<EntryMark> last;
    std::optional<EntryMark> marked;
    std::vector<MerkleHash> leaves;
    std::optional<FoundEntry> found;
};

// Told how far the reading of a long chain has come, on the reading thread,
// after each few dozen entries: the entries read so far and the offset in the
// text reached. The signatures of those entries are being checked meanwhile.
using ReadProgress = std::function<void(std::size_t entries, std::size_t offset)>;

// parse_chain followed by verify_chain over a buffer with the JSON reader's
// padding after its `size` bytes (capacity at least size +
// json::read_padding), which the text is read from without a copy. The
// signatures of the entries already read are checked on the other cores
// while the rest is still being read. Fails with parse_chain's message when
// the text does not read as a chain, whatever the entries read before the
// fault; otherwise returns the number of entries, exactly what verify_chain
// returns for them (for the entries after the trusted ones, with the first
// of those linked to the last trusted one) and what the query asked for.
// `progress`, when given, hears about long chains only (a short one is read
// at once).
[[nodiscard]] Expected<ChainCheck, std::string>
read_and_verify_padded_chain(char const* data, std::size_t size, VerifyingKey const& key,
                             ChainQuery const& query = {}, ReadProgress const& progress = {});

} // namespace quenmark
