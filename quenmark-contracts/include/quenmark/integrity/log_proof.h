#pragma once

// Proofs about a log that a reader checks with the log's public key alone,
// in text forms of the transparency-log family (lines ending in a line feed,
// hashes in standard base64 with padding):
//
// An inclusion proof, in the tlog-proof form:
//     c2sp.org/tlog-proof@v1
//     extra <base64 of the leaf>
//     index <the leaf's zero-based index, decimal>
//     <one line per hash of the audit path, the leaf's sibling first>
//     <an empty line>
//     <the checkpoint, as it was signed>
//
// A consistency proof, in a form of the same style:
//     tlog-consistency-proof@v1
//     <one line per hash of the consistency proof, in its order>
//     <an empty line>
//     <the older checkpoint, as it was signed>
//     <an empty line>
//     <the newer checkpoint, as it was signed>

#include "quenmark/expected.h"
#include "quenmark/integrity/checkpoint.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/integrity/signing.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {

inline constexpr std::string_view inclusion_proof_header = "c2sp.org/tlog-proof@v1";
inline constexpr std::string_view consistency_proof_header = "tlog-consistency-proof@v1";

struct InclusionProof {
    std::string leaf;
    std::uint64_t index { 0 };
    std::vector<MerkleHash> path;
    std::string checkpoint; // the signed note

    friend bool operator==(InclusionProof const&, InclusionProof const&) = default;
};

struct ConsistencyProof {
    std::vector<MerkleHash> proof;
    std::string old_checkpoint; // the signed notes
    std::string checkpoint;

    friend bool operator==(ConsistencyProof const&, ConsistencyProof const&) = default;
};

std::string format_inclusion_proof(InclusionProof const& proof);
std::string format_consistency_proof(ConsistencyProof const& proof);

// Read the text forms; on failure, why, worded to follow "does not verify: ".
// Neither checks a signature or a hash.
[[nodiscard]] Expected<InclusionProof, std::string> parse_inclusion_proof(std::string_view text);
[[nodiscard]] Expected<ConsistencyProof, std::string> parse_consistency_proof(std::string_view text);

// Checks an inclusion proof under `key`: its checkpoint opens (open_note,
// the key named "the given key"), its index lies below the checkpoint's
// size, and its path leads from its leaf to the checkpoint's root. Returns
// the checkpoint; on failure, why, worded as the parsers'. The leaf itself
// is the caller's to read.
[[nodiscard]] Expected<Checkpoint, std::string> check_inclusion_proof(InclusionProof const& proof,
                                                                      std::string_view origin_prefix,
                                                                      VerifyingKey const& key);

// The two checkpoints a consistency proof joins, older first.
struct CheckpointPair {
    Checkpoint old_checkpoint;
    Checkpoint checkpoint;
};

// Checks a consistency proof under `key`: both checkpoints open, the older
// is no larger than the newer, and the proof shows the newer tree begins
// with the older one. On failure, why, worded as the parsers'.
[[nodiscard]] Expected<CheckpointPair, std::string> check_consistency_proof(ConsistencyProof const& proof,
                                                                            std::string_view origin_prefix,
                                                                            VerifyingKey const& key);

} // namespace quenmark
