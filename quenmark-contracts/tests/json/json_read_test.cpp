#include "quenmark/json/read.h"

#include "quenmark/json/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenmark::Expected;
using quenmark::unexpected;
using quenmark::json::Read;
using quenmark::json::ValueReader;

constexpr std::array<std::string_view, 3> role_names { "user", "administrator", "auditor" };

struct Tag {
    std::string label;
};

struct Person {
    std::string name;
    std::uint32_t age { 0 };
    std::uint8_t level { 0 };
    std::size_t role { 0 };
    std::optional<std::string> nickname;
    std::vector<Tag> tags;
};

Read<Tag> read_tag(ValueReader& value)
{
    static constexpr std::array<std::string_view, 1> names { "label" };
    Tag tag;
    // Not TRY(value.object(...)): a TRY inside the callback would shadow the outer one.
    auto const members = value.object(names, /*required=*/0b1, [&](std::size_t, ValueReader& member) -> Read<void> {
        tag.label = TRY(member.string());
        return {};
    });
    if (!members)
        return unexpected(members.error());
    return tag;
}

Read<Person> read_person(ValueReader& value)
{
    static constexpr std::array<std::string_view, 6> names { "name", "age", "level", "role", "nickname", "tags" };
    Person person;
    auto const members = value.object(names, /*required=*/0b1111, [&](std::size_t index, ValueReader& member) -> Read<void> {
        switch (index) {
        case 0:
            person.name = TRY(member.string());
            return {};
        case 1:
            person.age = TRY(member.u32());
            return {};
        case 2:
            person.level = TRY(member.u8());
            return {};
        case 3:
            person.role = TRY(member.enumeration(role_names));
            return {};
        case 4:
            if (TRY(member.is_null()))
                person.nickname.reset();
            else
                person.nickname = TRY(member.string());
            return {};
        case 5:
            return member.array([&](ValueReader& element) -> Read<void> {
                person.tags.push_back(TRY(read_tag(element)));
                return {};
            });
        }
        return {};
    });
    if (!members)
        return unexpected(members.error());
    return person;
}

Expected<Person, std::string> parse_person(std::string_view text)
{
    Person person;
    auto result = quenmark::json::read_document(text, [&](ValueReader& root) -> Read<void> {
        person = TRY(read_person(root));
        return {};
    });
    if (!result)
        return unexpected(std::move(result).error());
    return person;
}

// Reads the document with one accessor applied to the root value.
enum class Accessor { U64, U32, U8, String, Boolean, Enum1, Enum2, Enum3, Object, Array, Skip };

Read<std::string> read_with(Accessor accessor, ValueReader& value)
{
    auto text = [](auto result) -> Read<std::string> {
        if (!result)
            return unexpected(std::move(result).error());
        if constexpr (std::is_same_v<std::decay_t<decltype(*result)>, std::string>)
            return *result;
        else if constexpr (std::is_same_v<std::decay_t<decltype(*result)>, bool>)
            return std::string(*result ? "true" : "false");
        else
            return std::to_string(*result);
    };
    static constexpr std::array<std::string_view, 1> one { "user" };
    static constexpr std::array<std::string_view, 2> two { "user", "administrator" };
    switch (accessor) {
    case Accessor::U64:
        return text(value.u64());
    case Accessor::U32:
        return text(value.u32());
    case Accessor::U8:
        return text(value.u8());
    case Accessor::String:
        return text(value.string());
    case Accessor::Boolean:
        return text(value.boolean());
    case Accessor::Enum1:
        return text(value.enumeration(one));
    case Accessor::Enum2:
        return text(value.enumeration(two));
    case Accessor::Enum3:
        return text(value.enumeration(role_names));
    case Accessor::Object:
        return text(value.object({}, 0, [](std::size_t, ValueReader&) -> Read<void> { return {}; }));
    case Accessor::Array:
        if (auto result = value.array([](ValueReader& element) { return element.skip(); }); !result)
            return unexpected(std::move(result).error());
        return std::string("array");
    case Accessor::Skip:
        if (auto result = value.skip(); !result)
            return unexpected(std::move(result).error());
        return std::string("skipped");
    }
    return std::string();
}

// The value read from `text` as a string, or the document's error text.
std::string read_root_as(Accessor accessor, std::string_view text)
{
    std::string value;
    auto result = quenmark::json::read_document(text, [&](ValueReader& root) -> Read<void> {
        value = TRY(read_with(accessor, root));
        return {};
    });
    if (!result)
        return result.error();
    return value;
}

// The same with the value as the only element of an array, which goes
// through simdjson's values rather than its document.
std::string read_element_as(Accessor accessor, std::string_view text)
{
    std::string value;
    std::string document = "[" + std::string(text) + "]";
    auto result = quenmark::json::read_document(document, [&](ValueReader& root) -> Read<void> {
        return root.array([&](ValueReader& element) -> Read<void> {
            value = TRY(read_with(accessor, element));
            return {};
        });
    });
    if (!result)
        return result.error();
    return value;
}

struct AccessorCase {
    Accessor accessor;
    std::string_view value;
    std::string_view expected;
};

TEST(JsonRead, ValuesAndTheirErrors)
{
    // Errors are reported at the value itself; read as an array element the
    // value starts at column 2.
    AccessorCase const cases[] = {
        { Accessor::U32, "4294967295", "4294967295" },
        { Accessor::U8, "255", "255" },
        { Accessor::U64, "18446744073709551615", "18446744073709551615" },
        { Accessor::U64, "-0", "0" },
        { Accessor::String, "\"caf\\u00e9 \\ud83d\\ude00\"", "caf\xc3\xa9 \xf0\x9f\x98\x80" },
        { Accessor::Boolean, "false", "false" },
        { Accessor::Enum3, "\"auditor\"", "2" },
        { Accessor::U32, "\"abc\"", "invalid type: string \"abc\", expected u32 at line 1 column 2" },
        { Accessor::U32, "\"a\\\"b\"", "invalid type: string \"a\\\"b\", expected u32 at line 1 column 2" },
        { Accessor::String, "5", "invalid type: integer `5`, expected a string at line 1 column 2" },
        { Accessor::U32, "null", "invalid type: null, expected u32 at line 1 column 2" },
        { Accessor::U32, "true", "invalid type: boolean `true`, expected u32 at line 1 column 2" },
        { Accessor::U32, "[]", "invalid type: sequence, expected u32 at line 1 column 2" },
        { Accessor::U32, "{}", "invalid type: map, expected u32 at line 1 column 2" },
        { Accessor::U32, "4294967296", "invalid value: integer `4294967296`, expected u32 at line 1 column 2" },
        { Accessor::U8, "256", "invalid value: integer `256`, expected u8 at line 1 column 2" },
        { Accessor::U64, "-1", "invalid value: integer `-1`, expected u64 at line 1 column 2" },
        { Accessor::U32, "-5", "invalid value: integer `-5`, expected u32 at line 1 column 2" },
        { Accessor::U64, "18446744073709551616",
          "invalid value: integer `18446744073709551616`, expected u64 at line 1 column 2" },
        { Accessor::U64, "123456789012345678901234567890",
          "invalid value: integer `123456789012345678901234567890`, expected u64 at line 1 column 2" },
        { Accessor::U32, "1.5", "invalid type: floating point `1.5`, expected u32 at line 1 column 2" },
        { Accessor::U8, "1e3", "invalid type: floating point `1e3`, expected u8 at line 1 column 2" },
        { Accessor::U32, "1e400", "number out of range at line 1 column 2" },
        { Accessor::U32, "01", "invalid number at line 1 column 3" },
        { Accessor::U32, "-x", "invalid number at line 1 column 3" },
        { Accessor::String, "\"a\\qb\"", "invalid escape at line 1 column 5" },
        { Accessor::Boolean, "trux", "expected ident at line 1 column 5" },
        { Accessor::Boolean, "\"yes\"", "invalid type: string \"yes\", expected a boolean at line 1 column 2" },
        { Accessor::Enum3, "\"robot\"",
          "unknown variant `robot`, expected one of `user`, `administrator`, `auditor` at line 1 column 2" },
        { Accessor::Enum2, "\"robot\"", "unknown variant `robot`, expected `user` or `administrator` at line 1 column 2" },
        { Accessor::Enum1, "\"robot\"", "unknown variant `robot`, expected `user` at line 1 column 2" },
        { Accessor::Enum3, "7", "invalid type: integer `7`, expected a string at line 1 column 2" },
        { Accessor::Object, "5", "invalid type: integer `5`, expected a map at line 1 column 2" },
        { Accessor::Array, "\"x\"", "invalid type: string \"x\", expected a sequence at line 1 column 2" },
    };
    for (auto const& row : cases) {
        EXPECT_EQ(read_element_as(row.accessor, row.value), row.expected) << row.value;
        // At the root the same value starts one column earlier.
        std::string root_expected(row.expected);
        if (auto const at = root_expected.rfind(" column "); at != std::string::npos) {
            auto const column = std::stoul(root_expected.substr(at + 8));
            root_expected = root_expected.substr(0, at + 8) + std::to_string(column - 1);
        }
        EXPECT_EQ(read_root_as(row.accessor, row.value), root_expected) << "root " << row.value;
    }
}

struct SyntaxCase {
    std::string_view document;
    std::string_view expected;
};

TEST(JsonRead, MalformedDocumentsFailWithTheirPosition)
{
    SyntaxCase const cases[] = {
        { "", "EOF while parsing a value at line 1 column 1" },
        { "  \n ", "EOF while parsing a value at line 2 column 2" },
        { "[", "EOF while parsing a list at line 1 column 2" },
        { "{", "EOF while parsing an object at line 1 column 2" },
        { "{\"a\"", "EOF while parsing an object at line 1 column 5" },
        { "[1,", "EOF while parsing a value at line 1 column 4" },
        { "{\"a\" 1}", "expected `:` at line 1 column 6" },
        { "{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8" },
        { "[1 2]", "expected `,` or `]` at line 1 column 4" },
        { "[1x]", "expected `,` or `]` at line 1 column 3" },
        { "[1,]", "trailing comma at line 1 column 4" },
        { "{\"a\":1,}", "trailing comma at line 1 column 8" },
        { "{1:2}", "key must be a string at line 1 column 2" },
        { "[1,,2]", "expected value at line 1 column 4" },
        { "[+1]", "expected value at line 1 column 2" },
        { "[.5]", "expected value at line 1 column 2" },
        { "[NaN]", "expected value at line 1 column 2" },
        { "[1.]", "invalid number at line 1 column 4" },
        { "[1e400]", "number out of range at line 1 column 2" },
        { "\"abc", "EOF while parsing a string at line 1 column 5" },
        { "\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3" },
        { "\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 8" },
        { "[\"\\u12\"]", "invalid escape at line 1 column 7" },
        { "{\"k\\x\":1}", "invalid escape at line 1 column 5" },
        { "[nul]", "expected ident at line 1 column 5" },
        { "nul", "EOF while parsing a value at line 1 column 4" },
        { "{} x", "trailing characters at line 1 column 4" },
        { "{}}", "trailing characters at line 1 column 3" },
        { "[1] 2", "trailing characters at line 1 column 5" },
        { "5 6", "trailing characters at line 1 column 3" },
        { "\"\xc3\x28\"", "invalid UTF-8 at line 1 column 2" },
        { "[\"ok\",\n\"\xff\"]", "invalid UTF-8 at line 2 column 2" },
        { "{\"a\":1}\n\xed\xa0\x80", "invalid UTF-8 at line 2 column 1" },
    };
    for (auto const& row : cases)
        EXPECT_EQ(read_root_as(Accessor::Skip, row.document), row.expected) << row.document;
}

TEST(JsonRead, NestingIsLimited)
{
    std::string const opened(10000, '[');
    EXPECT_EQ(read_root_as(Accessor::Skip, opened), "recursion limit exceeded at line 1 column 1025");
    EXPECT_EQ(read_root_as(Accessor::Skip, opened + std::string(10000, ']')),
              "recursion limit exceeded at line 1 column 1025");
    std::string const objects = [] {
        std::string text;
        for (int level = 0; level < 5000; ++level)
            text += "{\"a\":";
        return text;
    }();
    EXPECT_EQ(read_root_as(Accessor::Skip, objects), "recursion limit exceeded at line 1 column 5121");

    auto const deepest = quenmark::json::read_max_depth;
    EXPECT_EQ(read_root_as(Accessor::Skip, std::string(deepest, '[') + std::string(deepest, ']')), "skipped");
}

TEST(JsonRead, RecordErrors)
{
    SyntaxCase const cases[] = {
        { R"({"name":"Ada","age":36,"level":3})", "missing field `role` at line 1 column 1" },
        { R"({"role":"user"})", "missing field `name` at line 1 column 1" },
        { R"({"name":"Ada","name":"Bob","age":36,"level":3,"role":"user"})",
          "duplicate field `name` at line 1 column 15" },
        { R"({"name":"Ada","n\u0061me":"Bob","age":36,"level":3,"role":"user"})",
          "duplicate field `name` at line 1 column 15" },
        { R"({"name":"Ada","age":36,"level":3,"role":"robot"})",
          "unknown variant `robot`, expected one of `user`, `administrator`, `auditor` at line 1 column 41" },
        { R"({"name":"Ada","age":"36","level":3,"role":"user"})",
          "invalid type: string \"36\", expected u32 at line 1 column 21" },
        { R"({"name":"Ada","age":36,"level":300,"role":"user"})",
          "invalid value: integer `300`, expected u8 at line 1 column 32" },
        { R"({"name":"Ada","age":36,"level":3,"role":"user","tags":[{"label":"a"},{}]})",
          "missing field `label` at line 1 column 70" },
        { R"({"name":"Ada","age":36,"level":3,"role":"user","nickname":5})",
          "invalid type: integer `5`, expected a string at line 1 column 59" },
        { R"({"extra":[1,,2],"name":"Ada","age":36,"level":3,"role":"user"})", "expected value at line 1 column 13" },
        { "{\"extra\":\"\xff\",\"name\":\"Ada\",\"age\":36,\"level\":3,\"role\":\"user\"}",
          "invalid UTF-8 at line 1 column 11" },
        { "{\"name\":\"A\xff" "a\",\"age\":36,\"level\":3,\"role\":\"user\"}", "invalid UTF-8 at line 1 column 11" },
        { R"({"name":"Ada","age":36,"level":3,"role":"user"} x)", "trailing characters at line 1 column 49" },
        { R"({"name":"Ada","age":36,"level":3,"role":"user"}})", "trailing characters at line 1 column 48" },
        { "[]", "invalid type: sequence, expected a map at line 1 column 1" },
        { "{\n  \"name\": \"Ada\",\n  \"age\": 36,\n  \"level\": \"3\",\n  \"role\": \"user\"\n}",
          "invalid type: string \"3\", expected u8 at line 4 column 12" },
        { "{\n  \"name\": \"Ada\",\n  \"age\": 36\n}", "missing field `level` at line 1 column 1" },
        { "\n\n   {\"other\": [1, 2,\n  ]}", "trailing comma at line 4 column 3" },
    };
    for (auto const& row : cases)
        EXPECT_EQ(test_support::error_text(parse_person(row.document)), row.expected) << row.document;
}

TEST(JsonRead, ReadsMembersInAnyOrderAndSkipsUnknownOnes)
{
    auto const person = parse_person(R"( {
        "tags": [{"label": "first", "colour": "red"}, {"label": "second"}],
        "unknown": {"deep": [1, -2.5e3, true, false, null, "x\u0041", {"k": []}]},
        "role": "administrator",
        "level": 0,
        "nickname": null,
        "age": 4294967295,
        "unknown": "twice is fine for unknown members",
        "n\u0061me": "Ada \"the first\""
    } )");
    ASSERT_TRUE(test_support::has_value(person));
    EXPECT_EQ(person->name, "Ada \"the first\"");
    EXPECT_EQ(person->age, 4294967295U);
    EXPECT_EQ(person->level, 0);
    EXPECT_EQ(person->role, 1U);
    EXPECT_FALSE(person->nickname.has_value());
    ASSERT_EQ(person->tags.size(), 2U);
    EXPECT_EQ(person->tags[0].label, "first");
    EXPECT_EQ(person->tags[1].label, "second");

    auto const named = parse_person(R"({"nickname":"Countess","role":"user","level":3,"age":36,"name":"Ada"})");
    ASSERT_TRUE(test_support::has_value(named));
    EXPECT_EQ(named->nickname, std::optional<std::string>("Countess"));
}

TEST(JsonRead, ObjectReportsTheMembersSeen)
{
    static constexpr std::array<std::string_view, 3> names { "a", "b", "c" };
    std::uint64_t seen = 0;
    auto const result = quenmark::json::read_document(R"({"c": 1, "z": 2, "a": 3})", [&](ValueReader& root) -> Read<void> {
        seen = TRY(root.object(names, 0, [](std::size_t, ValueReader& value) { return value.skip(); }));
        return {};
    });
    ASSERT_TRUE(test_support::has_value(result));
    EXPECT_EQ(seen, 0b101U);
}

TEST(JsonRead, ValuesLeftUnreadAreStillValidated)
{
    static constexpr std::array<std::string_view, 1> names { "a" };
    auto const ignore_members = [](ValueReader& root) -> Read<void> {
        TRY(root.object(names, 0, [](std::size_t, ValueReader&) -> Read<void> { return {}; }));
        return {};
    };
    EXPECT_TRUE(test_support::has_value(quenmark::json::read_document(R"({"a": {"b": [1]}})", ignore_members)));
    EXPECT_EQ(test_support::error_text(quenmark::json::read_document(R"({"a": [1,,2]})", ignore_members)),
              "expected value at line 1 column 10");
    auto const ignore_root = [](ValueReader&) -> Read<void> { return {}; };
    EXPECT_TRUE(test_support::has_value(quenmark::json::read_document(" [1, {}] ", ignore_root)));
    EXPECT_EQ(test_support::error_text(quenmark::json::read_document("[1, {]", ignore_root)),
              "key must be a string at line 1 column 6");
}

// Reads each element (or the root) as an optional u32, "-" standing for null.
std::string optional_numbers(std::string_view text, bool at_root)
{
    std::string out;
    auto const read_optional = [&](ValueReader& value) -> Read<void> {
        if (TRY(value.is_null())) {
            out += '-';
            return {};
        }
        out += std::to_string(TRY(value.u32()));
        return {};
    };
    auto const result = quenmark::json::read_document(text, [&](ValueReader& root) -> Read<void> {
        if (at_root)
            return read_optional(root);
        return root.array(read_optional);
    });
    return result ? out : result.error();
}

TEST(JsonRead, NullIsConsumedOnlyWhenPresent)
{
    EXPECT_EQ(optional_numbers("[null, 5, null]", /*at_root=*/false), "-5-");
    EXPECT_EQ(optional_numbers("[true]", /*at_root=*/false),
              "invalid type: boolean `true`, expected u32 at line 1 column 2");
    EXPECT_EQ(optional_numbers("[nulL]", /*at_root=*/false), "expected ident at line 1 column 5");
    EXPECT_EQ(optional_numbers(" null ", /*at_root=*/true), "-");
    EXPECT_EQ(optional_numbers("null\n", /*at_root=*/true), "-");
    EXPECT_EQ(optional_numbers("nul", /*at_root=*/true), "EOF while parsing a value at line 1 column 4");
    EXPECT_EQ(optional_numbers("7", /*at_root=*/true), "7");
    EXPECT_EQ(optional_numbers("null x", /*at_root=*/true), "trailing characters at line 1 column 6");
}

TEST(JsonRead, RecordErrorsCarryTheValuePosition)
{
    auto const result = quenmark::json::read_document("[\n  \"ok\",\n    \"bad\"\n]", [](ValueReader& root) {
        return root.array([](ValueReader& element) -> Read<void> {
            auto const text = TRY(element.string());
            if (text == "bad")
                return unexpected(element.error("UUID parsing failed: invalid length"));
            return {};
        });
    });
    EXPECT_EQ(test_support::error_text(result), "UUID parsing failed: invalid length at line 3 column 5");
}

// Strings without escapes are taken from the input as they stand, the others
// are unescaped; either way the next value must be read from its own start.
TEST(JsonRead, StringsWithAndWithoutEscapesLeaveTheReaderAtTheNextValue)
{
    std::string_view const document = R"([
        "plain",  "", "a,b:c]{}[ \/", "caf\u00e9 and café", "quote \" inside",
        "ends in \\", "\u0041\n\t", {"k": "in an object", "l": "x\"y"}, "last"
    ] )";
    std::vector<std::string> read;
    auto const result = quenmark::json::read_document(document, [&](ValueReader& root) {
        return root.array([&](ValueReader& element) -> Read<void> {
            if (read.size() % 2 == 0 && read.size() != 6) {
                read.emplace_back(TRY(element.string_view()));
                return {};
            }
            if (read.size() == 7) {
                static constexpr std::array<std::string_view, 2> names { "k", "l" };
                TRY(element.object(names, 0b11U, [&](std::size_t, ValueReader& value) -> Read<void> {
                    read.push_back(TRY(value.string()));
                    return {};
                }));
                return {};
            }
            read.push_back(TRY(element.string()));
            return {};
        });
    });
    ASSERT_TRUE(test_support::has_value(result)) << test_support::error_text(result);
    std::vector<std::string> const expected {
        "plain", "", "a,b:c]{}[ /", "caf\xc3\xa9 and caf\xc3\xa9", "quote \" inside", "ends in \\", "A\n\t",
        "in an object", "x\"y", "last",
    };
    EXPECT_EQ(read, expected);
}

TEST(JsonRead, ValuesKnowWhereTheyStart)
{
    std::string_view const document = "[\"a\", {\"b\": 1},\n 2]";
    std::vector<std::size_t> offsets;
    std::size_t size = 0;
    auto const result = quenmark::json::read_document(document, [&](ValueReader& root) {
        return root.array([&](ValueReader& element) -> Read<void> {
            offsets.push_back(element.offset());
            size = element.document_size();
            return element.skip();
        });
    });
    ASSERT_TRUE(test_support::has_value(result));
    EXPECT_EQ(offsets, (std::vector<std::size_t> { 1, 6, 17 }));
    EXPECT_EQ(size, document.size());
}

TEST(JsonRead, PaddedBufferIsReadInPlace)
{
    std::string_view const text = R"({"name":"Ada","age":36,"level":3,"role":"user"})";
    std::vector<char> buffer(text.size() + quenmark::json::read_padding, 'x');
    std::copy(text.begin(), text.end(), buffer.begin());
    Person person;
    auto const result = quenmark::json::read_padded_document(buffer.data(), text.size(), [&](ValueReader& root) -> Read<void> {
        person = TRY(read_person(root));
        return {};
    });
    ASSERT_TRUE(test_support::has_value(result));
    EXPECT_EQ(person.name, "Ada");
    EXPECT_EQ(person.age, 36U);

    auto const empty = quenmark::json::read_padded_document(buffer.data(), 0, [](ValueReader& root) { return root.skip(); });
    EXPECT_EQ(test_support::error_text(empty), "EOF while parsing a value at line 1 column 1");
}

} // namespace

namespace {

// Any document into the value model: member order as written, integers kept
// exact, every other number a double; the positioned messages of the reader.
TEST(JsonRead, AnyValueKeepsOrderAndExactIntegers)
{
    using quenmark::json::Array;
    using quenmark::json::Object;
    using quenmark::json::Value;
    Object expected_object;
    expected_object.emplace_back("z", Value(std::uint64_t { 18446744073709551615ULL }));
    expected_object.emplace_back("a", Value(std::int64_t { -9223372036854775807LL - 1 }));
    expected_object.emplace_back("m", Value(Array { Value(nullptr), Value(true), Value(1.5), Value("\u00e9\n") }));
    expected_object.emplace_back("", Value(Object {}));
    auto const read = quenmark::json::parse_value(
        R"({"z": 18446744073709551615, "a": -9223372036854775808, "m": [null, true, 1.5, "\u00e9\n"], "": {}})");
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(*read, Value(expected_object));
    EXPECT_EQ(*quenmark::json::parse_value("18446744073709551616"), Value(18446744073709551616.0));
    EXPECT_EQ(*quenmark::json::parse_value("\"x\""), Value("x"));

    std::vector<std::pair<std::string, std::string>> const failures {
        { R"({"a": 1, "b": 2, "a": 3})", "duplicate field `a` at line 1 column 18" },
        { "{\"b\": 1, \"a\": 2, \"b\\u0000\": 3, \"a\": [\n{\"b\": 1, \"b\": 2}]}", "duplicate field `b` at line 2 column 10" },
        { "[1, 2", "EOF while parsing a list at line 1 column 6" },
        { "", "EOF while parsing a value at line 1 column 1" },
    };
    for (auto const& [text, message] : failures) {
        auto const result = quenmark::json::parse_value(text);
        EXPECT_EQ(result ? std::string("<value>") : result.error(), message) << text;
    }
}

// Numbers with twenty significant digits or more read as the nearest double,
// whatever simdjson's On-Demand reader makes of them (its version 3.0.1 got
// most of those below one wrong: 0.95000000000000000000 read as 0.0277). The
// expected values are the compiler's reading of the same literals.
TEST(JsonRead, LongNumbersReadAsTheNearestDouble)
{
    using quenmark::json::Value;
    std::vector<std::pair<std::string, double>> const numbers {
        { "0.95000000000000000000", 0.95000000000000000000 },
        { "-0.67440151537260548775809", -0.67440151537260548775809 },
        { "0.10000000000000000000001", 0.10000000000000000000001 },
        { "0.99999999999999999999", 0.99999999999999999999 },
        { "1000000000.000000001", 1000000000.000000001 },
        { "12345678901234567890.5", 12345678901234567890.5 },
        { "0.0000000000000000000000000000123456789012345678901e-3", 0.0000000000000000000000000000123456789012345678901e-3 },
        { "-1.5E+2", -1.5E+2 },
        { "1e-400", 0.0 },
    };
    for (auto const& [text, number] : numbers) {
        for (std::string const& document : { text, "[" + text + "]" }) {
            auto const read = quenmark::json::parse_value(document);
            ASSERT_TRUE(read) << document << ": " << read.error();
            Value const& value = document.starts_with('[') ? std::get<quenmark::json::Array>(read->data).at(0) : *read;
            ASSERT_TRUE(std::holds_alternative<double>(value.data)) << document;
            EXPECT_EQ(std::get<double>(value.data), number) << document;
        }
    }
}

} // namespace

namespace {

// A list of people read with read_padded_elements, and the same list read
// whole: the people, the error, and how many times an element was started
// (once more than the people when the plain reader gave up on one).
struct ElementsRead {
    std::vector<std::string> people;
    std::string error;
    std::size_t started { 0 };
};

std::string person_text(Person const& person)
{
    std::string text = person.name + "/" + std::to_string(person.age) + "/" + std::to_string(person.level) + "/"
        + std::to_string(person.role) + "/" + (person.nickname ? *person.nickname : "-");
    for (auto const& tag : person.tags)
        text += "/" + tag.label;
    return text;
}

ElementsRead read_people(std::string_view text, bool plain)
{
    std::vector<char> buffer(text.size() + quenmark::json::read_padding, ' ');
    std::copy(text.begin(), text.end(), buffer.begin());
    ElementsRead read;
    auto const each = [&](ValueReader& element) -> Read<void> {
        ++read.started;
        read.people.push_back(person_text(TRY(read_person(element))));
        return {};
    };
    auto const result = plain ? quenmark::json::read_padded_elements(buffer.data(), text.size(), each)
                              : quenmark::json::read_padded_document(buffer.data(), text.size(),
                                                                     [&](ValueReader& root) { return root.array(each); });
    if (!result)
        read.error = result.error();
    return read;
}

TEST(JsonRead, PlainElementsReadAsTheWholeDocumentDoes)
{
    struct Case {
        std::string_view text;
        // Whether the plain reader gives up inside an element, which is then
        // started again.
        bool gives_up;
    };
    std::string_view const ada = R"({"name":"Ada","age":36,"level":3,"role":"user"})";
    Case const cases[] = {
        { "[]", false },
        { " [ ] ", false },
        { "[\n  {\n    \"name\": \"Ada\",\n    \"age\": 36,\n    \"level\": 3,\n    \"role\": \"auditor\",\n"
          "    \"nickname\": null,\n    \"tags\": [\n      {\n        \"label\": \"a\"\n      }\n    ]\n  }\n]",
          false },
        { R"([{"role":"user","level":0,"age":4294967295,"name":"","tags":[],"nickname":"Ad\u00e4"}])", true },
        { "[{\"name\":\"Ad\xc3\xa4\",\"age\":1,\"level\":255,\"role\":\"user\",\"nickname\":\"\t x\"}]", true },
        { "[{\"name\":\"Ad\xc3\xa4 \xe2\x82\xac\",\"age\":1,\"level\":255,\"role\":\"user\"}]", false },
        { "[{\"name\":\"A\xff\",\"age\":1,\"level\":2,\"role\":\"user\"}]", true },
        { "[{\"name\":\"A\xc3\",\"age\":1,\"level\":2,\"role\":\"user\"}]", true },
        { R"([{"name":"A\"da","age":36,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":-0,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":036,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":36.0,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":1e1,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":4294967296,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":36,"level":256,"role":"user"}])", true },
        { R"([{"name":"Ada","age":36,"level":3,"role":"robot"}])", true },
        { R"([{"name":"Ada","age":36,"level":3}])", true },
        { R"([{"name":"Ada","name":"Bo","age":36,"level":3,"role":"user"}])", true },
        { R"([{"extra":{"x":[1,2]},"name":"Ada","age":36,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":36,"level":3,"role":"user","nickname":nul}])", true },
        { R"([{"name":"Ada","age":36,"level":3,"role":"user","tags":[{"label":"a"},]}])", true },
        { R"([{"name":"Ada" "age":36,"level":3,"role":"user"}])", true },
        { R"([{"name":"Ada","age":36,"level":3,"role":"user"} {"name":"Bo"}])", false },
        { R"({"name":"Ada"})", false },
        { R"("Ada")", false },
        { "", false },
        { "[", true },
    };
    for (auto const& row : cases) {
        for (std::string const& text : { std::string(row.text),
                                         // The same after two elements the plain reader takes.
                                         row.text.size() > 2 && row.text.starts_with('[')
                                             ? "[" + std::string(ada) + ",\n " + std::string(ada) + ","
                                                 + std::string(row.text.substr(1))
                                             : std::string(row.text) }) {
            auto const whole = read_people(text, /*plain=*/false);
            auto const plain = read_people(text, /*plain=*/true);
            EXPECT_EQ(plain.error, whole.error) << text;
            // What a failed reading handed over is discarded: the whole reading
            // refuses a text whose syntax is wrong before its first element.
            if (whole.error.empty()) {
                EXPECT_EQ(plain.people, whole.people) << text;
                EXPECT_EQ(plain.started, whole.started + (row.gives_up ? 1 : 0)) << text;
            }
        }
    }
}

} // namespace
