#include "quenmark/ids/uuid.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenmark::Slug;
using quenmark::Uuid;

constexpr std::string_view canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";

TEST(UuidParse, AcceptsTheFourShapesInEitherCase)
{
    std::vector<std::string_view> const shapes {
        "67e55044-10b1-426f-9247-bb680e5fe0c8",
        "67E55044-10B1-426F-9247-BB680E5FE0C8",
        "67e5504410b1426f9247bb680e5fe0c8",
        "67E5504410B1426F9247BB680E5FE0C8",
        "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
        "{67E55044-10b1-426F-9247-bb680e5fe0c8}",
        "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
        "urn:uuid:67E55044-10B1-426F-9247-BB680E5FE0C8",
    };
    for (std::string_view const shape : shapes) {
        auto const uuid = Uuid::parse(shape);
        ASSERT_TRUE(test_support::has_value(uuid)) << shape;
        EXPECT_EQ(uuid->to_string(), canonical) << shape;
    }
}

TEST(UuidParse, RejectsWithTheFirstFault)
{
    struct RejectCase {
        std::string_view input;
        std::string_view message;
    };
    std::vector<RejectCase> const cases {
        { "", "invalid length: found 0" },
        { "abc", "invalid length: found 3" },
        { "67e5504410b1426f9247bb680e5fe0c", "invalid length: found 31" },
        { "67e5504410b1426f9247bb680e5fe0c8aaaa", "invalid length: found 36" },
        { "{67e5504410b1426f9247bb680e5fe0c8}", "invalid length: found 34" },
        { "urn:uuid:67e5504410b1426f9247bb680e5fe0c8", "invalid length: found 41" },
        { "new", "invalid character: found `n` at 1" },
        { "new ", "invalid character: found `n` at 1" },
        { "67e55044-10b1-426f-9247-bb680e5fe0cg", "invalid character: found `g` at 36" },
        { "67e5504410b1426f9247bb680e5fe0cx", "invalid character: found `x` at 32" },
        { "67e55044 10b1-426f-9247-bb680e5fe0c8", "invalid character: found ` ` at 9" },
        { "67e55044-10b1-426f-9247-bb680e5fe0c\n", "invalid character: found `\\n` at 36" },
        { "67e55044-10b1-426f-9247-bb680e5f\u00E9c8", "invalid character: found `\u00E9` at 33" },
        { "[67e55044-10b1-426f-9247-bb680e5fe0c8]", "invalid character: found `[` at 1" },
        { "{67e55044-10b1-426f-9247-bb680e5fe0c8)", "invalid character: found `)` at 38" },
        { "{67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `{` at 1" },
        { "URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `U` at 1" },
        { "urn:uid:67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `i` at 6" },
        { "urn:uuid", "invalid length: found 8" },
        { "uuid", "invalid character: found `u` at 2" },
        { "67e55044-10b1-426f-9247", "invalid group count: expected 5, found 4" },
        { "67e55044-10b1-426f-9247-bb68-e5fe0c8", "invalid group count: expected 5, found 6" },
        { "67e55044-10b1-426f-9247-bb680e5f", "invalid group length in group 5: expected 12, found 8" },
        { "67e5504-410b1-426f-9247-bb680e5fe0c8", "invalid group length in group 1: expected 8, found 7" },
        { "67e55044-10b1-426f9-247-bb680e5fe0c8", "invalid group length in group 3: expected 4, found 5" },
        { "{67e55044-10b-1426f-9247-bb680e5fe0c8}", "invalid group length in group 2: expected 4, found 3" },
    };
    for (auto const& [input, message] : cases)
        EXPECT_EQ(test_support::error_text(Uuid::parse(input)), message) << input;
}

// Every byte value at every position of the hyphenated form: accepted exactly
// where a hyphen or a hex digit belongs, with that digit's value in place;
// refused otherwise with the general parser's wording.
TEST(UuidParse, ReadsEachPositionOfTheHyphenatedForm)
{
    auto const digit_value = [](int byte) -> int {
        if (byte >= '0' && byte <= '9')
            return byte - '0';
        if (byte >= 'a' && byte <= 'f')
            return byte - 'a' + 10;
        if (byte >= 'A' && byte <= 'F')
            return byte - 'A' + 10;
        return -1;
    };
    std::string const expected_text(canonical);
    for (std::size_t position = 0; position < canonical.size(); ++position) {
        bool const hyphen_place = position == 8 || position == 13 || position == 18 || position == 23;
        for (int byte = 0; byte < 256; ++byte) {
            std::string text(canonical);
            text[position] = static_cast<char>(byte);
            auto const uuid = Uuid::parse(text);
            int const value = digit_value(byte);
            bool const valid = hyphen_place ? byte == '-' : value >= 0;
            ASSERT_EQ(test_support::has_value(uuid), valid) << position << " " << byte;
            if (valid) {
                std::string expected = expected_text;
                if (!hyphen_place)
                    expected[position] = "0123456789abcdef"[value];
                EXPECT_EQ(uuid->to_string(), expected) << position << " " << byte;
                continue;
            }
            std::string const message = test_support::error_text(uuid);
            bool const worded = message.starts_with("invalid character: found `")
                || message.starts_with("invalid group count: ") || message.starts_with("invalid group length ");
            EXPECT_TRUE(worded) << position << " " << byte << ": " << message;
        }
    }
}

TEST(UuidText, WritesLowercaseHyphenatedAndShortForms)
{
    Uuid uuid;
    for (std::size_t index = 0; index < uuid.bytes.size(); ++index)
        uuid.bytes[index] = static_cast<std::uint8_t>(0xF0 + index);
    EXPECT_EQ(uuid.to_string(), "f0f1f2f3-f4f5-f6f7-f8f9-fafbfcfdfeff");
    EXPECT_EQ(Uuid {}.to_string(), "00000000-0000-0000-0000-000000000000");

    std::string out = "id ";
    uuid.append_to(out);
    EXPECT_EQ(out, "id f0f1f2f3-f4f5-f6f7-f8f9-fafbfcfdfeff");

    // Eight digits and U+2026, which is three bytes of UTF-8.
    EXPECT_EQ(uuid.short_form(), "f0f1f2f3\u2026");
    EXPECT_EQ(uuid.short_form().size(), 11U);
}

TEST(UuidMint, SetsVersionFourAndTheRfc4122Variant)
{
    std::set<std::string> seen;
    for (int round = 0; round < 200; ++round) {
        std::string const text = Uuid::mint().to_string();
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string_view("89ab").find(text[19]), std::string_view::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200U);
}

TEST(SlugParse, AcceptsValidSlugs)
{
    std::string const longest(64, 'z');
    for (std::string_view const text : { std::string_view("a"), std::string_view("a-b"), std::string_view("training-34"),
             std::string_view("0"), std::string_view(longest) }) {
        auto const slug = Slug::parse(text);
        ASSERT_TRUE(test_support::has_value(slug)) << text;
        EXPECT_EQ(slug->text(), text);
    }
}

TEST(SlugParse, ReportsTheFirstBrokenRule)
{
    struct RejectCase {
        std::string input;
        std::string_view message;
    };
    std::vector<RejectCase> const cases {
        { "", "invalid Slug identifier: must not be empty" },
        { std::string(65, 'a'), "invalid Slug identifier: must be at most 64 bytes, got 65" },
        // The length is checked before the characters.
        { std::string(70, 'A'), "invalid Slug identifier: must be at most 64 bytes, got 70" },
        { "aB", "invalid Slug identifier: may contain only lowercase ASCII letters, digits and hyphens" },
        { "a_b", "invalid Slug identifier: may contain only lowercase ASCII letters, digits and hyphens" },
        { "a b", "invalid Slug identifier: may contain only lowercase ASCII letters, digits and hyphens" },
        { "caf\u00E9", "invalid Slug identifier: may contain only lowercase ASCII letters, digits and hyphens" },
        // The characters are checked before the hyphen rules.
        { "-A", "invalid Slug identifier: may contain only lowercase ASCII letters, digits and hyphens" },
        { "-ab", "invalid Slug identifier: must not start or end with a hyphen" },
        { "ab-", "invalid Slug identifier: must not start or end with a hyphen" },
        { "-", "invalid Slug identifier: must not start or end with a hyphen" },
        { "-a--b", "invalid Slug identifier: must not start or end with a hyphen" },
        { "a--b", "invalid Slug identifier: must not contain consecutive hyphens" },
    };
    for (auto const& [input, message] : cases) {
        auto const slug = Slug::parse(input);
        EXPECT_EQ(test_support::error_text(slug), message) << input;
        if (!slug) {
            EXPECT_EQ(slug.error().kind(), quenmark::ContractError::Kind::InvalidIdentifier);
        }
    }
}

} // namespace
