#include "output.h"

#include "corvella/ids/ids.h"
#include "quenmark/time/timestamp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(Output, ConcatWritesEachKindOfPart)
{
    auto const id = *corvella::AssessmentId::parse("11111111-1111-4111-8111-111111111111");
    auto const instant = *quenmark::Timestamp::parse("2024-05-01T12:30:45Z");
    std::string const title = "T";
    EXPECT_EQ(corvellactl::concat("a ", title, '\n', std::string_view("b"), std::uint32_t { 7 }, std::size_t { 0 },
                                  std::numeric_limits<std::uint64_t>::max(), ' ', id, ' ', instant),
              "a T\nb70" "18446744073709551615 11111111-1111-4111-8111-111111111111 2024-05-01T12:30:45Z");
    std::string out = "kept ";
    corvellactl::append_parts(out, "then ", std::uint64_t { 42 });
    EXPECT_EQ(out, "kept then 42");
}

// On a terminal: C0 but the line feed, DEL, C1 and the bidirectional
// embeddings, overrides and isolates escaped, as JSON writes them; other
// characters, the neighbours of those ranges included, as they stand.
TEST(Output, ATerminalSeesControlCharactersEscaped)
{
    struct Row {
        std::string_view text;
        std::string_view shown;
    };
    Row const rows[] = {
        { "X\x1b]0;owned\x07Y\n", "X\\u001b]0;owned\\u0007Y\n" },
        { std::string_view("\0\x01\x1f", 3), "\\u0000\\u0001\\u001f" },
        { "\t\r\b\f\n", "\\t\\r\\b\\f\n" },
        { "\x7f \x7e", "\\u007f \x7e" },
        { "\u0080\u009b\u009f\u00a0\u00e9", "\\u0080\\u009b\\u009f\u00a0\u00e9" },
        { "\u202a\u202e\u2066\u2069", "\\u202a\\u202e\\u2066\\u2069" },
        { "\u2029\u202f\u2065\u206a \u2014 \\u001b", "\u2029\u202f\u2065\u206a \u2014 \\u001b" },
        { "", "" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(corvellactl::shown_on_terminal(row.text), row.shown) << row.text;
}

} // namespace
