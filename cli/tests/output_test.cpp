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

} // namespace
