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

json::Value const& member(json::Value const& object, std::string_view name)
{
    return *json::find_member(std::get<json::Object>(object.data), name);
}

std::uint64_t number(json::Value const& object, std::string_view name)
{
    return std::get<std::uint64_t>(member(object, name).data);
}

// Each hex text of an array as bytes.
std::vector<std::string> bytes_of(json::Value const& texts)
{
    std::vector<std::string> all;
    for (json::Value const& text : std::get<json::Array>(texts.data)) {
        std::string const& hex = std::get<std::string>(text.data);
        std::vector<std::uint8_t> bytes(hex.size() / 2);
        EXPECT_TRUE(parse_hex(hex, bytes).has_value()) << hex;
        all.emplace_back(bytes.begin(), bytes.end());
    }
    return all;
}

std::vector<MerkleHash> hashes_of(json::Value const& texts)
{
    std::vector<MerkleHash> hashes;
    for (std::string const& bytes : bytes_of(texts))
        std::copy(bytes.begin(), bytes.end(), hashes.emplace_back().begin());
    return hashes;
}

std::vector<MerkleHash> leaf_hashes()
{
    std::vector<MerkleHash> leaves;
    for (std::string const& input : bytes_of(*json::find_member(vectors(), "leaf_inputs_hex")))
        leaves.push_back(leaf_hash(input));
    return leaves;
}

std::vector<MerkleHash> roots() { return hashes_of(*json::find_member(vectors(), "roots_by_size_hex")); }

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
    ASSERT_EQ(roots().size(), leaves.size() + 1);
    for (std::size_t size = 0; size <= leaves.size(); ++size)
        EXPECT_EQ(tree_hash(std::span(leaves).first(size)), roots()[size]) << size;
}

TEST(Merkle, AuditPathsOfEveryLeafAndTheirChecks)
{
    auto const leaves = leaf_hashes();
    for (json::Value const& row : std::get<json::Array>(json::find_member(vectors(), "inclusion")->data)) {
        std::uint64_t const size = number(row, "tree_size");
        std::uint64_t const index = number(row, "leaf_index");
        SCOPED_TRACE(std::to_string(index) + " of " + std::to_string(size));
        auto const path = hashes_of(member(row, "audit_path"));
        MerkleHash const root = roots()[size];
        EXPECT_EQ(inclusion_proof(std::span(leaves).first(size), index), path);
        EXPECT_TRUE(verify_inclusion(leaves[index], index, size, path, root));

        EXPECT_FALSE(verify_inclusion(leaves[(index + 1) % leaves.size()], index, size, path, root));
        EXPECT_FALSE(verify_inclusion(leaves[index], size, size, path, root));
        EXPECT_FALSE(verify_inclusion(leaves[index], index ^ 1U, size, path, root));
        for (auto const& copy : tampered(path, root))
            EXPECT_FALSE(verify_inclusion(leaves[index], index, size, copy, root));
    }
}

TEST(Merkle, ConsistencyProofsOfEveryPairOfSizesAndTheirChecks)
{
    auto const leaves = leaf_hashes();
    for (json::Value const& row : std::get<json::Array>(json::find_member(vectors(), "consistency")->data)) {
        std::uint64_t const old_size = number(row, "old_size");
        std::uint64_t const size = number(row, "new_size");
        SCOPED_TRACE(std::to_string(old_size) + " to " + std::to_string(size));
        auto const proof = hashes_of(member(row, "proof"));
        EXPECT_EQ(consistency_proof(std::span(leaves).first(size), old_size), proof);
        EXPECT_TRUE(verify_consistency(old_size, roots()[old_size], size, roots()[size], proof));

        EXPECT_FALSE(verify_consistency(old_size, roots()[old_size - 1], size, roots()[size], proof));
        EXPECT_EQ(verify_consistency(size, roots()[size], old_size, roots()[old_size], proof), old_size == size);
        for (auto const& copy : tampered(proof, roots()[size]))
            EXPECT_FALSE(verify_consistency(old_size, roots()[old_size], size, roots()[size], copy));
    }
    // The empty tree begins every tree, with nothing to show for it.
    EXPECT_TRUE(consistency_proof(leaves, 0).empty());
    EXPECT_TRUE(verify_consistency(0, roots()[0], 8, roots()[8], {}));
    EXPECT_FALSE(verify_consistency(0, roots()[1], 8, roots()[8], {}));
}

} // namespace
