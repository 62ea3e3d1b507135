#include "quenmark/text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenmark::quoted;

struct TextCase {
    std::string_view input;
    std::string_view expected;
};

TEST(Quoted, EscapesExactlyTheDocumentedCharacters)
{
    using namespace std::string_view_literals;
    std::vector<TextCase> const cases {
        { "plain text", "\"plain text\"" },
        { "", "\"\"" },
        { "a\tb", "\"a\\tb\"" },
        { "line\nnext", "\"line\\nnext\"" },
        { "cr\r", "\"cr\\r\"" },
        { "nul\0end"sv, "\"nul\\0end\"" },
        { "say \"hi\"", "\"say \\\"hi\\\"\"" },
        { "back\\slash", "\"back\\\\slash\"" },
        { "it's", "\"it's\"" },
        // Combining acute accent (Grapheme_Extend).
        { "e\u0301", "\"e\\u{301}\"" },
        // Zero width space (Cf), no-break space (Zs), ideographic space (Zs).
        { "a\u200Bb", "\"a\\u{200b}b\"" },
        { "a\u00A0b", "\"a\\u{a0}b\"" },
        { "\u3000", "\"\\u{3000}\"" },
        // Controls other than the four named ones, and U+0085 (Cc).
        { "\x01\x1F\x7F", "\"\\u{1}\\u{1f}\\u{7f}\"" },
        { "\u0085", "\"\\u{85}\"" },
        // Line and paragraph separators (Zl, Zp), byte order mark (Cf).
        { "\u2028\u2029\uFEFF", "\"\\u{2028}\\u{2029}\\u{feff}\"" },
        // Private use (Co) and unassigned (Cn) code points.
        { "\uE000", "\"\\u{e000}\"" },
        { "\u0378", "\"\\u{378}\"" },
        { "\U0010FFFF", "\"\\u{10ffff}\"" },
        // Variation selector 16 is Grapheme_Extend.
        { "\uFE0F", "\"\\u{fe0f}\"" },
        // Letters and symbols of any script are kept as they are.
        { "caf\u00E9 \u65E5\u672C \U0001F600", "\"caf\u00E9 \u65E5\u672C \U0001F600\"" },
        { "\u00C5ngstr\u00F6m", "\"\u00C5ngstr\u00F6m\"" },
        // Bytes that are not UTF-8 are shown by value.
        { "a\xFF", "\"a\\xff\"" },
        { "\xC3", "\"\\xc3\"" },
    };
    for (auto const& [input, expected] : cases)
        EXPECT_EQ(quoted(input), expected) << "input: " << input;
}

TEST(Blank, UsesTheUnicodeWhiteSpaceProperty)
{
    struct BlankCase {
        std::string_view input;
        bool blank;
    };
    std::vector<BlankCase> const cases {
        { "", true },
        { "   ", true },
        { "\u3000", true },
        { "\t\n\v\f\r ", true },
        { "\u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F", true },
        { " a ", false },
        // Zero width space and the Mongolian vowel separator are not White_Space.
        { "\u200B", false },
        { "\u180E", false },
        { "\u200B ", false },
        { "\x1C", false },
    };
    for (auto const& [input, blank] : cases)
        EXPECT_EQ(quenmark::is_blank(input), blank) << quoted(input);
}

TEST(TrimWhiteSpace, RemovesWhiteSpaceFromBothEndsOnly)
{
    std::vector<TextCase> const cases {
        { "  a b \u3000", "a b" },
        { "\u00A0x\u2029", "x" },
        { "\n\t", "" },
        { "x", "x" },
        { "\u200Bx ", "\u200Bx" },
        { "\u00E9 \u00E9", "\u00E9 \u00E9" },
    };
    for (auto const& [input, expected] : cases)
        EXPECT_EQ(quenmark::trim_white_space(input), expected) << quoted(input);
}

TEST(Utf8, AcceptsWellFormedAndRefusesMalformedSequences)
{
    struct Utf8Case {
        std::string_view input;
        bool valid;
    };
    using namespace std::string_view_literals;
    std::vector<Utf8Case> const cases {
        { "", true },
        { "ascii", true },
        { "\u00E9\u20AC\U0001F600\U0010FFFF", true },
        { "nul\0inside"sv, true },
        { "\x80", false },             // lone continuation byte
        { "\xC3", false },             // truncated two-byte sequence
        { "\xE2\x82", false },         // truncated three-byte sequence
        { "\xC0\x80", false },         // overlong NUL
        { "\xE0\x80\x80", false },     // overlong three-byte form
        { "\xF0\x80\x80\x80", false }, // overlong four-byte form
        { "\xED\xA0\x80", false },     // UTF-16 surrogate
        { "\xF4\x90\x80\x80", false }, // above U+10FFFF
        { "\xFF", false },
        { "ok\xC3(", false },
    };
    for (auto const& [input, valid] : cases)
        EXPECT_EQ(quenmark::is_valid_utf8(input), valid) << quoted(input);
}

TEST(Utf8, EncodesAndDecodesEveryLength)
{
    std::array<char32_t, 8> const code_points { 0x0, 0x41, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10FFFF };
    std::string text;
    for (char32_t const code_point : code_points)
        quenmark::append_utf8(text, code_point);
    EXPECT_EQ(text.size(), 1U + 1 + 1 + 2 + 2 + 3 + 3 + 4);
    ASSERT_TRUE(quenmark::is_valid_utf8(text));

    std::size_t index = 0;
    for (char32_t const code_point : code_points)
        EXPECT_EQ(quenmark::next_code_point(text, index), code_point);
    EXPECT_EQ(index, text.size());

    std::string euro;
    quenmark::append_utf8(euro, 0x20AC);
    EXPECT_EQ(euro, "\xE2\x82\xAC");
}

TEST(Decimal, WritesTheFullRangeOfBothTypes)
{
    EXPECT_EQ(quenmark::decimal(std::uint64_t { 0 }), "0");
    EXPECT_EQ(quenmark::decimal(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(quenmark::decimal(std::int64_t { -42 }), "-42");
    EXPECT_EQ(quenmark::decimal(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");

    std::string out = "n=";
    quenmark::append_decimal(out, std::int64_t { 64 });
    EXPECT_EQ(out, "n=64");
}

TEST(ParseHexGroup, ReadsTwoCharacterGroups)
{
    struct HexCase {
        std::string_view group;
        std::optional<std::uint8_t> value;
    };
    std::vector<HexCase> const cases {
        { "00", 0x00 },
        { "ff", 0xFF },
        { "FF", 0xFF },
        { "aB", 0xAB },
        { "7f", 0x7F },
        // An unsigned number may carry a leading plus sign.
        { "+f", 0x0F },
        { "+0", 0x00 },
        { "-1", std::nullopt },
        { "++", std::nullopt },
        { "+", std::nullopt },
        { "f+", std::nullopt },
        { "g0", std::nullopt },
        { " f", std::nullopt },
        { "f ", std::nullopt },
        { "0x", std::nullopt },
        { "", std::nullopt },
        { "0", std::nullopt },
        { "000", std::nullopt },
        // Half of a multi-byte character is never a digit.
        { "\xC3\xA9", std::nullopt },
        { "+\xC3", std::nullopt },
    };
    for (auto const& [group, value] : cases)
        EXPECT_EQ(quenmark::parse_hex_group(group), value) << quoted(group);
}

TEST(AppendHex, WritesLowercaseHighNibbleFirst)
{
    std::array<std::uint8_t, 5> const bytes { 0x00, 0x0F, 0xAB, 0xF0, 0xFF };
    std::string out = "x:";
    quenmark::append_hex(out, bytes.data(), bytes.size());
    EXPECT_EQ(out, "x:000fabf0ff");
}

} // namespace
