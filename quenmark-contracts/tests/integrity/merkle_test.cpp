#include "quenmark/integrity/merkle.h"

#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quenmark;

// The published RFC 6962 test data, as vectors/rfc6962/README.md describes it.
json::Object const& vectors()
{
    static json::Object const object = [] {
        std::ifstream file(std::string(QUENMARK_TEST_VECTORS) + "/rfc6962/rfc6962.json", std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        auto value = json::parse_value(text.str());
        EXPECT_TRUE(value.has_value());
        return value ? std::get<json::Object>(value->data) : json::Object {};
    }();
    return object;
}

json::Array const& array(json::Object const& object, std::string_view name)
{
    return std::get<json::Array>(json::find_member(object, name)->data);
}

std::uint64_t number(json::Object const& object, std::string_view name)
{
    return std::get<std::uint64_t>(json::find_member(object, name)->data);
}

std::vector<std::uint8_t> bytes_of(json::Value const& hex_text)
{
    std::string const& text = std::get<std::string>(hex_text.data);
    std::vector<std::uint8_t> bytes(text.size() / 2);
    EXPECT_TRUE(parse_hex(text, bytes).has_value()) << text;
    return bytes;
}

MerkleHash hash_of(json::Value const& hex_text)
{
    MerkleHash hash {};
    auto const bytes = bytes_of(hex_text);
    std::copy(bytes.begin(), bytes.end(), hash.begin());
    return hash;
}

std::vector<MerkleHash> hashes_of(json::Array const& texts)
{
    std::vector<MerkleHash> hashes;
    for (json::Value const& text : texts)
        hashes.push_back(hash_of(text));
    return hashes;
}

std::vector<MerkleHash> leaf_hashes()
{
    std::vector<MerkleHash> leaves;
    for (json::Value const& input : array(vectors(), "leaf_inputs_hex")) {
        auto const bytes = bytes_of(input);
        leaves.push_back(leaf_hash(std::string_view(reinterpret_cast<char const*>(bytes.data()), bytes.size())));
    }
    return leaves;
}

// Each hash of a proof changed in turn, one dropped, one too many.
std::vector<std::vector<MerkleHash>> tampered(std::vector<MerkleHash> const& proof, MerkleHash const& extra)
{
    std::vector<std::vector<MerkleHash>> copies;
    for (std::size_t index = 0; index < proof.size(); ++index) {
        copies.push_back(proof);
        copies.back()[index][7] ^= 0x01U;
    }
    if (!proof.empty())
        copies.emplace_back(proof.begin(), proof.end() - 1);
    copies.push_back(proof);
    copies.back().push_back(extra);
    return copies;
}

TEST(Merkle, PublishedRootsOfEveryTreeSize)
{
    auto const leaves = leaf_hashes();
    auto const& roots = array(vectors(), "roots_by_size_hex");
    ASSERT_EQ(roots.size(), leaves.size() + 1);
    for (std::size_t size = 0; size <= leaves.size(); ++size)
        EXPECT_EQ(tree_hash(std::span(leaves).first(size)), hash_of(roots[size])) << size;
}

TEST(Merkle, AuditPathsOfEveryLeafAndTheirChecks)
{
    auto const leaves = leaf_hashes();
    auto const& roots = array(vectors(), "roots_by_size_hex");
    for (json::Value const& row : array(vectors(), "inclusion")) {
        auto const& object = std::get<json::Object>(row.data);
        std::uint64_t const size = number(object, "tree_size");
        std::uint64_t const index = number(object, "leaf_index");
        SCOPED_TRACE(std::to_string(index) + " of " + std::to_string(size));
        auto const tree = std::span(leaves).first(size);
        auto const path = hashes_of(array(object, "audit_path"));
        MerkleHash const root = hash_of(roots[size]);
        EXPECT_EQ(inclusion_proof(tree, index), path);
        EXPECT_TRUE(verify_inclusion(leaves[index], index, size, path, root));

        EXPECT_FALSE(verify_inclusion(leaves[(index + 1) % leaves.size()], index, size, path, root));
        EXPECT_FALSE(verify_inclusion(leaves[index], index, size, path, hash_of(roots[size - 1])));
        EXPECT_FALSE(verify_inclusion(leaves[index], size, size, path, root));
        if (size > 1) {
            EXPECT_FALSE(verify_inclusion(leaves[index], index ^ 1U, size, path, root));
        }
        for (auto const& copy : tampered(path, root))
            EXPECT_FALSE(verify_inclusion(leaves[index], index, size, copy, root));
    }
}

TEST(Merkle, ConsistencyProofsOfEveryPairOfSizesAndTheirChecks)
{
    auto const leaves = leaf_hashes();
    auto const& roots = array(vectors(), "roots_by_size_hex");
    for (json::Value const& row : array(vectors(), "consistency")) {
        auto const& object = std::get<json::Object>(row.data);
        std::uint64_t const old_size = number(object, "old_size");
        std::uint64_t const size = number(object, "new_size");
        SCOPED_TRACE(std::to_string(old_size) + " to " + std::to_string(size));
        auto const proof = hashes_of(array(object, "proof"));
        MerkleHash const old_root = hash_of(roots[old_size]);
        MerkleHash const root = hash_of(roots[size]);
        EXPECT_EQ(consistency_proof(std::span(leaves).first(size), old_size), proof);
        EXPECT_TRUE(verify_consistency(old_size, old_root, size, root, proof));

        EXPECT_FALSE(verify_consistency(old_size, old_root, size, hash_of(roots[old_size - 1]), proof));
        if (old_size < size) {
            EXPECT_FALSE(verify_consistency(size, root, old_size, old_root, proof));
        }
        for (auto const& copy : tampered(proof, root))
            EXPECT_FALSE(verify_consistency(old_size, old_root, size, root, copy));
    }
    // The empty tree begins every tree, with nothing to show for it.
    MerkleHash const empty = hash_of(roots[0]);
    EXPECT_TRUE(consistency_proof(leaves, 0).empty());
    EXPECT_TRUE(verify_consistency(0, empty, 8, hash_of(roots[8]), {}));
    EXPECT_FALSE(verify_consistency(0, hash_of(roots[1]), 8, hash_of(roots[8]), {}));
}

} // namespace
