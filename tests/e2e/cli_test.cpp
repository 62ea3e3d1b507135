// The command line as a user meets it: help, version, usage errors and the
// global options, run through the built binary.

#include "run_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;

TEST(CommandLine, HelpAndVersionSucceedWithoutTouchingFiles)
{
    struct Row {
        std::vector<std::string> arguments;
        std::string expected_start;
    };
    std::vector<Row> const rows {
        { { "--help" }, "Corvella (manifest product 34) \u2014 assessments, assignments, certification. Vertical slice "
                        "only; see STATUS.md.\nUsage: corvellactl [OPTIONS] SUBCOMMAND\n" },
        { { "-h" }, "Corvella (manifest product 34)" },
        { { "assessment", "--help" }, "Manage assessment definitions (create / publish / list / inspect)\n"
                                      "Usage: corvellactl assessment [OPTIONS] SUBCOMMAND\n" },
        { { "assessment", "create", "--help" }, "Create a new draft assessment from a questions JSON file\n"
                                                "Usage: corvellactl assessment create [OPTIONS]\n" },
        { { "assessment", "inspect", "--help" }, "Show one assessment's learner-safe view (never prints an answer "
                                                 "key)\nUsage: corvellactl assessment inspect [OPTIONS] ID\n" },
        { { "audit", "verify", "--help" }, "Verify the whole local audit chain\n" },
        { { "revoke", "--help" }, "Revoke a certificate: from now on it no longer verifies\n"
                                  "Usage: corvellactl revoke [OPTIONS]\n" },
        { { "audit", "checkpoint", "--help" }, "Write a signed checkpoint of the audit chain; kept elsewhere, it "
                                               "shows later truncation\nUsage: corvellactl audit checkpoint [OPTIONS]\n" },
        { { "--version" }, "corvellactl 0.1.0\n" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const result = run(directory.path(), row.arguments);
        SCOPED_TRACE(row.arguments.front());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.substr(0, row.expected_start.size()), row.expected_start);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(e2e::entries(directory.path()), Names {});
    }
    ScratchDirectory directory;
    EXPECT_EQ(run(directory.path(), { "--version" }).out, "corvellactl 0.1.0\n");
}

// Each command and option is listed with its help text where a user looks
// (the layout around them is the parser's).
TEST(CommandLine, HelpListsTheNewCommandsAndOptions)
{
    struct Row {
        std::vector<std::string> arguments;
        std::vector<std::string> listed;
    };
    std::vector<Row> const rows {
        { { "--help" }, { "revoke", "Revoke a certificate: from now on it no longer verifies" } },
        { { "audit", "--help" },
          { "verify", "checkpoint", "Write a signed checkpoint of the audit chain; kept elsewhere, it shows later "
                                    "truncation" } },
        { { "revoke", "--help" },
          { "--certificate-id CERTIFICATE_ID", "--reason REASON",
            "Why it is revoked, one line; shown whenever the certificate fails verification" } },
        { { "audit", "checkpoint", "--help" },
          { "--output FILE", "Write the checkpoint to FILE (replaced atomically) instead of standard output" } },
        { { "audit", "verify", "--help" },
          { "--checkpoint FILE", "Also prove that the chain still holds a checkpoint written by `audit checkpoint`" } },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const result = run(directory.path(), row.arguments);
        EXPECT_EQ(result.status, 0);
        for (auto const& text : row.listed)
            EXPECT_NE(result.out.find(text), std::string::npos) << text << "\nin\n" << result.out;
    }
}

TEST(CommandLine, MissingSubcommandShowsTheGroupsHelp)
{
    struct Row {
        std::vector<std::string> arguments;
        std::string usage_line;
    };
    std::vector<Row> const rows {
        { {}, "Usage: corvellactl [OPTIONS] SUBCOMMAND\n" },
        { { "--state", "s.json" }, "Usage: corvellactl [OPTIONS] SUBCOMMAND\n" },
        { { "assessment" }, "Usage: corvellactl assessment [OPTIONS] SUBCOMMAND\n" },
        { { "audit" }, "Usage: corvellactl audit [OPTIONS] SUBCOMMAND\n" },
        { { "report" }, "Usage: corvellactl report [OPTIONS] SUBCOMMAND\n" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const result = run(directory.path(), row.arguments);
        SCOPED_TRACE(row.usage_line);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(row.usage_line), std::string::npos) << result.err;
        EXPECT_EQ(e2e::entries(directory.path()), Names {});
    }
}

TEST(CommandLine, UsageErrorsExitWithTwoBeforeAnyFileIsTouched)
{
    struct Row {
        std::vector<std::string> arguments;
        std::string message;
    };
    std::vector<std::string> const create { "assessment", "create", "--title", "T", "--questions", "q.json" };
    auto with = [](std::vector<std::string> base, std::vector<std::string> const& more) {
        base.insert(base.end(), more.begin(), more.end());
        return base;
    };
    std::vector<Row> const rows {
        { { "bogus" }, "The following argument was not expected: bogus\n" },
        { { "assessment", "remove" }, "The following argument was not expected: remove\n" },
        { with(create, { "--min-correct", "4294967296" }),
          "--min-correct: value 4294967296 is out of range 0 to 4294967295\n" },
        { with(create, { "--min-correct", "-1" }), "--min-correct: value -1 is not a decimal integer\n" },
        { with(create, { "--min-correct", "0x10" }), "--min-correct: value 0x10 is not a decimal integer\n" },
        { with(create, { "--min-correct", "1.5" }), "--min-correct: value 1.5 is not a decimal integer\n" },
        { with(create, { "--min-correct", " 1" }), "--min-correct: value  1 is not a decimal integer\n" },
        { with(create, { "--min-correct", "1", "--attempt-limit", "99999999999" }),
          "--attempt-limit: value 99999999999 is out of range 0 to 4294967295\n" },
        { { "assessment", "create", "--min-correct", "1", "--questions", "q.json" }, "--title is required\n" },
        { { "assessment", "create", "--title", "T", "--min-correct", "1" }, "--questions is required\n" },
        { create, "--min-correct is required\n" },
        { { "assessment", "publish" }, "ID is required\n" },
        { { "assessment", "inspect", "a", "b" }, "The following argument was not expected: b\n" },
        { { "assessment", "list", "--state" }, "--state: 1 required STATE missing\n" },
        { { "assign" }, "--assessment-id is required\n" },
        { { "assign", "--assessment-id", "x", "--reason", "role_requirement" },
          "--reason: role_requirement not in "
          "{role-requirement,manual-assignment,compliance-control,security-remediation}\n" },
        { { "assign", "--assessment-id", "x", "--due-in-days", "9223372036854775808" },
          "--due-in-days: value 9223372036854775808 is out of range -9223372036854775808 to 9223372036854775807\n" },
        { { "attempt", "--assignment-id", "x" }, "--answers is required\n" },
        { { "certify", "--completion-id", "x", "--validity-days", "ten" },
          "--validity-days: value ten is not a decimal integer\n" },
        { { "verify" }, "--certificate-id is required\n" },
        { { "revoke", "--reason", "r" }, "--certificate-id is required\n" },
        { { "revoke", "--certificate-id", "x" }, "--reason is required\n" },
        { { "revoke", "--certificate-id", "x", "--reason" }, "--reason: 1 required REASON missing\n" },
        { { "audit", "checkpoint", "--output" }, "--output: 1 required FILE missing\n" },
        { { "audit", "verify", "--checkpoint" }, "--checkpoint: 1 required FILE missing\n" },
        { { "audit", "checkpoint", "extra" }, "The following argument was not expected: extra\n" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const result = run(directory.path(), row.arguments);
        SCOPED_TRACE(row.message);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, row.message + "Run with --help for more information.\n");
        EXPECT_EQ(e2e::entries(directory.path()), Names {});
    }
}

TEST(CommandLine, TextThatIsNotUtf8IsRefusedAsAUsageError)
{
    std::vector<std::vector<std::string>> const rows {
        { "assessment", "create", "--title", "caf\xe9", "--min-correct", "1", "--questions", "q.json" },
        { "--state", "state-\xff.json", "assessment", "list" },
        { "assessment", "publish", "\xc3" },
    };
    std::vector<std::string> const messages {
        "argument 4 is not valid UTF-8\n",
        "argument 2 is not valid UTF-8\n",
        "argument 3 is not valid UTF-8\n",
    };
    for (std::size_t index = 0; index < rows.size(); ++index) {
        ScratchDirectory directory;
        e2e::write_file(directory / "q.json", R"([{"prompt":"p","choices":["a","b"],"correct_index":0}])");
        auto const result = run(directory.path(), rows[index]);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, messages[index] + "Run with --help for more information.\n");
        EXPECT_EQ(e2e::entries(directory.path()), Names { "q.json" });
    }
}

// The integer options take any value of their type: the handler decides
// what it means.
TEST(CommandLine, IntegerBoundsParse)
{
    ScratchDirectory directory;
    auto const zero = run(directory.path(), { "assessment", "create", "--title", "T", "--min-correct", "0",
                                              "--questions", e2e::example_questions().string() });
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.err, "Error: passing rule requires min_correct (0) between 1 and total_questions (3)\n");

    auto const largest = run(directory.path(), { "assessment", "create", "--title", "T", "--min-correct",
                                                 "+4294967295", "--questions", e2e::example_questions().string() });
    EXPECT_EQ(largest.err,
              "Error: passing rule requires min_correct (4294967295) between 1 and total_questions (3)\n");

    auto const leading_zeros = run(directory.path(), { "assessment", "create", "--title", "T", "--min-correct", "010",
                                                       "--questions", e2e::example_questions().string() });
    EXPECT_EQ(leading_zeros.err, "Error: passing rule requires min_correct (10) between 1 and total_questions (3)\n");
    EXPECT_EQ(e2e::entries(directory.path()), Names {});
}

TEST(CommandLine, GlobalOptionsWorkBeforeAndAfterTheSubcommand)
{
    ScratchDirectory directory;
    auto const questions = e2e::example_questions().string();
    auto const created = run(directory.path(), { "assessment", "create", "--title", "T", "--min-correct", "1",
                                                 "--questions", questions, "--state", "after.json" });
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(e2e::entries(directory.path()), Names { "after.json" });

    for (std::vector<std::string> const& arguments : std::vector<std::vector<std::string>> {
             { "--state", "after.json", "assessment", "list" },
             { "assessment", "--state", "after.json", "list" },
             { "assessment", "list", "--state=after.json" },
             { "--key", "k.hex", "--audit", "a.json", "assessment", "list", "--state", "after.json" },
         }) {
        auto const listed = run(directory.path(), arguments);
        EXPECT_EQ(listed.status, 0);
        EXPECT_NE(listed.out.find("\"T\"  (3 questions, limit 3)\n"), std::string::npos) << listed.out;
    }
    EXPECT_EQ(run(directory.path(), { "assessment", "list" }).out, "no assessments yet\n");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "after.json" });
}

} // namespace
