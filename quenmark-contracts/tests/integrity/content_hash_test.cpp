#include "quenmark/integrity/content_hash.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quenmark::ContentHash;
using quenmark::HashAlgorithm;

// The input pattern of BLAKE3's published test vectors: byte i is i mod 251.
std::string vector_input(std::size_t length)
{
    std::string input(length, '\0');
    for (std::size_t index = 0; index < length; ++index)
        input[index] = static_cast<char>(index % 251);
    return input;
}

std::string zeros(std::size_t count) { return std::string(count, '0'); }

TEST(ContentHash, PublishedDigests)
{
    struct Row {
        std::string input;
        char const* text;
    };
    Row const rows[] = {
        { "", "blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262" },
        { "abc", "blake3:6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85" },
        { vector_input(1025), "blake3:d00278ae47eb27b34faecf67b4fe263f82d5412916c1ffd97c8cb7fb814b8444" },
    };
    for (auto const& row : rows) {
        ContentHash const hash = ContentHash::of_bytes(row.input);
        EXPECT_EQ(hash.to_text(), row.text) << row.input.size() << " bytes";
        auto parsed = ContentHash::parse(row.text);
        ASSERT_TRUE(test_support::has_value(parsed));
        EXPECT_EQ(*parsed, hash);
    }
}

TEST(ContentHash, ParseAcceptsEitherCaseAndPlusGroups)
{
    std::string const digest = "AF1349B9F5F9A1A6A0404DEA36DCC9499BCB25C9ADC112B7CC9A93CAE41F3262";
    auto upper = ContentHash::parse("blake3:" + digest);
    ASSERT_TRUE(test_support::has_value(upper));
    EXPECT_EQ(*upper, ContentHash::of_bytes(std::string_view()));

    auto plus = ContentHash::parse("blake3:+a+F" + zeros(60));
    ASSERT_TRUE(test_support::has_value(plus));
    EXPECT_EQ(plus->digest[0], 0x0a);
    EXPECT_EQ(plus->digest[1], 0x0f);
    EXPECT_EQ(plus->to_text(), "blake3:0a0f" + zeros(60));
}

TEST(ContentHash, Sha256IsReadAndWrittenButNeverComputed)
{
    std::string const text = "sha256:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262";
    auto parsed = ContentHash::parse(text);
    ASSERT_TRUE(test_support::has_value(parsed));
    EXPECT_EQ(parsed->algorithm, HashAlgorithm::Sha256);
    EXPECT_EQ(parsed->to_text(), text);
    EXPECT_NE(*parsed, ContentHash::of_bytes(std::string_view()));
}

TEST(ContentHash, ParseRejectsWithTheFirstFailingRule)
{
    struct Row {
        std::string input;
        std::string message;
    };
    Row const rows[] = {
        { "blake3", "validation failed: content hash must be 'algorithm:hex', got \"blake3\"" },
        { "", "validation failed: content hash must be 'algorithm:hex', got \"\"" },
        { "BLAKE3:" + zeros(64), "unknown or rejected algorithm: BLAKE3" },
        { ":" + zeros(64), "unknown or rejected algorithm: " },
        { "blake3:" + zeros(63), "validation failed: content hash digest must be 64 hex characters, got 63" },
        { "blake3:" + zeros(65), "validation failed: content hash digest must be 64 hex characters, got 65" },
        { "BLAKE3:" + zeros(3), "unknown or rejected algorithm: BLAKE3" },
        { "blake3:0g" + zeros(62), "validation failed: invalid hex in content hash: \"0g\"" },
        { "blake3:" + zeros(62) + "-1", "validation failed: invalid hex in content hash: \"-1\"" },
        { "blake3::" + zeros(63), "validation failed: invalid hex in content hash: \":0\"" },
        // A two-byte character at an odd offset splits a group; at an even one it fills a group.
        { "blake3:0\xC3\xA9" + zeros(61), "validation failed: content hash digest is not ASCII" },
        { "blake3:\xC3\xA9" + zeros(62), "validation failed: invalid hex in content hash: \"\xC3\xA9\"" },
        { "blake3:" + zeros(62) + "\xC3\xA9", "validation failed: invalid hex in content hash: \"\xC3\xA9\"" },
        { "blake3:\xE2\x82\xAC" + zeros(61), "validation failed: content hash digest is not ASCII" },
        // The first bad group decides, whichever rule it breaks.
        { "blake3:zz0\xC3\xA9" + zeros(59), "validation failed: invalid hex in content hash: \"zz\"" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(ContentHash::parse(row.input)), row.message) << row.input;
}

} // namespace
