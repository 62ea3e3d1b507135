#pragma once

// Merkle trees as certificate transparency logs hash them: SHA-256, a leaf
// hashed as SHA-256(0x00 ‖ leaf), two nodes as SHA-256(0x01 ‖ left ‖ right),
// a tree of n leaves split after the largest power of two below n, and the
// empty tree's hash SHA-256 of nothing. Also the audit path that shows one
// leaf is in a tree, the consistency proof that shows a tree begins with an
// older one, and the checks of both, which need nothing but the hashes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quenmark {

inline constexpr std::size_t merkle_hash_size = 32;
using MerkleHash = std::array<std::uint8_t, merkle_hash_size>;

MerkleHash leaf_hash(std::string_view leaf);
MerkleHash node_hash(MerkleHash const& left, MerkleHash const& right);

// The root of the tree whose leaves have the given leaf hashes, in order.
MerkleHash tree_hash(std::span<MerkleHash const> leaves);

// The audit path of the leaf at `index` (below leaves.size()): the hashes
// that lead from it to the root, its sibling's first.
std::vector<MerkleHash> inclusion_proof(std::span<MerkleHash const> leaves, std::uint64_t index);

// The hashes that show the tree of all `leaves` begins with the tree of its
// first `old_size` (at most leaves.size()); none when the sizes are equal or
// the older tree is empty.
std::vector<MerkleHash> consistency_proof(std::span<MerkleHash const> leaves, std::uint64_t old_size);

// Whether `path` leads from the leaf hash at `index` to `root`, in a tree of
// `size` leaves. Never for an index at or beyond the size.
[[nodiscard]] bool verify_inclusion(MerkleHash const& leaf, std::uint64_t index, std::uint64_t size,
                                    std::span<MerkleHash const> path, MerkleHash const& root);

// Whether `proof` shows that the tree of `size` leaves with `root` begins
// with the tree of `old_size` leaves with `old_root`. Trees of equal size
// must be the same tree and the empty tree begins every tree; both take an
// empty proof. Never when the older tree is the larger.
[[nodiscard]] bool verify_consistency(std::uint64_t old_size, MerkleHash const& old_root, std::uint64_t size,
                                      MerkleHash const& root, std::span<MerkleHash const> proof);

} // namespace quenmark
