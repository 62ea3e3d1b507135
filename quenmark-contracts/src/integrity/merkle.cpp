#include "quenmark/integrity/merkle.h"

#include <nettle/sha2.h>

#include <bit>

namespace quenmark {

namespace {

static_assert(SHA256_DIGEST_SIZE == merkle_hash_size);

constexpr std::uint8_t leaf_prefix = 0x00;
constexpr std::uint8_t node_prefix = 0x01;

// The largest power of two below `size` (at least 2): where a tree splits.
std::size_t split_of(std::size_t size) { return std::bit_floor(size - 1); }

void update(sha256_ctx& context, std::span<std::uint8_t const> bytes) { sha256_update(&context, bytes.size(), bytes.data()); }

MerkleHash digest(sha256_ctx& context)
{
    MerkleHash hash;
    sha256_digest(&context, hash.size(), hash.data());
    return hash;
}

// The proof of the subtree `leaves` with the older tree's leaves its first
// `old_size`; `whole` while the older tree is a whole subtree of the walk's
// left edge, whose root the checker knows already.
void consistency_subproof(std::span<MerkleHash const> leaves, std::size_t old_size, bool whole,
                          std::vector<MerkleHash>& proof)
{
    if (old_size == leaves.size()) {
        if (!whole)
            proof.push_back(tree_hash(leaves));
        return;
    }
    std::size_t const split = split_of(leaves.size());
    if (old_size <= split) {
        consistency_subproof(leaves.first(split), old_size, whole, proof);
        proof.push_back(tree_hash(leaves.subspan(split)));
    } else {
        consistency_subproof(leaves.subspan(split), old_size - split, false, proof);
        proof.push_back(tree_hash(leaves.first(split)));
    }
}

// Shifts both right until the lowest bit of `first` is set or it is zero.
void shift_to_set_bit(std::uint64_t& first, std::uint64_t& second)
{
    while (first != 0 && (first & 1U) == 0) {
        first >>= 1U;
        second >>= 1U;
    }
}

} // namespace

MerkleHash leaf_hash(std::string_view leaf)
{
    sha256_ctx context;
    sha256_init(&context);
    update(context, std::span(&leaf_prefix, 1));
    update(context, std::span(reinterpret_cast<std::uint8_t const*>(leaf.data()), leaf.size()));
    return digest(context);
}

MerkleHash node_hash(MerkleHash const& left, MerkleHash const& right)
{
    sha256_ctx context;
    sha256_init(&context);
    update(context, std::span(&node_prefix, 1));
    update(context, left);
    update(context, right);
    return digest(context);
}

MerkleHash tree_hash(std::span<MerkleHash const> leaves)
{
    if (leaves.empty()) {
        sha256_ctx context;
        sha256_init(&context);
        return digest(context);
    }
    if (leaves.size() == 1)
        return leaves.front();
    std::size_t const split = split_of(leaves.size());
    return node_hash(tree_hash(leaves.first(split)), tree_hash(leaves.subspan(split)));
}

std::vector<MerkleHash> inclusion_proof(std::span<MerkleHash const> leaves, std::uint64_t index)
{
    // Walking down from the root, each level's other half is the sibling of
    // the half that holds the leaf; the path lists them from the leaf up.
    std::vector<MerkleHash> path;
    while (leaves.size() > 1) {
        std::size_t const split = split_of(leaves.size());
        if (index < split) {
            path.push_back(tree_hash(leaves.subspan(split)));
            leaves = leaves.first(split);
        } else {
            path.push_back(tree_hash(leaves.first(split)));
            leaves = leaves.subspan(split);
            index -= split;
        }
    }
    return { path.rbegin(), path.rend() };
}

std::vector<MerkleHash> consistency_proof(std::span<MerkleHash const> leaves, std::uint64_t old_size)
{
    std::vector<MerkleHash> proof;
    if (old_size > 0 && old_size < leaves.size())
        consistency_subproof(leaves, static_cast<std::size_t>(old_size), /*whole=*/true, proof);
    return proof;
}

bool verify_inclusion(MerkleHash const& leaf, std::uint64_t index, std::uint64_t size,
                      std::span<MerkleHash const> path, MerkleHash const& root)
{
    if (index >= size)
        return false;
    std::uint64_t first = index;
    std::uint64_t second = size - 1;
    MerkleHash hash = leaf;
    for (MerkleHash const& sibling : path) {
        if (second == 0)
            return false;
        if ((first & 1U) != 0 || first == second) {
            hash = node_hash(sibling, hash);
            shift_to_set_bit(first, second);
        } else {
            hash = node_hash(hash, sibling);
        }
        first >>= 1U;
        second >>= 1U;
    }
    return second == 0 && hash == root;
}

bool verify_consistency(std::uint64_t old_size, MerkleHash const& old_root, std::uint64_t size,
                        MerkleHash const& root, std::span<MerkleHash const> proof)
{
    if (old_size > size)
        return false;
    if (old_size == size)
        return proof.empty() && old_root == root;
    if (old_size == 0)
        return proof.empty() && old_root == tree_hash({});
    if (proof.empty())
        return false;

    // The older root itself starts the walk when the older tree is a whole
    // subtree, which the proof then leaves out.
    std::vector<MerkleHash> path;
    path.reserve(proof.size() + 1);
    if (std::has_single_bit(old_size))
        path.push_back(old_root);
    path.insert(path.end(), proof.begin(), proof.end());

    std::uint64_t first = old_size - 1;
    std::uint64_t second = size - 1;
    while ((first & 1U) != 0) {
        first >>= 1U;
        second >>= 1U;
    }
    MerkleHash old_hash = path.front();
    MerkleHash new_hash = path.front();
    for (std::size_t index = 1; index < path.size(); ++index) {
        MerkleHash const& node = path[index];
        if (second == 0)
            return false;
        if ((first & 1U) != 0 || first == second) {
            old_hash = node_hash(node, old_hash);
            new_hash = node_hash(node, new_hash);
            shift_to_set_bit(first, second);
        } else {
            new_hash = node_hash(new_hash, node);
        }
        first >>= 1U;
        second >>= 1U;
    }
    return second == 0 && old_hash == old_root && new_hash == root;
}

} // namespace quenmark
