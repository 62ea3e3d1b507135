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
// embeddings, overrides and isolates escaped; their neighbours as they stand.
TEST(Output, ATerminalSeesControlCharactersEscaped)
{
    std::string const text = std::string("X\x1b]0;t\x07\t\0\n", 10) + "\x7f~\u009f\u00a0\u202a\u202e\u2066\u2069\u2065\u2014";
    EXPECT_EQ(corvellactl::shown_on_terminal(text), "X\\u001b]0;t\\u0007\\u0009\\u0000\n\\u007f~\\u009f\u00a0\\u202a\\u202e"
                                                    "\\u2066\\u2069\u2065\u2014");
}

} // namespace
