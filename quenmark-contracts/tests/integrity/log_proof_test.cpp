#include "quenmark/integrity/log_proof.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace quenmark;

// A note as the parsers see it: text, an empty line, signature lines.
std::string const new_note = "log/1\n3\nAg==\n\n\u2014 log/1 c2ln\n\u2014 witness d2l0\n";
std::string const old_note = "log/1\n2\nAQ==\n\n\u2014 log/1 c2ln\n";

// What a parser says of a text that is not a proof of its form; the forms as
// written, and read back, are held by the proof fuzz target and the
// end-to-end tests.
TEST(LogProof, MalformedTextsSayWhatIsWrong)
{
    std::string const hash = "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQE=\n";
    std::string const tlog = "its text is not in the tlog-proof form: ";
    std::string const consistency = "its text is not in the tlog-consistency-proof form: ";
    struct Row {
        std::string text;
        std::string expected;
    };
    std::vector<Row> const inclusion_rows {
        { "c2sp.org/tlog-proof@v2\n", tlog + "its first line is not c2sp.org/tlog-proof@v1" },
        { "c2sp.org/tlog-proof@v1\nindex 0\n\n" + new_note, tlog + "it has no extra line, which carries the entry" },
        { "c2sp.org/tlog-proof@v1\nextra ab!=\nindex 0\n\n" + new_note, tlog + "its extra line is not base64" },
        { "c2sp.org/tlog-proof@v1\nextra YQ==\nindex 01\n\n" + new_note,
          tlog + "its index line is missing or not a decimal number" },
        { "c2sp.org/tlog-proof@v1\nextra YQ==\n" + hash + "\n" + new_note,
          tlog + "its index line is missing or not a decimal number" },
        { "c2sp.org/tlog-proof@v1\nextra YQ==\nindex 1\nAQEB\n\n" + new_note,
          tlog + "line \"AQEB\" is not a hash in base64" },
        { "c2sp.org/tlog-proof@v1\nextra YQ==\nindex 1\n" + hash, tlog + "no empty line before its checkpoint" },
    };
    for (auto const& row : inclusion_rows)
        EXPECT_EQ(test_support::error_text(parse_inclusion_proof(row.text)), row.expected) << row.text;
    std::vector<Row> const consistency_rows {
        { "c2sp.org/tlog-proof@v1\n", consistency + "its first line is not tlog-consistency-proof@v1" },
        { "tlog-consistency-proof@v1\n" + hash + "\n" + new_note,
          consistency + "it does not hold two checkpoints separated by an empty line" },
        { "tlog-consistency-proof@v1\n\n" + old_note + new_note,
          consistency + "it does not hold two checkpoints separated by an empty line" },
    };
    for (auto const& row : consistency_rows)
        EXPECT_EQ(test_support::error_text(parse_consistency_proof(row.text)), row.expected) << row.text;
}

} // namespace
