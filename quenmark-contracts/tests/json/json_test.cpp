#include "quenmark/json/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;

// An object with its keys in byte order, a repeated key keeping its last value.
Value object(std::vector<std::pair<std::string, Value>> members)
{
    Object result;
    for (auto& [key, value] : members) {
        auto const position = std::ranges::lower_bound(result, key, {}, &std::pair<std::string, Value>::first);
        if (position != result.end() && position->first == key)
            position->second = std::move(value);
        else
            result.emplace(position, std::move(key), std::move(value));
    }
    return Value(std::move(result));
}

Value integer(std::int64_t value) { return Value(value); }

std::string canonical_or_error(Value const& value)
{
    auto bytes = quenmark::json::canonical_bytes(value);
    return bytes ? *bytes : "error: " + bytes.error().text();
}

struct CanonicalCase {
    char const* name;
    Value input;
    std::string expected;
};

std::vector<CanonicalCase> canonical_cases()
{
    return {
        { "members sorted, arrays kept in order",
            object({ { "b", integer(1) }, { "a", Array { Value(true), Value(nullptr), Value("x") } } }),
            R"({"a":[true,null,"x"],"b":1})" },
        { "capital letters sort before small ones, prefixes first",
            object({ { "ab", integer(3) }, { "a", integer(2) }, { "B", integer(1) } }), R"({"B":1,"a":2,"ab":3})" },
        { "members given out of order are sorted",
            Value(Object { { "b", integer(1) }, { "a", integer(2) } }), R"({"a":2,"b":1})" },
        { "e and acute compose", Value("e\xCC\x81"), "\"\xC3\xA9\"" },
        { "a second acute stays", Value("e\xCC\x81\xCC\x81"), "\"\xC3\xA9\xCC\x81\"" },
        { "A and macron is not a pair", Value("A\xCC\x84"), "\"A\xCC\x84\"" },
        { "Y and diaeresis is not a pair", Value("Y\xCC\x88"), "\"Y\xCC\x88\"" },
        { "precomposed letters stay", Value("\xC3\xA9"), "\"\xC3\xA9\"" },
        { "composition in the middle of text", Value("caf\x65\xCC\x81 n\xCC\x83o"), "\"caf\xC3\xA9 \xC3\xB1o\"" },
        { "keys sort after composition", object({ { "e\xCC\x81", integer(1) }, { "f", integer(2) } }),
            "{\"f\":2,\"\xC3\xA9\":1}" },
        { "escapes", Value("q\" b\\ \b\t\n\f\r \x01\x1F"), R"("q\" b\\ \b\t\n\f\r \u0001\u001f")" },
        { "line feed and U+0001 escaped, solidus and e-acute not", Value("a\n\x01/\xC3\xA9"),
            "\"a\\n\\u0001/\xC3\xA9\"" },
        { "U+007F written as itself", Value("\x7F"), "\"\x7F\"" },
        { "NUL escaped", Value(std::string("a\0b", 3)), R"("a\u0000b")" },
        { "a mark with no base letter stays", Value("\xCC\x81" "e A\xCC\x8A"), "\"\xCC\x81" "e \xC3\x85\"" },
        { "text outside ASCII and outside the BMP as itself", Value("\xE6\x97\xA5 \xF0\x9F\x98\x80"),
            "\"\xE6\x97\xA5 \xF0\x9F\x98\x80\"" },
        { "keys sort on their bytes, not on their escapes",
            Value(Object { { "a#", integer(1) }, { "a\"", integer(2) }, { "a!", integer(3) }, { "a\n", integer(4) } }),
            R"({"a\n":4,"a!":3,"a\"":2,"a#":1})" },
        { "long ASCII text with an escape past the first eight bytes", Value("abcdefghijklmnop\"qrstuvwxyz"),
            R"("abcdefghijklmnop\"qrstuvwxyz")" },
        { "integers at their limits",
            object({ { "max", Value(std::numeric_limits<std::uint64_t>::max()) },
                { "min", integer(std::numeric_limits<std::int64_t>::min()) }, { "zero", integer(0) },
                { "minus", integer(-7) } }),
            R"({"max":18446744073709551615,"min":-9223372036854775808,"minus":-7,"zero":0})" },
        { "empty containers", object({ { "o", Object {} }, { "a", Array {} } }), R"({"a":[],"o":{}})" },
        { "nested objects with decomposed keys",
            object({ { "x", object({ { "o\xCC\x88", Value(false) }, { "a", Value("s\xCC\x8C") } }) } }),
            "{\"x\":{\"a\":\"\xC5\xA1\",\"\xC3\xB6\":false}}" },
        { "equal keys as given", Value(Object { { "k", integer(1) }, { "k", integer(2) } }),
            "error: canonical serialization failed: duplicate object key \"k\" after Unicode normalisation" },
        { "a duplicate inside an earlier member is reported before a later floating-point number",
            Value(Object { { "a", object({ { "\xC3\xA9", integer(1) }, { "e\xCC\x81", integer(2) } }) },
                { "b", Value(0.5) } }),
            "error: canonical serialization failed: duplicate object key \"\xC3\xA9\" after Unicode normalisation" },
        { "duplicate key after composition",
            object({ { "\xC3\xA9", integer(1) }, { "e\xCC\x81", integer(2) } }),
            "error: canonical serialization failed: duplicate object key \"\xC3\xA9\" after Unicode normalisation" },
        { "floating-point number inside members and an array",
            object({ { "data", object({ { "scores", Array { integer(1), integer(2), Value(0.5) } } }) } }),
            "error: canonical serialization failed: floating-point number at data.scores.2 cannot be canonicalised; "
            "use an integer or a decimal string in signed contracts" },
        { "floating-point number as the whole value", Value(1.0),
            "error: canonical serialization failed: floating-point number at <root> cannot be canonicalised; "
            "use an integer or a decimal string in signed contracts" },
        { "path names the composed key", object({ { "k", object({ { "e\xCC\x81", Array { Value(2.5) } } }) } }),
            "error: canonical serialization failed: floating-point number at k.\xC3\xA9.0 cannot be canonicalised; "
            "use an integer or a decimal string in signed contracts" },
        { "a bad value is reported before a duplicate key",
            object({ { "\xC3\xA9", integer(1) }, { "e\xCC\x81", Value(0.25) } }),
            "error: canonical serialization failed: floating-point number at \xC3\xA9 cannot be canonicalised; "
            "use an integer or a decimal string in signed contracts" },
    };
}

TEST(CanonicalJson, BytesForEachCase)
{
    for (auto const& row : canonical_cases())
        EXPECT_EQ(canonical_or_error(row.input), row.expected) << row.name;
}

struct Composition {
    char base;
    char32_t mark;
    char32_t composed;
};

// The 57 pairs, row by row from the table of base letters and marks.
constexpr Composition compositions[] = {
    { 'A', 0x300, 0xC0 }, { 'A', 0x301, 0xC1 }, { 'A', 0x302, 0xC2 }, { 'A', 0x303, 0xC3 }, { 'A', 0x308, 0xC4 },
    { 'A', 0x30A, 0xC5 }, { 'C', 0x30C, 0x10C }, { 'E', 0x300, 0xC8 }, { 'E', 0x301, 0xC9 }, { 'E', 0x302, 0xCA },
    { 'E', 0x308, 0xCB }, { 'I', 0x300, 0xCC }, { 'I', 0x301, 0xCD }, { 'I', 0x302, 0xCE }, { 'I', 0x308, 0xCF },
    { 'N', 0x303, 0xD1 }, { 'O', 0x300, 0xD2 }, { 'O', 0x301, 0xD3 }, { 'O', 0x302, 0xD4 }, { 'O', 0x303, 0xD5 },
    { 'O', 0x308, 0xD6 }, { 'S', 0x30C, 0x160 }, { 'U', 0x300, 0xD9 }, { 'U', 0x301, 0xDA }, { 'U', 0x302, 0xDB },
    { 'U', 0x308, 0xDC }, { 'Y', 0x301, 0xDD }, { 'Z', 0x30C, 0x17D }, { 'a', 0x300, 0xE0 }, { 'a', 0x301, 0xE1 },
    { 'a', 0x302, 0xE2 }, { 'a', 0x303, 0xE3 }, { 'a', 0x308, 0xE4 }, { 'a', 0x30A, 0xE5 }, { 'c', 0x30C, 0x10D },
    { 'e', 0x300, 0xE8 }, { 'e', 0x301, 0xE9 }, { 'e', 0x302, 0xEA }, { 'e', 0x308, 0xEB }, { 'i', 0x300, 0xEC },
    { 'i', 0x301, 0xED }, { 'i', 0x302, 0xEE }, { 'i', 0x308, 0xEF }, { 'n', 0x303, 0xF1 }, { 'o', 0x300, 0xF2 },
    { 'o', 0x301, 0xF3 }, { 'o', 0x302, 0xF4 }, { 'o', 0x303, 0xF5 }, { 'o', 0x308, 0xF6 }, { 's', 0x30C, 0x161 },
    { 'u', 0x300, 0xF9 }, { 'u', 0x301, 0xFA }, { 'u', 0x302, 0xFB }, { 'u', 0x308, 0xFC }, { 'y', 0x301, 0xFD },
    { 'y', 0x308, 0xFF }, { 'z', 0x30C, 0x17E },
};

// Two-byte UTF-8 of a code point below U+0800.
std::string utf8(char32_t code_point)
{
    if (code_point < 0x80)
        return std::string(1, static_cast<char>(code_point));
    return { static_cast<char>(0xC0 | (code_point >> 6)), static_cast<char>(0x80 | (code_point & 0x3F)) };
}

TEST(Compose, EveryPairOfTheTableAndNothingElse)
{
    static_assert(std::size(compositions) == 57);
    std::string const bases = "ACEINOSUYZaceinosuyz";
    std::vector<char32_t> const marks = { 0x300, 0x301, 0x302, 0x303, 0x304, 0x308, 0x30A, 0x30B, 0x30C, 0x327 };
    std::size_t composed_count = 0;
    for (char base : bases) {
        for (char32_t mark : marks) {
            std::string const input = std::string(1, base) + utf8(mark);
            std::string expected = input;
            for (auto const& pair : compositions) {
                if (pair.base == base && pair.mark == mark)
                    expected = utf8(pair.composed);
            }
            if (expected != input)
                ++composed_count;
            EXPECT_EQ(quenmark::json::compose(input), expected) << base << " U+" << std::hex << static_cast<std::uint32_t>(mark);
        }
    }
    EXPECT_EQ(composed_count, 57U);
    // A letter outside the table and a mark at the very start stay as they are.
    EXPECT_EQ(quenmark::json::compose("b\xCC\x81\xCC\x81x"), "b\xCC\x81\xCC\x81x");
    EXPECT_EQ(quenmark::json::compose("\xCC\x81" "e"), "\xCC\x81" "e");
}

// Drives a sink with a document that holds every kind of event, with keys
// out of byte order and one that composes.
void describe_sample(quenmark::json::Sink& sink)
{
    sink.begin_object();
    sink.key("assessments");
    sink.begin_array();
    sink.end_array();
    sink.key("record");
    sink.begin_object();
    sink.key("count");
    sink.unsigned_integer(3);
    sink.key("items");
    sink.begin_array();
    sink.string("line\nbreak \"q\" \xC3\xA9");
    sink.signed_integer(-2);
    sink.null();
    sink.boolean(true);
    sink.begin_object();
    sink.end_object();
    sink.begin_array();
    sink.boolean(false);
    sink.end_array();
    sink.end_array();
    sink.key("e\xCC\x81");
    sink.string("x");
    sink.end_object();
    sink.end_object();
}

TEST(PrettyWriter, LayoutOfNestedAndEmptyContainers)
{
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    describe_sample(writer);
    EXPECT_EQ(out,
        "{\n"
        "  \"assessments\": [],\n"
        "  \"record\": {\n"
        "    \"count\": 3,\n"
        "    \"items\": [\n"
        "      \"line\\nbreak \\\"q\\\" \xC3\xA9\",\n"
        "      -2,\n"
        "      null,\n"
        "      true,\n"
        "      {},\n"
        "      [\n"
        "        false\n"
        "      ]\n"
        "    ],\n"
        "    \"e\xCC\x81\": \"x\"\n"
        "  }\n"
        "}");
}

TEST(PrettyWriter, EmptyStoreAndTopLevelValues)
{
    std::string store;
    quenmark::json::PrettyWriter writer(store);
    writer.begin_object();
    for (char const* name : { "assessments", "assignments", "attempts", "completions", "certificates" }) {
        writer.key(name);
        writer.begin_array();
        writer.end_array();
    }
    writer.end_object();
    EXPECT_EQ(store,
        "{\n  \"assessments\": [],\n  \"assignments\": [],\n  \"attempts\": [],\n  \"completions\": [],\n"
        "  \"certificates\": []\n}");

    std::string empty_object;
    quenmark::json::PrettyWriter object_writer(empty_object);
    object_writer.begin_object();
    object_writer.end_object();
    EXPECT_EQ(empty_object, "{}");

    std::string scalar;
    quenmark::json::PrettyWriter scalar_writer(scalar);
    scalar_writer.signed_integer(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(scalar, "-9223372036854775808");
}

// The writer as a sink, after what is already in the buffer: members that
// come out of order are sorted at every level, keys composed first.
TEST(CanonicalWriter, SortsWhatASinkDescribes)
{
    std::string out = "kept";
    quenmark::json::CanonicalWriter writer(out);
    describe_sample(writer);
    EXPECT_TRUE(test_support::has_value(writer.status()));
    EXPECT_EQ(out,
        "kept{\"assessments\":[],\"record\":{\"count\":3,\"items\":[\"line\\nbreak \\\"q\\\" \xC3\xA9\",-2,null,true,"
        "{},[false]],\"\xC3\xA9\":\"x\"}}");

    std::string nested;
    quenmark::json::CanonicalWriter nested_writer(nested);
    nested_writer.begin_array();
    for (int round = 0; round < 2; ++round) {
        nested_writer.begin_object();
        nested_writer.key("z");
        nested_writer.begin_object();
        nested_writer.key("y");
        nested_writer.boolean(true);
        nested_writer.key("x");
        nested_writer.begin_array();
        nested_writer.begin_object();
        nested_writer.key_in_order("b");
        nested_writer.unsigned_integer(2);
        nested_writer.key_in_order("c");
        nested_writer.plain_string("3");
        nested_writer.end_object();
        nested_writer.end_array();
        nested_writer.end_object();
        nested_writer.key("a");
        nested_writer.signed_integer(-1);
        nested_writer.end_object();
    }
    nested_writer.end_array();
    EXPECT_TRUE(test_support::has_value(nested_writer.status()));
    EXPECT_EQ(nested, R"([{"a":-1,"z":{"x":[{"b":2,"c":"3"}],"y":true}},{"a":-1,"z":{"x":[{"b":2,"c":"3"}],"y":true}}])");
}

TEST(CanonicalWriter, NamesTheLowestKeyThatAppearsTwiceAfterComposition)
{
    std::string out;
    quenmark::json::CanonicalWriter writer(out);
    writer.begin_object();
    for (char const* key : { "o\xCC\x88", "m", "\xC3\xB6", "b", "b" }) {
        writer.key(key);
        writer.null();
    }
    writer.end_object();
    EXPECT_EQ(test_support::error_text(writer.status()),
        "canonical serialization failed: duplicate object key \"b\" after Unicode normalisation");
}

TEST(ValueModel, Integers)
{
    // Non-negative signed integers are held as unsigned, so equal numbers compare equal.
    EXPECT_EQ(integer(5), Value(std::uint64_t { 5 }));
    EXPECT_TRUE(std::holds_alternative<std::int64_t>(integer(-5).data));
}

TEST(CanonicalJson, SameValueGivesIdenticalBytes)
{
    Value const value = object({ { "n\xCC\x83", Array { Value("\xC3\xA9"), integer(-1) } }, { "a", Value("b") } });
    EXPECT_EQ(canonical_or_error(value), canonical_or_error(value));
    EXPECT_EQ(canonical_or_error(value), "{\"a\":\"b\",\"\xC3\xB1\":[\"\xC3\xA9\",-1]}");
}


// The escapes written out one byte at a time, as the canonical form defines
// them: the reference the word-at-a-time writer must agree with.
std::string escaped_byte_by_byte(std::string const& text)
{
    std::string out = "\"";
    for (char const character : text) {
        auto const byte = static_cast<unsigned char>(character);
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20U) {
                constexpr char digits[] = "0123456789abcdef";
                out += "\\u00";
                out += digits[byte >> 4U];
                out += digits[byte & 0x0FU];
            } else {
                out += character;
            }
        }
    }
    return out + "\"";
}

TEST(PrettyWriter, StringsEscapedAtEveryLengthAndPosition)
{
    // Bytes next to the escaped ones on either side, and bytes with the top
    // bit set, which a word-at-a-time check must neither miss nor mistake.
    std::string const specials { '"', '\\', '\0', '\x01', '\x1F', '\n', ' ', '!', '#', '[', ']', '\x7F',
        '\x80', '\xA2', '\xDC', '\xFF' };
    for (std::size_t length = 1; length <= 27; ++length) {
        for (std::size_t position = 0; position < length; ++position) {
            for (char const special : specials) {
                std::string text(length, 'a');
                text[position] = special;
                text[length - 1 - position] = special;
                std::string out = "prefix";
                quenmark::json::append_string(out, text);
                ASSERT_EQ(out, "prefix" + escaped_byte_by_byte(text))
                    << "length " << length << ", position " << position << ", byte " << int(special);
            }
        }
    }
    std::string empty;
    quenmark::json::append_string(empty, "");
    EXPECT_EQ(empty, "\"\"");
}

TEST(PrettyWriter, KeysThatNeedEscapingLongKeysAndDeepNesting)
{
    std::string const long_key(70, 'k');
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    writer.begin_object();
    writer.key("tab\there");
    writer.string("v");
    writer.key(long_key);
    writer.unsigned_integer(1);
    writer.end_object();
    EXPECT_EQ(out, "{\n  \"tab\\there\": \"v\",\n  \"" + long_key + "\": 1\n}");

    // Deeper than the run of spaces the writer keeps for indentation.
    constexpr std::size_t depth = 70;
    std::string nested;
    quenmark::json::PrettyWriter nested_writer(nested);
    for (std::size_t level = 0; level < depth; ++level) {
        nested_writer.begin_object();
        nested_writer.key("k");
    }
    nested_writer.null();
    for (std::size_t level = 0; level < depth; ++level)
        nested_writer.end_object();
    std::string expected;
    for (std::size_t level = 0; level < depth; ++level) {
        expected += "{\n";
        expected.append((level + 1) * 2, ' ');
        expected += "\"k\": ";
    }
    expected += "null";
    for (std::size_t level = depth; level > 0; --level) {
        expected += '\n';
        expected.append((level - 1) * 2, ' ');
        expected += '}';
    }
    EXPECT_EQ(nested, expected);
}

} // namespace
