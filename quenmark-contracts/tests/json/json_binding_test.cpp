#include "quenmark/json/binding.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace json = quenmark::json;
using json::Absent;
using json::member;

struct Part {
    std::string label;
    std::optional<std::uint32_t> count;

    friend bool operator==(Part const&, Part const&) = default;
};

// One member of each kind and policy, named out of byte order.
struct Sample {
    quenmark::Uuid id;
    std::optional<std::string> note;
    std::optional<std::string> extra;
    std::vector<std::uint8_t> bytes;
    std::vector<Part> parts;
    Part main;

    friend bool operator==(Sample const&, Sample const&) = default;
};

constexpr auto part_members = json::members(
    member<&Part::label>("label"), member<&Part::count, Absent::Omitted>("count"));

// A nested record is read and written through its own functions, and its
// table found for canonical bytes, all declared before the tables that hold it.
constexpr auto const& json_members(Part const&) { return part_members; }
void write_json(json::Sink& sink, Part const& part) { json::write_members(sink, part_members, part); }
json::Read<void> read_json(json::ValueReader& reader, Part& part) { return json::read_members(reader, part_members, part); }

constexpr auto sample_members = json::members(member<&Sample::id>("id"), member<&Sample::note>("note"),
    member<&Sample::extra, Absent::Omitted>("extra"), member<&Sample::bytes>("bytes"),
    member<&Sample::parts, Absent::Omitted>("parts"), member<&Sample::main>("main"));

std::string pretty(Sample const& sample)
{
    std::string out;
    json::PrettyWriter writer(out);
    json::write_members(writer, sample_members, sample);
    return out;
}

// The canonical bytes from the table, checked against the writer sorting the
// members of the written order itself.
std::string canonical(Sample const& sample)
{
    std::string out;
    json::append_canonical_bytes(sample_members, sample, out);
    std::string sorted;
    json::CanonicalWriter writer(sorted);
    json::write_members(static_cast<json::Sink&>(writer), sample_members, sample);
    EXPECT_EQ(out, sorted);
    return out;
}

quenmark::Expected<void, std::string> read_into(Sample& sample, std::string_view text)
{
    return json::read_document(text, [&](json::ValueReader& root) { return json::read_members(root, sample_members, sample); });
}

Sample full_sample()
{
    return Sample { *quenmark::Uuid::parse("8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01"), "n", "e\xCC\x81", { 0, 255 },
        { Part { "p", 7 }, Part { "q", std::nullopt } }, Part { "m", 1 } };
}

TEST(JsonBinding, AbsentOptionalsAreNullOrOmittedAsEachMemberSays)
{
    Sample sample = full_sample();
    EXPECT_EQ(canonical(sample),
        R"({"bytes":[0,255],"extra":")" "\xC3\xA9" R"(","id":"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01",)"
        R"("main":{"count":1,"label":"m"},"note":"n","parts":[{"count":7,"label":"p"},{"label":"q"}]})");

    sample.note.reset();
    sample.extra.reset();
    sample.parts.clear();
    sample.main.count.reset();
    EXPECT_EQ(pretty(sample),
        "{\n  \"id\": \"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01\",\n  \"note\": null,\n  \"bytes\": [\n    0,\n    255\n  ],\n"
        "  \"main\": {\n    \"label\": \"m\"\n  }\n}");
    EXPECT_EQ(canonical(sample), R"({"bytes":[0,255],"id":"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01","main":{"label":"m"},"note":null})");
}

TEST(JsonBinding, ReadingOverAnEarlierRecordKeepsNothingOfIt)
{
    Sample sample = full_sample();
    ASSERT_TRUE(test_support::has_value(read_into(sample, R"({"main": {"label": "x"}, "bytes": [], "note": null,
        "parts": null, "id": "00000000-0000-4000-8000-000000000001", "unknown": [1.5]})")));
    EXPECT_EQ(sample, (Sample { *quenmark::Uuid::parse("00000000-0000-4000-8000-000000000001"), std::nullopt,
                          std::nullopt, {}, {}, Part { "x", std::nullopt } }));

    Sample again = full_sample();
    ASSERT_TRUE(test_support::has_value(read_into(again, pretty(full_sample()))));
    EXPECT_EQ(again, full_sample());
}

TEST(JsonBinding, RequiredMembersAndTheirForms)
{
    struct Row {
        std::string_view text;
        std::string_view error;
    };
    constexpr std::string_view id = R"("id": "8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01")";
    Row const rows[] = {
        { R"({"bytes": [], "main": {"label": ""}})", "missing field `id` at line 1 column 1" },
        { R"({"id": "x", "bytes": [], "main": {"label": ""}})",
            "UUID parsing failed: invalid character: found `x` at 1 at line 1 column 8" },
        { R"({"bytes": null, "main": {"label": ""}, )", "invalid type: null, expected a sequence at line 1 column 11" },
        { R"({"bytes": [256], "main": {"label": ""}, )", "invalid value: integer `256`, expected u8 at line 1 column 12" },
        { R"({"bytes": [], "main": {"count": null}, )", "missing field `label` at line 1 column 23" },
        { R"({"bytes": [], "main": {"label": ""}, "parts": [{"label": "a", "label": "b"}], )",
            "duplicate field `label` at line 1 column 63" },
    };
    for (Row const& row : rows) {
        std::string text(row.text);
        if (text.back() == ' ')
            text += std::string(id) + "}";
        Sample sample;
        EXPECT_EQ(test_support::error_text(read_into(sample, text)), row.error) << text;
    }
}

} // namespace
