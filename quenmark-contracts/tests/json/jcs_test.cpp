// The RFC 8785 (JCS) form of the canonical writer: the RFC's own examples
// that need no floating-point numbers, the published eddsa-jcs-2022 vectors
// byte for byte, the UTF-16 key order, and what the form refuses.

#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/text.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;

std::string vector_file(std::string const& name)
{
    std::ifstream file(std::string(QUENMARK_TEST_VECTORS) + "/eddsa-jcs-2022/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The JCS bytes of a JSON text read into the value model, or the error's text.
std::string jcs_of_text(std::string_view text)
{
    auto const value = quenmark::json::parse_value(text);
    if (!value)
        return "read error: " + value.error();
    auto const bytes = quenmark::json::jcs_bytes(*value);
    return bytes ? *bytes : "error: " + bytes.error().text();
}

std::string jcs_or_error(Value const& value)
{
    auto const bytes = quenmark::json::jcs_bytes(value);
    return bytes ? *bytes : "error: " + bytes.error().text();
}

struct JcsCase {
    char const* name;
    std::string input; // JSON text
    std::string expected;
};

std::vector<JcsCase> jcs_cases()
{
    return {
        // RFC 8785 section 3.2.3: keys sorted by UTF-16 code units, so the
        // emoji (a surrogate pair, D83D DE00) comes before U+FB33.
        { "the RFC's sorting example",
            R"({
                 "\u20ac": "Euro Sign",
                 "\r": "Carriage Return",
                 "\ufb33": "Hebrew Letter Dalet With Dagesh",
                 "1": "One",
                 "\ud83d\ude00": "Emoji: Grinning Face",
                 "\u0080": "Control",
                 "\u00f6": "Latin Small Letter O With Diaeresis"
               })",
            "{\"\\r\":\"Carriage Return\",\"1\":\"One\",\"\xC2\x80\":\"Control\","
            "\"\xC3\xB6\":\"Latin Small Letter O With Diaeresis\",\"\xE2\x82\xAC\":\"Euro Sign\","
            "\"\xF0\x9F\x98\x80\":\"Emoji: Grinning Face\",\"\xEF\xAC\xB3\":\"Hebrew Letter Dalet With Dagesh\"}" },
        // RFC 8785 section 3.2.2.2, without its member of floating-point numbers.
        { "the RFC's string and literals example",
            R"({
                 "string": "\u20ac$\u000F\u000aA'\u0042\u0022\u005c\\\"\/",
                 "literals": [null, true, false]
               })",
            "{\"literals\":[null,true,false],\"string\":\"\xE2\x82\xAC$\\u000f\\nA'B\\\"\\\\\\\\\\\"/\"}" },
        { "every short escape and the other controls in lower case", R"(["\b\t\n\f\r\u0000\u001F\u007f"])",
            "[\"\\b\\t\\n\\f\\r\\u0000\\u001f\x7F\"]" },
        { "nothing is composed: e and acute stay two characters, and a key of them differs from the precomposed one",
            R"({"\u00e9": 1, "e\u0301": 2, "x": "e\u0301"})", "{\"e\xCC\x81\":2,\"x\":\"e\xCC\x81\",\"\xC3\xA9\":1}" },
        { "nested objects sorted, arrays kept in order",
            R"({"b": [{"z": 1, "a": 2}, 3], "a": {"d": {}, "c": []}})", R"({"a":{"c":[],"d":{}},"b":[{"a":2,"z":1},3]})" },
        { "a prefix sorts first", R"({"ab": 1, "a": 2, "B": 3})", R"({"B":3,"a":2,"ab":1})" },
        { "integers up to 2^53 - 1 in magnitude as plain decimal",
            R"([0, -0, 9007199254740991, -9007199254740991, 42])", "[0,0,9007199254740991,-9007199254740991,42]" },
        { "an integer beyond 2^53 - 1", R"({"a": [9007199254740992]})",
            "error: canonical serialization failed: integer at a.0 is beyond 2^53 - 1 in magnitude, which RFC 8785 "
            "cannot write exactly" },
        { "a negative integer beyond 2^53 - 1", R"(-9007199254740992)",
            "error: canonical serialization failed: integer at <root> is beyond 2^53 - 1 in magnitude, which RFC 8785 "
            "cannot write exactly" },
        { "a floating-point number", R"({"e\u0301": {"n": [1, 2.5]}})",
            "error: canonical serialization failed: floating-point number at e\xCC\x81.n.1 is not supported in RFC "
            "8785 form; this tool writes none" },
        { "a number with a fraction of zero is still floating-point", R"(1.0)",
            "error: canonical serialization failed: floating-point number at <root> is not supported in RFC 8785 "
            "form; this tool writes none" },
    };
}

TEST(Jcs, BytesForEachCase)
{
    for (auto const& row : jcs_cases())
        EXPECT_EQ(jcs_of_text(row.input), row.expected) << row.name;
}

// The reader refuses a name given twice; a value built by hand can still hold
// one, and the JCS form names it without the signing form's composition note.
TEST(Jcs, DuplicateKeysAsGivenAreRefused)
{
    EXPECT_EQ(jcs_or_error(Value(Object { { "k", Value("a") }, { "j", Value("b") }, { "k", Value("c") } })),
              "error: canonical serialization failed: duplicate object key \"k\"");
    EXPECT_EQ(jcs_of_text(R"({"k": 1, "k": 2})").substr(0, 38), "read error: duplicate field `k` at lin");
}

// The published eddsa-jcs-2022 vectors: the document and the proof options
// as the W3C wrote them, and their JCS forms byte for byte.
TEST(Jcs, PublishedVectors)
{
    EXPECT_EQ(jcs_of_text(vector_file("unsigned.json")), vector_file("canonDocJCS.txt"));
    EXPECT_EQ(jcs_of_text(vector_file("proofConfigJCS.json")), vector_file("proofCanonJCS.txt"));
}

// UTF-16 order against the order of the code units written out, over
// characters on either side of every boundary where UTF-8 and UTF-16 order
// could part: ASCII, two- and three-byte characters, the last before the
// surrogates, the first after them, and four-byte ones.
TEST(Jcs, Utf16OrderAgreesWithCodeUnits)
{
    std::vector<char32_t> const code_points { 0x0, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xEFFF,
        0xF000, 0xFB33, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF };
    auto const utf8 = [](char32_t code_point) {
        std::string text = "k";
        quenmark::append_utf8(text, code_point);
        return text;
    };
    auto const utf16 = [](char32_t code_point) {
        std::u16string units = u"k";
        if (code_point < 0x10000) {
            units.push_back(static_cast<char16_t>(code_point));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10U)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FFU)));
        }
        return units;
    };
    for (char32_t const left : code_points) {
        for (char32_t const right : code_points) {
            EXPECT_EQ(quenmark::json::utf16_less(utf8(left), utf8(right)), utf16(left) < utf16(right))
                << std::hex << static_cast<std::uint32_t>(left) << " " << static_cast<std::uint32_t>(right);
            EXPECT_EQ(quenmark::json::utf16_less(utf8(left) + "z", utf8(right)), utf16(left) + u"z" < utf16(right));
        }
    }
    EXPECT_TRUE(quenmark::json::utf16_less("", "a"));
    EXPECT_FALSE(quenmark::json::utf16_less("a", ""));
    EXPECT_FALSE(quenmark::json::utf16_less("", ""));
}

// The signing form of the same value is unchanged by the second form: it
// still composes and sorts by bytes.
TEST(Jcs, TheSigningFormStaysAsItWas)
{
    Value const value(Object { { "\xEF\xAC\xB3", Value(std::uint64_t { 1 }) }, { "\xF0\x9F\x98\x80", Value("e\xCC\x81") } });
    EXPECT_EQ(jcs_or_error(value), "{\"\xF0\x9F\x98\x80\":\"e\xCC\x81\",\"\xEF\xAC\xB3\":1}");
    auto const signing = quenmark::json::canonical_bytes(value);
    ASSERT_TRUE(test_support::has_value(signing));
    EXPECT_EQ(*signing, "{\"\xEF\xAC\xB3\":1,\"\xF0\x9F\x98\x80\":\"\xC3\xA9\"}");
}

// Any value, through a sink: the pretty writer gives the published signed
// document back from its own reading, members in document order.
TEST(WriteTree, PrettyLayoutInDocumentOrder)
{
    std::string const signed_document = vector_file("signedJCS.json");
    auto const value = quenmark::json::parse_value(signed_document);
    ASSERT_TRUE(value.has_value()) << value.error();
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    ASSERT_TRUE(test_support::has_value(quenmark::json::write_tree(writer, *value)));
    EXPECT_EQ(out, signed_document);

    std::string refused;
    quenmark::json::PrettyWriter refusing(refused);
    EXPECT_EQ(test_support::error_text(quenmark::json::write_tree(refusing, Value(Array { Value(std::uint64_t { 1 }), Value(0.5) }))),
              "canonical serialization failed: floating-point number at 1 cannot be written; this tool writes none");
}

} // namespace
