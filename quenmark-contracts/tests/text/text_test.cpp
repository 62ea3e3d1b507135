#include "quenmark/text/text.h"

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

TEST(Utf8, AcceptsWellFormedAndLocatesMalformedSequences)
{
    struct Utf8Case {
        std::string_view input;
        std::optional<std::size_t> first_invalid;
    };
    using namespace std::string_view_literals;
    std::vector<Utf8Case> const cases {
        { "", std::nullopt },
        { "ascii", std::nullopt },
        { "\u00E9\u20AC\U0001F600\U0010FFFF", std::nullopt },
        { "nul\0inside"sv, std::nullopt },
        { "\x80", 0 },                 // lone continuation byte
        { "\xC3", 0 },                 // truncated two-byte sequence
        { "\xE2\x82", 0 },             // truncated three-byte sequence
        { "\xC0\x80", 0 },             // overlong NUL
        { "\xE0\x80\x80", 0 },         // overlong three-byte form
        { "\xF0\x80\x80\x80", 0 },     // overlong four-byte form
        { "\xED\xA0\x80", 0 },         // UTF-16 surrogate
        { "\xF4\x90\x80\x80", 0 },     // above U+10FFFF
        { "\xFF", 0 },
        { "ok\xC3(", 2 },
        { "\u00E9\xF0\x9F\x98", 2 },     // a four-byte sequence cut short after a valid one
        { "\xF0\x9F\x98\x80\xF0\x9F\x98\x80 \xC3\xA9\xA9", 11 },
        // Past the first 64 bytes, where the fast check works in blocks.
        { "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123\xE0\xA0", 68 },
    };
    for (auto const& [input, first_invalid] : cases) {
        EXPECT_EQ(quenmark::is_valid_utf8(input), !first_invalid) << quoted(input);
        EXPECT_EQ(quenmark::first_invalid_utf8(input), first_invalid) << quoted(input);
    }
}

// The fast check and the locator of the first bad byte must agree, or a
// malformed file would be refused without a position. Every lead byte is
// tried with every second byte, between text on both sides.
TEST(Utf8, FastCheckAndLocatorAgreeOnEveryLeadAndSecondByte)
{
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        for (unsigned second = 0; second <= 0xFF; ++second) {
            for (std::string_view const tail : { "", "\x80", "\xBF\xBF", "\x80\x80x" }) {
                std::string text = "ab";
                text += static_cast<char>(lead);
                text += static_cast<char>(second);
                text += tail;
                auto const first_invalid = quenmark::first_invalid_utf8(text);
                ASSERT_EQ(quenmark::is_valid_utf8(text), !first_invalid) << quoted(text);
                ASSERT_GE(first_invalid.value_or(2), 2U) << quoted(text);
            }
        }
    }
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

TEST(ParseHex, ReadsEachTwoCharacterGroupAsAnUnsignedNumber)
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
    for (auto const& [group, value] : cases) {
        std::array<std::uint8_t, 1> byte {};
        auto const read = quenmark::parse_hex(group, byte);
        EXPECT_EQ(read ? std::optional(byte[0]) : std::nullopt, value) << quoted(group);
    }
}

TEST(ParseHex, ReadsTwoCharactersPerByteAndNamesTheFirstFault)
{
    using Kind = quenmark::HexFault::Kind;
    struct HexTextCase {
        std::string_view text;
        std::size_t size;
        // The bytes read, written back as hex, or the fault and its group.
        std::string_view bytes;
        std::optional<Kind> fault;
        std::string_view group;
    };
    std::vector<HexTextCase> const cases {
        { "", 0, "", std::nullopt, "" },
        { "00ff7F", 3, "00ff7f", std::nullopt, "" },
        { "+f+0", 2, "0f00", std::nullopt, "" },
        { "00ff", 3, "", Kind::WrongLength, "" },
        { "00ff7", 3, "", Kind::WrongLength, "" },
        { "00ff7fa", 3, "", Kind::WrongLength, "" },
        { "00gf", 2, "", Kind::InvalidGroup, "gf" },
        { "0-1f", 2, "", Kind::InvalidGroup, "0-" },
        { "zz\xC3\xA9", 2, "", Kind::InvalidGroup, "zz" },
        // The group boundary falls inside "é" (two bytes): the first fault
        // is the group that begins or ends inside it.
        { "0\xC3\xA9" "f", 2, "", Kind::NotAscii, "0\xC3" },
        { "00\xC3\xA9", 2, "", Kind::InvalidGroup, "\xC3\xA9" },
        { "\xE2\x82\xAC" "0", 2, "", Kind::NotAscii, "\xE2\x82" },
        { "00\xE2\x82\xAC" "0", 3, "", Kind::NotAscii, "\xE2\x82" },
    };
    for (auto const& row : cases) {
        std::vector<std::uint8_t> bytes(row.size);
        auto const read = quenmark::parse_hex(row.text, bytes);
        ASSERT_EQ(read.has_value(), !row.fault) << quoted(row.text);
        if (!read) {
            EXPECT_EQ(read.error().kind, *row.fault) << quoted(row.text);
            EXPECT_EQ(read.error().group, row.group) << quoted(row.text);
            continue;
        }
        std::string written;
        quenmark::append_hex(written, bytes);
        EXPECT_EQ(written, row.bytes) << quoted(row.text);
    }
}

TEST(AppendHex, WritesLowercaseHighNibbleFirst)
{
    std::array<std::uint8_t, 5> const bytes { 0x00, 0x0F, 0xAB, 0xF0, 0xFF };
    std::string out = "x:";
    quenmark::append_hex(out, bytes);
    EXPECT_EQ(out, "x:000fabf0ff");
}

} // namespace
