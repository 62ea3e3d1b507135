// The assessment commands end to end: exact output lines, the state file's
// exact bytes, and every failure leaving the files as they were.

#include "run_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;

constexpr char const* assessment_id = "11111111-1111-4111-8111-111111111111";
constexpr char const* course_id = "22222222-2222-4222-8222-222222222222";

// One stored definition with two questions, in the written form.
std::string state_with(std::string const& status)
{
    return R"({
  "assessments": [
    {
      "id": "11111111-1111-4111-8111-111111111111",
      "course_id": "22222222-2222-4222-8222-222222222222",
      "title": "Café \"safety\"",
      "version": 1,
      "status": ")"
        + status + R"(",
      "passing_rule": {
        "minimum_correct": {
          "min_correct": 1,
          "total_questions": 2
        }
      },
      "questions": [
        {
          "id": "33333333-3333-4333-8333-333333333333",
          "prompt": "First?",
          "choices": [
            "yes",
            "no"
          ],
          "correct_index": 0
        },
        {
          "id": "44444444-4444-4444-8444-444444444444",
          "prompt": "Second?",
          "choices": [
            "a",
            "b",
            "c"
          ],
          "correct_index": 2
        }
      ],
      "attempt_limit": 4
    }
  ],
  "assignments": [],
  "attempts": [],
  "completions": [],
  "certificates": []
})";
}

// The same record compact, members reordered, an unknown member, and the
// other lists missing.
constexpr char const* compact_state
    = R"({"extra":{"x":[1,2]},"assessments":[{"questions":[{"id":"33333333-3333-4333-8333-333333333333",)"
      R"("prompt":"First?","choices":["yes","no"],"correct_index":0},{"id":"44444444-4444-4444-8444-444444444444",)"
      R"("prompt":"Second?","choices":["a","b","c"],"correct_index":2}],"id":"11111111-1111-4111-8111-111111111111",)"
      R"("course_id":"22222222-2222-4222-8222-222222222222","title":"Café \"safety\"","version":1,)"
      R"("status":"draft","passing_rule":{"minimum_correct":{"min_correct":1,"total_questions":2}},)"
      R"("attempt_limit":4}]})";

std::string const inspect_header = std::string("id:            ") + assessment_id + "\n"
    + "title:         Café \"safety\"\n" + "course:        " + course_id + "\n";

TEST(AssessmentList, EmptyOrAbsentStateSaysSoAndCreatesNothing)
{
    ScratchDirectory directory;
    auto const absent = run(directory.path(), { "assessment", "list" });
    EXPECT_EQ(absent.status, 0);
    EXPECT_EQ(absent.out, "no assessments yet\n");
    EXPECT_EQ(absent.err, "");
    EXPECT_EQ(e2e::entries(directory.path()), Names {});

    e2e::write_file(directory / "corvella-state.json", "{}");
    EXPECT_EQ(run(directory.path(), { "assessment", "list" }).out, "no assessments yet\n");
    EXPECT_EQ(e2e::read_file(directory / "corvella-state.json"), "{}");
}

TEST(AssessmentList, OneLinePerDefinitionInCreationOrder)
{
    ScratchDirectory directory;
    e2e::write_file(directory / "corvella-state.json", state_with("retired"));
    auto const listed = run(directory.path(), { "assessment", "list" });
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, std::string(assessment_id) + "  [Retired]  v1  \"Café \"safety\"\"  (2 questions, limit 4)\n");
}

TEST(AssessmentCreate, PrintsTheLineAndStoresTheDraft)
{
    ScratchDirectory directory;
    auto const created
        = run(directory.path(), { "assessment", "create", "--title", "Security basics", "--course-id", course_id,
                                  "--min-correct", "2", "--attempt-limit", "5", "--questions",
                                  e2e::example_questions().string() });
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.err, "");
    std::smatch match;
    std::regex const line("created assessment ([0-9a-f-]{36}) \"Security basics\" \u2014 draft, version 1, 3 "
                          "questions, course 22222222-2222-4222-8222-222222222222\n");
    ASSERT_TRUE(std::regex_match(created.out, match, line)) << created.out;
    std::string const id = match[1];

    std::string const state = e2e::read_file(directory / "corvella-state.json");
    std::vector<std::string> question_ids;
    std::regex const question_id("\"id\": \"([0-9a-f-]{36})\"");
    for (auto it = std::sregex_iterator(state.begin(), state.end(), question_id); it != std::sregex_iterator(); ++it)
        question_ids.push_back((*it)[1]);
    ASSERT_EQ(question_ids.size(), 4u);
    EXPECT_EQ(question_ids[0], id);

    std::string const expected = R"({
  "assessments": [
    {
      "id": ")" + id + R"(",
      "course_id": "22222222-2222-4222-8222-222222222222",
      "title": "Security basics",
      "version": 1,
      "status": "draft",
      "passing_rule": {
        "minimum_correct": {
          "min_correct": 2,
          "total_questions": 3
        }
      },
      "questions": [
        {
          "id": ")" + question_ids[1] + R"(",
          "prompt": "Which file holds the Ed25519 signing key's seed?",
          "choices": [
            "corvella-state.json",
            "corvella-signing-key.hex",
            "corvella-audit.json"
          ],
          "correct_index": 1
        },
        {
          "id": ")" + question_ids[2] + R"(",
          "prompt": "What does a learner see when inspecting a published assessment?",
          "choices": [
            "The answer key",
            "The questions and their choices",
            "The passing rule"
          ],
          "correct_index": 1
        },
        {
          "id": ")" + question_ids[3] + R"(",
          "prompt": "How is each audit event linked to the one before it?",
          "choices": [
            "By the BLAKE3 hash of its canonical JSON",
            "By its file position only"
          ],
          "correct_index": 0
        }
      ],
      "attempt_limit": 5
    }
  ],
  "assignments": [],
  "attempts": [],
  "completions": [],
  "certificates": []
})";
    EXPECT_EQ(state, expected);
    EXPECT_EQ(e2e::entries(directory.path()), Names { "corvella-state.json" });
}

TEST(AssessmentCreate, NewCourseIdIsMintedAndEachRunAddsADefinition)
{
    ScratchDirectory directory;
    std::vector<std::string> const arguments { "assessment", "create", "--title", "T", "--course-id", "NeW",
                                               "--min-correct", "3", "--questions",
                                               e2e::example_questions().string() };
    auto const first = run(directory.path(), arguments);
    auto const second = run(directory.path(), arguments);
    std::regex const line("created assessment ([0-9a-f-]{36}) \"T\" \u2014 draft, version 1, 3 questions, course "
                          "([0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12})\n");
    std::smatch first_match;
    std::smatch second_match;
    ASSERT_TRUE(std::regex_match(first.out, first_match, line)) << first.out;
    ASSERT_TRUE(std::regex_match(second.out, second_match, line)) << second.out;
    EXPECT_NE(first_match.str(1), second_match.str(1));
    EXPECT_NE(first_match.str(2), second_match.str(2));

    auto const listed = run(directory.path(), { "assessment", "list" });
    EXPECT_EQ(listed.out, first_match.str(1) + "  [Draft]  v1  \"T\"  (3 questions, limit 3)\n" + second_match.str(1)
                  + "  [Draft]  v1  \"T\"  (3 questions, limit 3)\n");
}

TEST(AssessmentPublish, PublishesInPlaceAndRewritesTheWholeFile)
{
    ScratchDirectory directory;
    auto const state_path = directory / "corvella-state.json";
    e2e::write_file(state_path, compact_state);

    auto const published = run(directory.path(), { "assessment", "publish", assessment_id });
    EXPECT_EQ(published.status, 0);
    EXPECT_EQ(published.out, std::string("published assessment ") + assessment_id + "\n");
    EXPECT_EQ(published.err, "");
    EXPECT_EQ(e2e::read_file(state_path), state_with("published"));

    // Publishing again changes nothing, the version included.
    auto const again = run(directory.path(), { "assessment", "publish", "{11111111-1111-4111-8111-111111111111}" });
    EXPECT_EQ(again.out, std::string("published assessment ") + assessment_id + "\n");
    EXPECT_EQ(e2e::read_file(state_path), state_with("published"));
    EXPECT_EQ(e2e::entries(directory.path()), Names { "corvella-state.json" });
}

TEST(AssessmentPublish, KeepsPermissionsAndFollowsASymbolicLink)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "real");
    auto const real_path = directory / "real" / "state.json";
    e2e::write_file(real_path, state_with("draft"));
    ::chmod(real_path.c_str(), 0640);
    std::filesystem::create_symlink("real/state.json", directory / "link.json");

    auto const published = run(directory.path(), { "--state", "link.json", "assessment", "publish", assessment_id });
    EXPECT_EQ(published.status, 0) << published.err;
    EXPECT_TRUE(std::filesystem::is_symlink(directory / "link.json"));
    EXPECT_EQ(e2e::read_file(real_path), state_with("published"));
    struct stat status {};
    ASSERT_EQ(::stat(real_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(e2e::entries(directory / "real"), Names { "state.json" });
}

TEST(AssessmentInspect, DraftShowsNoLearnerView)
{
    ScratchDirectory directory;
    e2e::write_file(directory / "corvella-state.json", state_with("draft"));
    auto const inspected = run(directory.path(), { "assessment", "inspect", assessment_id });
    EXPECT_EQ(inspected.status, 0);
    EXPECT_EQ(inspected.err, "");
    EXPECT_EQ(inspected.out, inspect_header
                                 + "status:        Draft\n"
                                   "version:       1\n"
                                   "attempt_limit: 4\n"
                                   "questions:     2\n"
                                   "(no learner-facing view: assessment "
                                   "AssessmentId(11111111-1111-4111-8111-111111111111) is draft and has no "
                                   "learner-facing view)\n");
}

TEST(AssessmentInspect, PublishedShowsQuestionsAndChoicesButNoAnswerKey)
{
    ScratchDirectory directory;
    e2e::write_file(directory / "corvella-state.json", state_with("published"));
    auto const inspected = run(directory.path(), { "assessment", "inspect", assessment_id });
    EXPECT_EQ(inspected.status, 0);
    EXPECT_EQ(inspected.out, inspect_header
                                 + "status:        Published\n"
                                   "version:       1\n"
                                   "attempt_limit: 4\n"
                                   "questions:     2\n"
                                   "  Q1: First?\n"
                                   "      0) yes\n"
                                   "      1) no\n"
                                   "  Q2: Second?\n"
                                   "      0) a\n"
                                   "      1) b\n"
                                   "      2) c\n");
    EXPECT_EQ(inspected.out.find("33333333"), std::string::npos);
    EXPECT_EQ(inspected.out.find("correct"), std::string::npos);
}

// Every refusal prints one error line, exits with 1 and leaves the state
// file exactly as it was.
TEST(AssessmentCreate, FailuresInTheirOrderLeaveTheStateAlone)
{
    std::string const valid = R"([{"prompt":"p","choices":["a","b"],"correct_index":0},
                                  {"prompt":"q","choices":["a","b"],"correct_index":1}])";
    struct Row {
        std::string questions; // empty: no questions file at all
        std::vector<std::string> options;
        std::string expected_err;
    };
    std::vector<Row> const rows {
        { "", { "--min-correct", "1" }, "Error: io error: No such file or directory\n" },
        { valid, { "--min-correct", "1", "--course-id", "course-1" },
          "Error: invalid CourseId identifier: invalid character: found `o` at 2\n" },
        { "[]", { "--min-correct", "0" }, "Error: questions file must contain at least one question\n" },
        { R"([{"prompt":"p","choices":["a","b"],"correct_index":0},{"prompt":" \u3000","choices":["a","b"],)"
          R"("correct_index":0}])",
          { "--min-correct", "0", "--title", " " }, "Error: prompt must not be empty\n" },
        { valid, { "--min-correct", "0", "--title", " " },
          "Error: passing rule requires min_correct (0) between 1 and total_questions (2)\n" },
        { valid, { "--min-correct", "3" },
          "Error: passing rule requires min_correct (3) between 1 and total_questions (2)\n" },
        { valid, { "--min-correct", "2", "--title", "\t \n", "--attempt-limit", "0" },
          "Error: title must not be empty\n" },
        { valid, { "--min-correct", "2", "--attempt-limit", "0" }, "Error: attempt_limit must be at least 1, got 0\n" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / "corvella-state.json", state_with("draft"));
        if (!row.questions.empty())
            e2e::write_file(directory / "questions.json", row.questions);
        std::vector<std::string> arguments { "assessment", "create", "--questions", "questions.json" };
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        if (std::find(row.options.begin(), row.options.end(), "--title") == row.options.end()) {
            arguments.push_back("--title");
            arguments.push_back("T");
        }
        auto const result = run(directory.path(), arguments);
        SCOPED_TRACE(row.expected_err);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, row.expected_err);
        EXPECT_EQ(e2e::read_file(directory / "corvella-state.json"), state_with("draft"));
        auto const expected_entries = row.questions.empty() ? Names { "corvella-state.json" }
                                                            : Names { "corvella-state.json", "questions.json" };
        EXPECT_EQ(e2e::entries(directory.path()), expected_entries);
    }
}

TEST(AssessmentCreate, QuestionsFileThatIsNotAnArrayOfQuestionsIsAJsonError)
{
    struct Row {
        std::string questions;
        std::string fragment;
    };
    std::vector<Row> const rows {
        { R"({"prompt":"p"})", "at line 1 column 1" },
        { R"([{"prompt":"p","choices":["a","b"]}])", "missing field `correct_index` at line 1 column 2" },
        { R"([{"prompt":"p","choices":["a","b"],"correct_index":-1}])", "integer `-1`" },
        { "[", "EOF while parsing a list at line 1 column 2" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / "questions.json", row.questions);
        auto const result = run(directory.path(), { "assessment", "create", "--title", "T", "--min-correct", "1",
                                                    "--questions", "questions.json" });
        SCOPED_TRACE(row.questions);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("Error: json error: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(row.fragment), std::string::npos) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
        EXPECT_EQ(e2e::entries(directory.path()), Names { "questions.json" });
    }
}

TEST(AssessmentPublishAndInspect, UnknownOrMalformedIdentifiers)
{
    struct Row {
        std::string id;
        std::string expected_err;
    };
    std::vector<Row> const rows {
        { "55555555-5555-4555-8555-555555555555",
          "Error: not found: assessment 55555555-5555-4555-8555-555555555555\n" },
        { "55555555555545558555555555555555", "Error: not found: assessment 55555555-5555-4555-8555-555555555555\n" },
        { "not-an-id", "Error: invalid AssessmentId identifier: invalid character: found `n` at 1\n" },
        { "", "Error: invalid AssessmentId identifier: invalid length: found 0\n" },
    };
    for (auto const& row : rows) {
        for (std::string const command : { "publish", "inspect" }) {
            ScratchDirectory directory;
            e2e::write_file(directory / "corvella-state.json", state_with("draft"));
            auto const result = run(directory.path(), { "assessment", command, row.id });
            SCOPED_TRACE(command + " " + row.id);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, row.expected_err);
            EXPECT_EQ(e2e::read_file(directory / "corvella-state.json"), state_with("draft"));
        }
    }
}

// A state file that cannot be read as state is reported by every assessment
// command and never overwritten.
TEST(AssessmentCommands, BrokenStateFileIsNeverOverwritten)
{
    struct Row {
        std::string content;
        std::string expected_start;
        std::string fragment;
    };
    std::string const unknown_status = std::string(compact_state).replace(std::string(compact_state).find("draft"), 5,
                                                                          "archived");
    std::vector<Row> const rows {
        { "[", "Error: json error: ", "line 1 column" },
        { "", "Error: json error: ", "EOF while parsing a value" },
        { "{} x", "Error: json error: ", "line 1 column" },
        { R"({"assessments":[],"assessments":[]})", "Error: json error: ", "duplicate field `assessments`" },
        { unknown_status, "Error: json error: ", "unknown variant `archived`" },
        { "{\"assessments\":[],\"extra\":\"\xff\"}", "Error: io error: stream did not contain valid UTF-8\n", "" },
    };
    for (auto const& row : rows) {
        for (std::vector<std::string> const& arguments : std::vector<std::vector<std::string>> {
                 { "assessment", "list" },
                 { "assessment", "inspect", assessment_id },
                 { "assessment", "publish", assessment_id },
                 { "assessment", "create", "--title", "T", "--min-correct", "1", "--questions",
                   e2e::example_questions().string() },
             }) {
            ScratchDirectory directory;
            e2e::write_file(directory / "corvella-state.json", row.content);
            auto const result = run(directory.path(), arguments);
            SCOPED_TRACE(arguments[1] + " on " + row.content);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind(row.expected_start, 0), 0u) << result.err;
            EXPECT_NE(result.err.find(row.fragment), std::string::npos) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
            EXPECT_EQ(e2e::read_file(directory / "corvella-state.json"), row.content);
            EXPECT_EQ(e2e::entries(directory.path()), Names { "corvella-state.json" });
        }
    }
}

TEST(AssessmentCommands, StatePathNamingADirectoryIsAnIoError)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "state");
    for (std::vector<std::string> const& arguments : std::vector<std::vector<std::string>> {
             { "--state", "state", "assessment", "list" },
             { "--state", "state", "assessment", "publish", assessment_id },
         }) {
        auto const result = run(directory.path(), arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: io error: Is a directory\n");
    }
    EXPECT_EQ(e2e::entries(directory / "state"), Names {});
}

// A state path in a directory that does not exist reads as empty state; a
// command that must save it reports the failed write and prints nothing else.
TEST(AssessmentCommands, StateInAMissingDirectory)
{
    ScratchDirectory directory;
    auto const published = run(directory.path(), { "--state", "gone/state.json", "assessment", "publish",
                                                   assessment_id });
    EXPECT_EQ(published.status, 1);
    EXPECT_EQ(published.err, std::string("Error: not found: assessment ") + assessment_id + "\n");

    auto const created = run(directory.path(), { "--state", "gone/state.json", "assessment", "create", "--title", "T",
                                                 "--min-correct", "1", "--questions",
                                                 e2e::example_questions().string() });
    EXPECT_EQ(created.status, 1);
    EXPECT_EQ(created.out, "");
    EXPECT_EQ(created.err, "Error: io error: No such file or directory\n");
    EXPECT_EQ(e2e::entries(directory.path()), Names {});
}

// Writers take turns: concurrent creates all end up in the file.
TEST(AssessmentCreate, ConcurrentCreatesLoseNoDefinition)
{
    ScratchDirectory directory;
    int const null_fd = ::open("/dev/null", O_WRONLY);
    std::vector<pid_t> children;
    constexpr int runs = 8;
    for (int index = 0; index < runs; ++index)
        children.push_back(e2e::start(directory.path(),
                                      { "assessment", "create", "--title", "T" + std::to_string(index),
                                        "--min-correct", "1", "--questions", e2e::example_questions().string() },
                                      null_fd, null_fd));
    for (pid_t const child : children)
        EXPECT_EQ(e2e::wait_for(child), 0);
    ::close(null_fd);

    auto const listed = run(directory.path(), { "assessment", "list" });
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), runs) << listed.out;
    EXPECT_EQ(e2e::entries(directory.path()), Names { "corvella-state.json" });
}

} // namespace
