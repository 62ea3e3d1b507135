// The learner workflow end to end: assign, attempt, certify and verify, the
// readiness report and doctor, with their exact lines, the records they store
// and the files each failure leaves alone.

#include "workflow_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using e2e::changed_files;
using e2e::JsonFile;
using e2e::Names;
using e2e::run;
using e2e::RunResult;
using e2e::ScratchDirectory;
using e2e::snapshot;

std::string const dash = " \u2014 ";
std::string const fixture_assessment = e2e::fixture_assessment;
std::string const fixture_assignment = e2e::fixture_assignment;
std::string const fixture_completion = e2e::fixture_completion;

// What a run must print and which files it may change.
struct Expected {
    std::string out {};
    std::string err {};
    int status { 1 };
    Names changed {};
};

void expect_run(ScratchDirectory const& directory, std::vector<std::string> const& arguments, Expected const& expected)
{
    auto const before = snapshot(directory.path());
    auto const result = run(directory.path(), arguments);
    EXPECT_EQ(result.out, expected.out);
    EXPECT_EQ(result.err, expected.err);
    EXPECT_EQ(result.status, expected.status);
    EXPECT_EQ(changed_files(before, snapshot(directory.path())), expected.changed);
}

RunResult run_ok(ScratchDirectory const& directory, std::vector<std::string> const& arguments)
{
    auto result = run(directory.path(), arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result;
}

std::string state_text(ScratchDirectory const& directory) { return e2e::read_file(directory / e2e::state_file); }

// Certifies the fixture completion record and returns the certificate's id.
std::string certify_fixture(ScratchDirectory const& directory, std::string const& validity_days = "365")
{
    run_ok(directory, { "certify", "--completion-id", fixture_completion, "--validity-days", validity_days });
    JsonFile const state(directory / e2e::state_file);
    return state.text("/certificates/" + std::to_string(state.size("/certificates") - 1) + "/payload/certificate_id");
}

std::string const readiness_zero = "Assessments   : 0 published, 0 draft, 0 retired\n"
                                   "Assignments   : 0 assigned, 0 in progress, 0 completed, 0 cancelled (0 overdue)\n"
                                   "Completions   : 0\n"
                                   "Certificates  : 0 valid, 0 expired\n";

TEST(LearnerWorkflow, FromAssessmentToVerifiedAndTamperedCertificate)
{
    ScratchDirectory directory;
    auto const created = run_ok(directory, { "assessment", "create", "--title", "Safety", "--min-correct", "2",
                                             "--questions", e2e::example_questions().string() });
    std::string const assessment = JsonFile(directory / e2e::state_file).text("/assessments/0/id");
    std::string const course = JsonFile(directory / e2e::state_file).text("/assessments/0/course_id");
    EXPECT_EQ(created.out, "created assessment " + assessment + " \"Safety\"" + dash + "draft, version 1, 3 questions, "
                               + "course " + course + "\n");
    EXPECT_EQ(run_ok(directory, { "assessment", "publish", assessment }).out,
              "published assessment " + assessment + "\n");

    // assign: the word new in any letter case mints each learner identifier.
    auto const assigned = run_ok(directory, { "assign", "--assessment-id", assessment, "--tenant-id", "NEW",
                                              "--workspace-id", "New", "--principal-id", "new", "--due-in-days", "7" });
    {
        JsonFile const state(directory / e2e::state_file);
        std::string const assignment = state.text("/assignments/0/id");
        EXPECT_EQ(assigned.out, "created assignment " + assignment + dash + "principal "
                                    + state.text("/assignments/0/principal_id") + ", tenant "
                                    + state.text("/assignments/0/tenant_id") + ", workspace "
                                    + state.text("/assignments/0/workspace_id") + ", assessment " + assessment + "\n");
        EXPECT_EQ(state.text("/assignments/0/course_id"), course);
        EXPECT_EQ(state.text("/assignments/0/status"), "assigned");
        EXPECT_EQ(state.text("/assignments/0/updated_at"), state.text("/assignments/0/created_at"));
        EXPECT_EQ(e2e::unix_seconds(state.text("/assignments/0/due_at")),
                  e2e::unix_seconds(state.text("/assignments/0/created_at")) + 7 * 86400);
        EXPECT_TRUE(state.at("/assignments/0/completed_at").is_null());
    }
    std::string const assignment = JsonFile(directory / e2e::state_file).text("/assignments/0/id");
    std::string const principal = JsonFile(directory / e2e::state_file).text("/assignments/0/principal_id");
    EXPECT_EQ(JsonFile(directory / e2e::audit_file).size(""), 1u);

    // A failed attempt: one event, the assignment moves to in progress.
    auto const failed = run_ok(directory, { "attempt", "--assignment-id", assignment, "--answers", "0, 0, 1" });
    {
        JsonFile const state(directory / e2e::state_file);
        EXPECT_EQ(failed.out, "attempt " + state.text("/attempts/0/id") + " (#1)" + dash
                                  + "Failed, score band Fail, feedback ReviewRecommended\n");
        EXPECT_EQ(state.text("/assignments/0/status"), "in_progress");
        EXPECT_EQ(JsonFile(directory / e2e::audit_file).size(""), 2u);
    }

    // A passing attempt: the completion record, two more events, completed.
    auto const passed = run_ok(directory, { "attempt", "--assignment-id", assignment, "--answers", "1,1,0" });
    std::string completion;
    {
        JsonFile const state(directory / e2e::state_file);
        completion = state.text("/completions/0/id");
        EXPECT_EQ(passed.out, "attempt " + state.text("/attempts/1/id") + " (#2)" + dash
                                  + "Passed, score band Distinction, feedback None\n" + "completion recorded: "
                                  + completion + " (use this id with `certify --completion-id`)\n");
        EXPECT_EQ(state.text("/assignments/0/status"), "completed");
        EXPECT_EQ(state.text("/assignments/0/completed_at"), state.text("/attempts/1/completed_at"));
        EXPECT_EQ(state.text("/assignments/0/updated_at"), state.text("/attempts/1/completed_at"));
        EXPECT_EQ(state.text("/completions/0/attempt_id"), state.text("/attempts/1/id"));
        EXPECT_EQ(state.text("/completions/0/assignment_id"), assignment);
        EXPECT_EQ(JsonFile(directory / e2e::audit_file).size(""), 4u);
    }

    auto const certified = run_ok(directory, { "certify", "--completion-id", completion });
    std::string certificate;
    std::string expires_at;
    {
        JsonFile const state(directory / e2e::state_file);
        certificate = state.text("/certificates/0/payload/certificate_id");
        expires_at = state.text("/certificates/0/payload/expires_at");
        EXPECT_EQ(certified.out, "issued certificate " + certificate + " for principal " + principal + dash
                                     + "assessment " + assessment + " v1, expires " + expires_at + "\n");
        EXPECT_EQ(e2e::unix_seconds(expires_at),
                  e2e::unix_seconds(state.text("/certificates/0/payload/issued_at")) + 365 * 86400);
        EXPECT_EQ(state.text("/certificates/0/payload/course_id"), course);
        EXPECT_EQ(JsonFile(directory / e2e::audit_file).size(""), 5u);
    }

    // VALID changes nothing; without --at it is checked as of now.
    auto const before = snapshot(directory.path());
    std::time_t const earliest = std::time(nullptr);
    auto const valid = run_ok(directory, { "verify", "--certificate-id", certificate });
    std::time_t const latest = std::time(nullptr);
    std::string const valid_prefix = "VALID" + dash + "certificate " + certificate + " verifies as of ";
    ASSERT_EQ(valid.out.substr(0, valid_prefix.size()), valid_prefix);
    EXPECT_TRUE(e2e::is_instant_between(valid.out.substr(valid_prefix.size(), 20), earliest, latest)) << valid.out;
    EXPECT_EQ(valid.out.size(), valid_prefix.size() + 21);
    EXPECT_EQ(changed_files(before, snapshot(directory.path())), Names {});

    // One changed digit of the stored payload breaks the signature.
    std::string const state = state_text(directory);
    e2e::write_file(directory / e2e::state_file,
                    e2e::replace_once(state, "\"assessment_version\": 1", "\"assessment_version\": 2",
                                      state.find("\"payload\"")));
    std::string const reason = "certificate CertificationId(" + e2e::short_form(certificate)
        + ") failed signature verification";
    expect_run(directory, { "verify", "--certificate-id", certificate, "--at", expires_at },
               { .out = "INVALID" + dash + "certificate " + certificate + " does not verify: " + reason + "\n",
                 .err = "Error: certificate " + certificate + " failed verification: " + reason + "\n",
                 .status = 1,
                 .changed = { e2e::audit_file } });
    {
        JsonFile const audit(directory / e2e::audit_file);
        EXPECT_EQ(audit.size(""), 6u);
        EXPECT_EQ(audit.text("/5/event/action"), "training.certificate.verification_failed");
        EXPECT_EQ(audit.text("/5/event/occurred_at"), expires_at);
    }

    EXPECT_EQ(run_ok(directory, { "audit", "verify" }).out,
              "audit chain verifies: 6 event(s), all links and signatures intact\n");
    EXPECT_TRUE(e2e::audit_chain_holds(directory / e2e::audit_file, e2e::read_file(directory / e2e::key_file)));
    EXPECT_EQ(run_ok(directory, { "report", "readiness" }).out,
              "Assessments   : 1 published, 0 draft, 0 retired\n"
              "Assignments   : 0 assigned, 0 in progress, 1 completed, 0 cancelled (0 overdue)\n"
              "Completions   : 1\n"
              "Certificates  : 1 valid, 0 expired\n");
    EXPECT_EQ(run_ok(directory, { "doctor" }).out,
              "state file    : ok (1 assessments, 1 assignments, 2 attempts, 1 completions, 1 certificates)\n"
              "signing key   : ok (corvella-signing-key.hex)\n"
              "audit chain   : ok (6 events verified)\n"
              "doctor        : all checks passed\n");
    EXPECT_EQ(e2e::entries(directory.path()), (Names { e2e::audit_file, e2e::key_file, e2e::state_file }));
}

TEST(Assign, RefusalsComeInOrderAndChangeNothing)
{
    std::string const unknown = "bbbbbbbb-bbbb-4bbb-8bbb-bbbbbbbbbbbb";
    std::string const published = e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) } });
    struct Row {
        std::string state;
        std::vector<std::string> arguments;
        std::string err;
    };
    std::vector<Row> const rows {
        { published, { "--assessment-id", "xyz" },
          "Error: invalid AssessmentId identifier: invalid character: found `x` at 1\n" },
        { published, { "--assessment-id", "BBBBBBBB-BBBB-4BBB-8BBB-BBBBBBBBBBBB" },
          "Error: not found: assessment " + unknown + "\n" },
        { e2e::state_json({ .assessments = { e2e::fixture_assessment_json("draft", 2) } }),
          { "--assessment-id", fixture_assessment, "--tenant-id", "bad" },
          "Error: assessment " + fixture_assessment + " is Draft; publish it before assigning\n" },
        { e2e::state_json({ .assessments = { e2e::fixture_assessment_json("retired", 2) } }),
          { "--assessment-id", fixture_assessment },
          "Error: assessment " + fixture_assessment + " is Retired; publish it before assigning\n" },
        { published, { "--assessment-id", fixture_assessment, "--tenant-id", "abc", "--workspace-id", "y" },
          "Error: invalid TenantId identifier: invalid length: found 3\n" },
        { published, { "--assessment-id", fixture_assessment, "--tenant-id", "new " },
          "Error: invalid TenantId identifier: invalid character: found `n` at 1\n" },
        { published, { "--assessment-id", fixture_assessment, "--workspace-id", "5678", "--principal-id", "y" },
          "Error: invalid WorkspaceId identifier: invalid length: found 4\n" },
        { published, { "--assessment-id", fixture_assessment, "--principal-id", "" },
          "Error: invalid IdentityId identifier: invalid length: found 0\n" },
        { "{\"assessments\": 7}", { "--assessment-id", fixture_assessment }, "" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, row.state);
        std::vector<std::string> arguments { "assign" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        SCOPED_TRACE(row.err);
        auto const before = snapshot(directory.path());
        auto const result = run(directory.path(), arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        if (row.err.empty())
            EXPECT_EQ(result.err.rfind("Error: json error: ", 0), 0u) << result.err;
        else
            EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(changed_files(before, snapshot(directory.path())), Names {});
    }
}

TEST(Assign, GivenIdentifiersAndDueDatesAreStoredAsAsked)
{
    std::string const tenant = e2e::fixture_tenant;
    struct Row {
        std::vector<std::string> options;
        std::string due_at; // "" when absent, "+N" for N seconds after created_at, or an instant
    };
    std::vector<Row> const rows {
        { {}, "" },
        { { "--due-in-days", "7" }, "+604800" },
        { { "--due-in-days", "-1" }, "+-86400" },
        { { "--due-in-days", "9223372036854775807" }, "9999-12-31T23:59:59.999999999Z" },
        // Far back the due date stops at the earliest instant the file can hold.
        { { "--due-in-days", "-9223372036854775808" }, "0000-01-01T00:00:00Z" },
        { { "--due-in-days", "-3000000" }, "0000-01-01T00:00:00Z" },
    };
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) } }));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        std::vector<std::string> arguments { "assign", "--assessment-id", fixture_assessment, "--tenant-id",
                                             "7E7E7E7E7E7E4E7E8E7E7E7E7E7E7E7E", "--principal-id", "nEW" };
        arguments.insert(arguments.end(), rows[index].options.begin(), rows[index].options.end());
        run_ok(directory, arguments);
        JsonFile const state(directory / e2e::state_file);
        std::string const record = "/assignments/" + std::to_string(index);
        SCOPED_TRACE(record);
        EXPECT_EQ(state.text(record + "/tenant_id"), tenant);
        EXPECT_EQ(state.text(record + "/course_id"), e2e::fixture_course);
        EXPECT_EQ(state.text(record + "/assignment_reason"), "role_requirement");
        auto const& due = rows[index].due_at;
        if (due.empty())
            EXPECT_TRUE(state.at(record + "/due_at").is_null());
        else if (due.front() == '+')
            EXPECT_EQ(e2e::unix_seconds(state.text(record + "/due_at")),
                      e2e::unix_seconds(state.text(record + "/created_at")) + std::stoll(due.substr(1)));
        else
            EXPECT_EQ(state.text(record + "/due_at"), due);
        JsonFile const audit(directory / e2e::audit_file);
        EXPECT_EQ(audit.text("/" + std::to_string(index) + "/event/occurred_at"), state.text(record + "/created_at"));
    }
    // Every file stays readable; the three due dates in the past are overdue.
    EXPECT_EQ(run_ok(directory, { "report", "readiness" }).out,
              "Assessments   : 1 published, 0 draft, 0 retired\n"
              "Assignments   : 6 assigned, 0 in progress, 0 completed, 0 cancelled (3 overdue)\n"
              "Completions   : 0\n"
              "Certificates  : 0 valid, 0 expired\n");
    EXPECT_EQ(run_ok(directory, { "audit", "verify" }).out,
              "audit chain verifies: 6 event(s), all links and signatures intact\n");
    EXPECT_EQ(run_ok(directory, { "doctor" }).out,
              "state file    : ok (1 assessments, 6 assignments, 0 attempts, 0 completions, 0 certificates)\n"
              "signing key   : ok (corvella-signing-key.hex)\n"
              "audit chain   : ok (6 events verified)\n"
              "doctor        : all checks passed\n");

    // Zero days: due at the instant of creation.
    run_ok(directory, { "assign", "--assessment-id", fixture_assessment, "--due-in-days", "0" });
    JsonFile const state(directory / e2e::state_file);
    EXPECT_EQ(state.text("/assignments/6/due_at"), state.text("/assignments/6/created_at"));
}

TEST(Attempt, AnswersTextIsSplitAtCommasAndEachIndexIsStrict)
{
    std::string const message = "Error: --answers must be comma-separated choice indices, e.g. 1,0,1\n";
    std::vector<std::string> const refused {
        "",      ",",        "1,,1",         "1,1,",  "a,1,1", "-1,1,1", "1,1,18446744073709551616",
        "++1,1,1", "+,1,1", "+ 1,1,1", "1;1;1", "0x1,1,1", "1 1,1", "1,1,1.0",
    };
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state(/*attempt_limit=*/20));
    for (auto const& answers : refused) {
        SCOPED_TRACE(answers);
        expect_run(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers", answers },
                   { .err = message });
    }
    expect_run(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers", "1,1" },
               { .err = "Error: assessment " + fixture_assessment + " has 3 questions, but 2 answers were given\n" });
    expect_run(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers", "1,1,1,1" },
               { .err = "Error: assessment " + fixture_assessment + " has 3 questions, but 4 answers were given\n" });

    // Accepted spellings of one right and two wrong answers; each is graded.
    std::vector<std::string> const accepted {
        "1,1,1", " 1 ,\t1\n, 1 ", "+1,+1,+1", "\u00a01,1\u3000,1\u2003", "01,0001,1", "18446744073709551615,0,0",
    };
    for (std::size_t index = 0; index < accepted.size(); ++index) {
        SCOPED_TRACE(accepted[index]);
        auto const result = run_ok(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers",
                                                accepted[index] });
        JsonFile const state(directory / e2e::state_file);
        std::string const attempt = "/attempts/" + std::to_string(index);
        EXPECT_EQ(result.out, "attempt " + state.text(attempt + "/id") + " (#" + std::to_string(index + 1) + ")"
                                  + dash + "Failed, score band Fail, feedback ReviewRecommended\n");
    }
}

TEST(Attempt, GradingOutcomesAndTheAttemptLimit)
{
    ScratchDirectory directory;
    std::string const second = "5b5b5b5b-5b5b-4b5b-8b5b-5b5b5b5b5b5b";
    std::string const third = "5c5c5c5c-5c5c-4c5c-8c5c-5c5c5c5c5c5c";
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) },
                                      .assignments = { e2e::fixture_assignment_json("assigned"),
                                                       e2e::fixture_assignment_json("assigned", "null", second),
                                                       e2e::fixture_assignment_json("in_progress", "null", third) } }));

    auto const first_try = run_ok(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers",
                                               e2e::one_correct });
    auto const second_try = run_ok(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers",
                                                e2e::one_correct });
    {
        JsonFile const state(directory / e2e::state_file);
        EXPECT_EQ(first_try.out, "attempt " + state.text("/attempts/0/id") + " (#1)" + dash
                                     + "Failed, score band Fail, feedback ReviewRecommended\n");
        EXPECT_EQ(second_try.out, "attempt " + state.text("/attempts/1/id") + " (#2)" + dash
                                      + "Failed, score band Fail, feedback AttemptLimitReached\n");
        EXPECT_EQ(state.text("/assignments/0/status"), "in_progress");
        JsonFile const audit(directory / e2e::audit_file);
        EXPECT_EQ(audit.size(""), 2u);
        EXPECT_EQ(audit.text("/0/event/result"), "denied");
        EXPECT_EQ(audit.text("/1/event/result"), "denied");
    }
    expect_run(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::all_correct },
               { .err = "Error: attempt 3 exceeds the attempt limit (2) for assessment AssessmentId("
                     + fixture_assessment + ")\n" });

    // Two of three pass with band Pass; three of three with Distinction, and
    // an in-progress assignment completes too.
    auto const pass = run_ok(directory, { "attempt", "--assignment-id", second, "--answers", e2e::two_correct });
    auto const distinction = run_ok(directory, { "attempt", "--assignment-id", third, "--answers", e2e::all_correct });
    JsonFile const state(directory / e2e::state_file);
    EXPECT_EQ(pass.out, "attempt " + state.text("/attempts/2/id") + " (#1)" + dash
                            + "Passed, score band Pass, feedback None\ncompletion recorded: "
                            + state.text("/completions/0/id") + " (use this id with `certify --completion-id`)\n");
    EXPECT_EQ(distinction.out, "attempt " + state.text("/attempts/3/id") + " (#1)" + dash
                                   + "Passed, score band Distinction, feedback None\ncompletion recorded: "
                                   + state.text("/completions/1/id") + " (use this id with `certify --completion-id`)\n");
    EXPECT_EQ(state.text("/completions/0/score_band"), "pass");
    EXPECT_EQ(state.text("/completions/1/score_band"), "distinction");
    EXPECT_EQ(state.text("/assignments/1/status"), "completed");
    EXPECT_EQ(state.text("/assignments/2/status"), "completed");
    JsonFile const audit(directory / e2e::audit_file);
    ASSERT_EQ(audit.size(""), 6u);
    EXPECT_EQ(audit.text("/2/event/action"), "training.knowledge_check.attempted");
    EXPECT_EQ(audit.text("/2/event/result"), "success");
    EXPECT_EQ(audit.text("/3/event/action"), "training.assignment.completed");
}

TEST(Attempt, RefusalsComeInOrderAndChangeNothing)
{
    std::string const orphan = "5d5d5d5d-5d5d-4d5d-8d5d-5d5d5d5d5d5d";
    std::string const missing_assessment = "dddddddd-dddd-4ddd-8ddd-dddddddddddd";
    auto const state_with = [&](std::string const& assessment_status, std::string const& assignment_status) {
        return e2e::state_json(
            { .assessments = { e2e::fixture_assessment_json(assessment_status, 3) },
              .assignments = { e2e::fixture_assignment_json(assignment_status),
                               e2e::fixture_assignment_json("assigned", "null", orphan, missing_assessment) } });
    };
    std::string const answers_message = "Error: --answers must be comma-separated choice indices, e.g. 1,0,1\n";
    std::string const terminal = "Error: assignment " + fixture_assignment + " has already reached a terminal state\n";
    struct Row {
        std::string state;
        std::string assignment;
        std::string answers;
        std::string err;
    };
    std::vector<Row> const rows {
        { state_with("published", "assigned"), "5a5a", "1,1,1",
          "Error: invalid AssignmentId identifier: invalid length: found 4\n" },
        { state_with("published", "assigned"), "eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee", "x",
          "Error: not found: assignment eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee\n" },
        { state_with("published", "assigned"), orphan, "x",
          "Error: not found: assessment " + missing_assessment + "\n" },
        { state_with("published", "completed"), fixture_assignment, "1,x", answers_message },
        { state_with("published", "completed"), fixture_assignment, "1,1",
          "Error: assessment " + fixture_assessment + " has 3 questions, but 2 answers were given\n" },
        { state_with("published", "completed"), fixture_assignment, e2e::all_correct, terminal },
        { state_with("published", "cancelled"), fixture_assignment, e2e::all_correct, terminal },
        { state_with("draft", "assigned"), fixture_assignment, "1,1", 
          "Error: assessment " + fixture_assessment + " has 3 questions, but 2 answers were given\n" },
        { state_with("draft", "assigned"), fixture_assignment, e2e::all_correct,
          "Error: assessment AssessmentId(" + fixture_assessment + ") is not accepting attempts\n" },
        { state_with("retired", "in_progress"), fixture_assignment, e2e::all_correct,
          "Error: assessment AssessmentId(" + fixture_assessment + ") is not accepting attempts\n" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, row.state);
        SCOPED_TRACE(row.err);
        expect_run(directory, { "attempt", "--assignment-id", row.assignment, "--answers", row.answers },
                   { .err = row.err });
    }
}

TEST(Certify, RefusalsAndWhenTheKeyIsCreated)
{
    std::string const missing = "dddddddd-dddd-4ddd-8ddd-dddddddddddd";
    struct Row {
        std::string state;
        std::vector<std::string> arguments;
        std::string err;
        Names changed;
    };
    std::vector<Row> const rows {
        { e2e::standard_state(), { "--completion-id", "c0c0" },
          "Error: invalid CompletionRecordId identifier: invalid length: found 4\n", {} },
        { e2e::standard_state(), { "--completion-id", missing }, "Error: not found: completion record " + missing + "\n",
          {} },
        { e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) },
                            .completions = { e2e::fixture_completion_json(1, missing) } }),
          { "--completion-id", fixture_completion }, "Error: not found: assessment " + missing + "\n", {} },
        // Issuing refusals come after the key is obtained.
        { e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) },
                            .completions = { e2e::fixture_completion_json(2) } }),
          { "--completion-id", fixture_completion, "--validity-days", "0" },
          "Error: completion record does not match assessment AssessmentId(" + fixture_assessment + ") version 1\n",
          { e2e::key_file } },
        { e2e::standard_state(), { "--completion-id", fixture_completion, "--validity-days", "0" },
          "Error: certificate validity period must be positive, got 0 seconds\n", { e2e::key_file } },
        { e2e::standard_state(), { "--completion-id", fixture_completion, "--validity-days", "-1" },
          "Error: certificate validity period must be positive, got -86400 seconds\n", { e2e::key_file } },
        { e2e::standard_state(), { "--completion-id", fixture_completion, "--validity-days", "-9223372036854775808" },
          "Error: certificate validity period must be positive, got -9223372036854775808 seconds\n",
          { e2e::key_file } },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, row.state);
        std::vector<std::string> arguments { "certify" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        SCOPED_TRACE(row.err);
        expect_run(directory, arguments, { .err = row.err, .changed = row.changed });
    }
}

TEST(Certify, ValidityPeriodsAndRepeatedIssues)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    std::string const one_day = certify_fixture(directory, "1");
    std::string const longest = certify_fixture(directory, "9223372036854775807");
    std::string const again = certify_fixture(directory, "1");
    JsonFile const state(directory / e2e::state_file);
    EXPECT_EQ(e2e::unix_seconds(state.text("/certificates/0/payload/expires_at")),
              e2e::unix_seconds(state.text("/certificates/0/payload/issued_at")) + 86400);
    EXPECT_EQ(state.text("/certificates/1/payload/expires_at"), "9999-12-31T23:59:59Z");
    EXPECT_EQ(state.text("/certificates/0/payload/course_id"), e2e::fixture_course);
    EXPECT_EQ(state.text("/certificates/0/payload/completion_record_id"), fixture_completion);
    EXPECT_NE(one_day, again);
    EXPECT_NE(state.text("/certificates/0/signature"), state.text("/certificates/2/signature"));

    // Each of them verifies after being stored and read back.
    for (auto const& certificate : { one_day, longest, again }) {
        std::string const at = state.text("/certificates/0/payload/issued_at");
        EXPECT_EQ(run_ok(directory, { "verify", "--certificate-id", certificate, "--at", at }).out,
                  "VALID" + dash + "certificate " + certificate + " verifies as of " + at + "\n");
    }
    JsonFile const audit(directory / e2e::audit_file);
    EXPECT_EQ(audit.size(""), 3u);
    EXPECT_EQ(audit.text("/1/event/target/target_id"), longest);
}

TEST(Verify, AsOfInstantsAroundTheValidityWindow)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    std::string const certificate = certify_fixture(directory, "1");
    std::string const expires_at = JsonFile(directory / e2e::state_file).text("/certificates/0/payload/expires_at");
    std::string const after_expiry = e2e::utc_text(e2e::unix_seconds(expires_at) + 1);
    std::string const expired = "certificate CertificationId(" + e2e::short_form(certificate) + ") expired at "
        + expires_at;
    std::string const valid_prefix = "VALID" + dash + "certificate " + certificate + " verifies as of ";

    struct Row {
        std::string at;
        Expected expected;
    };
    std::vector<Row> const rows {
        { expires_at, { .out = valid_prefix + expires_at + "\n", .status = 0 } },
        { "2000-01-01T00:00:00Z", { .out = valid_prefix + "2000-01-01T00:00:00Z\n", .status = 0 } },
        // The earliest instant the audit file can hold is accepted, anything before is refused.
        { "0000-01-01T00:00:00Z", { .out = valid_prefix + "0000-01-01T00:00:00Z\n", .status = 0 } },
        { "0000-01-01T00:00:00+01:00", { .err = "Error: --at must not be earlier than 0000-01-01T00:00:00Z\n" } },
        { "yesterday",
          { .err = "Error: validation failed: invalid RFC 3339 timestamp \"yesterday\": the 'year' component could "
                   "not be parsed\n" } },
        { after_expiry,
          { .out = "INVALID" + dash + "certificate " + certificate + " does not verify: " + expired + "\n",
            .err = "Error: certificate " + certificate + " failed verification: " + expired + "\n",
            .changed = { e2e::audit_file } } },
        { "2999-06-01T12:00:00+02:00",
          { .out = "INVALID" + dash + "certificate " + certificate + " does not verify: " + expired + "\n",
            .err = "Error: certificate " + certificate + " failed verification: " + expired + "\n",
            .changed = { e2e::audit_file } } },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.at);
        expect_run(directory, { "verify", "--certificate-id", certificate, "--at", row.at }, row.expected);
    }
    // One event per INVALID run, dated at the as-of instant in UTC.
    JsonFile const audit(directory / e2e::audit_file);
    ASSERT_EQ(audit.size(""), 3u);
    EXPECT_EQ(audit.text("/1/event/occurred_at"), after_expiry);
    EXPECT_EQ(audit.text("/2/event/occurred_at"), "2999-06-01T10:00:00Z");
    EXPECT_EQ(run_ok(directory, { "audit", "verify" }).out,
              "audit chain verifies: 3 event(s), all links and signatures intact\n");
    EXPECT_EQ(run_ok(directory, { "doctor" }).out,
              "state file    : ok (1 assessments, 1 assignments, 0 attempts, 1 completions, 1 certificates)\n"
              "signing key   : ok (corvella-signing-key.hex)\n"
              "audit chain   : ok (3 events verified)\n"
              "doctor        : all checks passed\n");
}

TEST(Verify, UnknownCertificatesAndANewKey)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    std::string const certificate = certify_fixture(directory);
    expect_run(directory, { "verify", "--certificate-id", "zz" },
               { .err = "Error: invalid CertificationId identifier: invalid character: found `z` at 1\n" });
    expect_run(directory, { "verify", "--certificate-id", "eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee" },
               { .err = "Error: not found: certificate eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee\n" });

    // With the key file gone a fresh key is made, and the certificate no
    // longer verifies under it.
    std::filesystem::remove(directory / e2e::key_file);
    std::string const reason = "certificate CertificationId(" + e2e::short_form(certificate)
        + ") failed signature verification";
    expect_run(directory, { "verify", "--certificate-id", certificate, "--at", "2000-01-01T00:00:00Z" },
               { .out = "INVALID" + dash + "certificate " + certificate + " does not verify: " + reason + "\n",
                 .err = "Error: certificate " + certificate + " failed verification: " + reason + "\n",
                 .changed = { e2e::audit_file, e2e::key_file } });
}

// Result lines come only after the files hold what they name: a key or an
// audit failure prints nothing but the error and leaves the state and the
// chain as they were.
TEST(OrderOfEffects, KeyAndAuditFailuresPrintOnlyTheErrorAndStoreNothing)
{
    std::string const bad_key = std::string(63, 'a');
    std::string const key_error = "Error: signing key file corvella-signing-key.hex is not valid hex\n";
    {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        std::string const certificate = certify_fixture(directory);
        e2e::write_file(directory / e2e::key_file, bad_key);
        for (auto const& arguments : std::vector<std::vector<std::string>> {
                 { "assign", "--assessment-id", fixture_assessment },
                 { "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::all_correct },
                 { "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::one_correct },
                 { "certify", "--completion-id", fixture_completion },
                 { "verify", "--certificate-id", certificate },
                 { "audit", "verify" },
             }) {
            SCOPED_TRACE(arguments.front());
            expect_run(directory, arguments, { .err = key_error });
        }
    }
    // An audit path that cannot be read fails before anything is printed;
    // only the key, which the commands obtain first, is created.
    {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        std::filesystem::create_directory(directory / e2e::audit_file);
        auto const before = snapshot(directory.path());
        for (auto const& arguments : std::vector<std::vector<std::string>> {
                 { "assign", "--assessment-id", fixture_assessment },
                 { "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::all_correct },
                 { "certify", "--completion-id", fixture_completion },
             }) {
            SCOPED_TRACE(arguments.front());
            auto const result = run(directory.path(), arguments);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: io error: Is a directory\n");
        }
        EXPECT_EQ(changed_files(before, snapshot(directory.path())), Names { e2e::key_file });
        EXPECT_EQ(e2e::entries(directory / e2e::audit_file), Names {});
    }
    // verify prints INVALID only once its failure event is stored.
    {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        std::string const certificate = certify_fixture(directory, "1");
        std::filesystem::remove(directory / e2e::audit_file);
        std::filesystem::create_directory(directory / e2e::audit_file);
        expect_run(directory, { "verify", "--certificate-id", certificate, "--at", "2999-01-01T00:00:00Z" },
                   { .err = "Error: io error: Is a directory\n" });
    }
}

TEST(ReportReadiness, CountsAsOfNow)
{
    ScratchDirectory directory;
    expect_run(directory, { "report", "readiness" }, { .out = readiness_zero, .status = 0 });
    EXPECT_EQ(e2e::entries(directory.path()), Names {});

    std::string const past = "\"2001-01-01T00:00:00Z\"";
    std::string const future = "\"2999-01-01T00:00:00Z\"";
    auto const certificate = [](std::string const& issued_at, std::string const& expires_at) {
        return std::string(R"({"payload":{"certificate_id":"c1c1c1c1-c1c1-4c1c-8c1c-c1c1c1c1c1c1","tenant_id":")")
            + e2e::fixture_tenant + R"(","workspace_id":")" + e2e::fixture_workspace + R"(","principal_id":")"
            + e2e::fixture_principal + R"(","course_id":")" + e2e::fixture_course + R"(","assessment_id":")"
            + e2e::fixture_assessment + R"(","assessment_version":1,"completion_record_id":")"
            + e2e::fixture_completion + R"(","score_band":"pass","issued_at":)" + issued_at + R"(,"expires_at":)"
            + expires_at + R"(},"signature":")" + std::string(128, '0') + "\"}";
    };
    e2e::write_file(
        directory / e2e::state_file,
        e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2),
                                           e2e::fixture_assessment_json("draft", 2),
                                           e2e::fixture_assessment_json("draft", 2),
                                           e2e::fixture_assessment_json("retired", 2) },
                          .assignments = { e2e::fixture_assignment_json("assigned"),
                                           e2e::fixture_assignment_json("assigned", past),
                                           e2e::fixture_assignment_json("in_progress", past),
                                           e2e::fixture_assignment_json("in_progress", future),
                                           e2e::fixture_assignment_json("completed", past),
                                           e2e::fixture_assignment_json("cancelled", past) },
                          .completions = { e2e::fixture_completion_json(), e2e::fixture_completion_json(7) },
                          .certificates = { certificate(past, past), certificate(future, future),
                                            certificate(past, future) } }));
    expect_run(directory, { "report", "readiness" },
               { .out = "Assessments   : 1 published, 2 draft, 1 retired\n"
                        "Assignments   : 2 assigned, 2 in progress, 1 completed, 1 cancelled (2 overdue)\n"
                        "Completions   : 2\n"
                        "Certificates  : 2 valid, 1 expired\n",
                 .status = 0 });

    e2e::write_file(directory / e2e::state_file, "[");
    auto const broken = run(directory.path(), { "report", "readiness" });
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, "");
    EXPECT_EQ(broken.err.rfind("Error: json error: ", 0), 0u) << broken.err;
}

TEST(Doctor, ReportsEveryProblemAndCreatesOnlyTheKeyItNeeds)
{
    std::string const all_absent = "state file    : ok (0 assessments, 0 assignments, 0 attempts, 0 completions, 0 "
                                   "certificates)\n"
                                   "signing key   : not yet created (generated on first mutating command)\n"
                                   "audit chain   : empty (no mutating command run yet)\n";
    {
        ScratchDirectory directory;
        expect_run(directory, { "doctor" }, { .out = all_absent + "doctor        : all checks passed\n", .status = 0 });
        EXPECT_EQ(e2e::entries(directory.path()), Names {});
    }
    {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, "[");
        auto const result = run(directory.path(), { "doctor" });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "signing key   : not yet created (generated on first mutating command)\n"
                              "audit chain   : empty (no mutating command run yet)\n");
        auto const problem = e2e::lines(result.err);
        ASSERT_EQ(problem.size(), 2u) << result.err;
        EXPECT_EQ(problem[0].rfind("PROBLEM: state file: json error: ", 0), 0u) << result.err;
        EXPECT_EQ(problem[1], "Error: 1 problem(s) found");
        EXPECT_EQ(e2e::entries(directory.path()), Names { e2e::state_file });
    }
    // An audit file without its key: the key is made, and the chain fails under it.
    {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        run_ok(directory, { "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::one_correct });
        std::filesystem::remove(directory / e2e::key_file);
        expect_run(directory, { "doctor" },
                   { .out = "state file    : ok (1 assessments, 1 assignments, 1 attempts, 1 completions, 0 "
                            "certificates)\n"
                            "signing key   : not yet created (generated on first mutating command)\n",
                     .err = "PROBLEM: audit chain: audit chain verification failed: signature verification failed\n"
                            "Error: 1 problem(s) found\n",
                     .changed = { e2e::key_file } });

        // A key file that is not hex is reported twice when the audit file exists.
        e2e::write_file(directory / e2e::key_file, "xyz");
        e2e::write_file(directory / e2e::state_file, "{\"assessments\": {}}");
        auto const result = run(directory.path(), { "doctor" });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        auto const problem = e2e::lines(result.err);
        ASSERT_EQ(problem.size(), 4u) << result.err;
        EXPECT_EQ(problem[0].rfind("PROBLEM: state file: json error: ", 0), 0u) << result.err;
        EXPECT_EQ(problem[1], "PROBLEM: signing key: signing key file corvella-signing-key.hex is not valid hex");
        EXPECT_EQ(problem[2], "PROBLEM: audit chain: signing key file corvella-signing-key.hex is not valid hex");
        EXPECT_EQ(problem[3], "Error: 3 problem(s) found");
    }
}

} // namespace

namespace {

// Each line of a --json run's output as its type and member names; a line
// that is not one JSON object fails the test.
std::vector<std::pair<std::string, Names>> json_lines(std::string const& out)
{
    std::vector<std::pair<std::string, Names>> lines;
    simdjson::dom::parser parser;
    for (std::size_t start = 0; start < out.size();) {
        std::size_t const end = out.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the last line has no line feed";
        std::string const line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        simdjson::dom::object object;
        if (parser.parse(line).get(object) != simdjson::SUCCESS) {
            ADD_FAILURE() << "not a JSON object: " << line;
            continue;
        }
        Names keys;
        for (auto field : object)
            keys.emplace_back(field.key);
        std::string_view type;
        EXPECT_EQ(object["type"].get(type), simdjson::SUCCESS) << line;
        lines.emplace_back(std::string(type), keys);
    }
    return lines;
}

} // namespace

TEST(JsonOutput, EveryCommandWritesOneObjectPerRecordOrFact)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    auto const json = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "--json");
        auto const result = run(directory.path(), arguments);
        EXPECT_EQ(result.err, "") << arguments[1];
        return json_lines(result.out);
    };
    using Lines = std::vector<std::pair<std::string, Names>>;
    Names const assessment { "type", "id", "title", "course_id", "status", "version", "questions", "attempt_limit" };
    EXPECT_EQ(json({ "assessment", "list" }), (Lines { { "assessment", assessment } }));
    Names inspected = assessment;
    inspected.push_back("learner_view");
    EXPECT_EQ(json({ "assessment", "inspect", fixture_assessment }), (Lines { { "assessment", inspected } }));

    auto const assigned = json({ "assign", "--assessment-id", fixture_assessment, "--due-in-days", "1" });
    EXPECT_EQ(assigned, (Lines { { "assignment",
                                   { "type", "id", "principal_id", "tenant_id", "workspace_id", "assessment_id",
                                     "course_id", "reason", "status", "due_at", "created_at" } } }));
    Names const attempt { "type", "id", "assignment_id", "principal_id", "assessment_id", "assessment_version",
                          "attempt_number", "status", "score_band", "safe_feedback", "completed_at" };
    EXPECT_EQ(json({ "attempt", "--assignment-id", fixture_assignment, "--answers", e2e::all_correct }),
              (Lines { { "attempt", attempt },
                       { "completion",
                         { "type", "id", "assignment_id", "attempt_id", "principal_id", "assessment_id", "score_band",
                           "completed_at" } } }));
    EXPECT_EQ(json({ "certify", "--completion-id", fixture_completion }),
              (Lines { { "certificate",
                         { "type", "id", "principal_id", "tenant_id", "workspace_id", "assessment_id",
                           "assessment_version", "completion_record_id", "score_band", "issued_at",
                           "expires_at" } } }));
    std::string const certificate = JsonFile(directory / e2e::state_file).text("/certificates/0/payload/certificate_id");
    EXPECT_EQ(json({ "verify", "--certificate-id", certificate }),
              (Lines { { "verification", { "type", "certificate_id", "as_of", "valid" } } }));
    EXPECT_EQ(json({ "credential", "export", "--certificate-id", certificate }),
              (Lines { { "credential", { "type", "certificate_id", "credential" } } }));
    EXPECT_EQ(json({ "key", "public" }), (Lines { { "verifying_key", { "type", "hex", "multibase", "did_key" } } }));
    EXPECT_EQ(json({ "audit", "verify" }), (Lines { { "audit_chain", { "type", "events", "valid" } } }));
    std::string const event = JsonFile(directory / e2e::audit_file).text("/0/event/event_id");
    Names const proof { "type", "event_id", "index", "size", "origin", "proof" };
    EXPECT_EQ(json({ "audit", "prove", "--event-id", event }), (Lines { { "inclusion_proof", proof } }));
    EXPECT_EQ(json({ "audit", "prove", "--event-id", event, "--output", "event.tlog-proof" }),
              (Lines { { "inclusion_proof_file", { "type", "event_id", "index", "size", "origin", "path" } } }));
    EXPECT_EQ(json({ "audit", "checkpoint", "--output", "kept.note" }),
              (Lines { { "checkpoint_file", { "type", "origin", "size", "path" } } }));
    EXPECT_EQ(json({ "audit", "prove", "--from-checkpoint", "kept.note", "--output", "grew.proof" }),
              (Lines { { "consistency_proof_file", { "type", "old_size", "size", "origin", "path" } } }));
    std::string const hex_key = e2e::lines(run(directory.path(), { "key", "public" }).out).at(0);
    EXPECT_EQ(json({ "audit", "verify-proof", "event.tlog-proof", "--public-key", hex_key }),
              (Lines { { "proof_verification", { "type", "path", "kind", "valid", "origin", "size", "index",
                                                 "event_id", "action", "target_type", "target_id", "occurred_at" } } }));
    EXPECT_EQ(json({ "audit", "verify-proof", "grew.proof", "--public-key", hex_key }),
              (Lines { { "proof_verification", { "type", "path", "kind", "valid", "origin", "old_size", "size" } } }));
    EXPECT_EQ(json({ "report", "readiness" }),
              (Lines { { "readiness", { "type", "assessments", "assignments", "completions", "certificates" } } }));
    EXPECT_EQ(json({ "doctor" }).size(), 4U);
    // The fixture's records have no events: the problems go to standard error as without --json.
    EXPECT_EQ(json_lines(run(directory.path(), { "--json", "audit", "reconcile" }).out),
              (Lines { { "reconciliation", { "type", "records", "events", "problems" } } }));
    EXPECT_EQ(json({ "revoke", "--certificate-id", certificate, "--reason", "issued in error" }),
              (Lines { { "revocation", { "type", "certificate_id", "revoked_at", "reason" } } }));
    // A failure writes its object, then the same error line as without --json.
    auto const invalid = run(directory.path(), { "verify", "--certificate-id", certificate, "--json" });
    EXPECT_EQ(json_lines(invalid.out),
              (Lines { { "verification", { "type", "certificate_id", "as_of", "valid", "reason" } } }));
    EXPECT_EQ(invalid.status, 1);
    EXPECT_TRUE(invalid.err.starts_with("Error: certificate " + certificate + " failed verification: revoked at "));
}

namespace {

// How many events the audit chain holds.
std::size_t events_in(ScratchDirectory const& directory)
{
    return JsonFile(directory / e2e::audit_file).size("");
}

} // namespace

TEST(Batch, AssignsEveryRowInOneCommitWithTheSingleCommandsLines)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    std::string const principal = "12345678-1234-4234-8234-123456789abc";
    // A spreadsheet's export: byte-order mark, CRLF, a quoted field, columns in any order.
    e2e::write_file(directory / "cohort.csv", "\xEF\xBB\xBFreason,principal_id,due_in_days\r\n"
                                              ",\"" + principal + "\",\r\n"
                                              "security-remediation,new,-1\r\n"
                                              "\r\n"
                                              ",,\r\n");
    auto const result = run(directory.path(), { "batch", "assign", "--assessment-id", fixture_assessment,
                                                "cohort.csv", "--due-in-days", "7" });
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    JsonFile const state(directory / e2e::state_file);
    ASSERT_EQ(state.size("/assignments"), 4U);
    std::vector<std::string> expected;
    for (std::size_t index = 1; index < 4; ++index) {
        std::string const at = "/assignments/" + std::to_string(index);
        expected.push_back("created assignment " + state.text(at + "/id") + dash + "principal "
                           + state.text(at + "/principal_id") + ", tenant " + state.text(at + "/tenant_id")
                           + ", workspace " + state.text(at + "/workspace_id") + ", assessment " + fixture_assessment);
    }
    EXPECT_EQ(e2e::lines(result.out), expected);
    EXPECT_EQ(state.text("/assignments/1/principal_id"), principal);
    EXPECT_EQ(state.text("/assignments/1/assignment_reason"), "role_requirement");
    EXPECT_EQ(state.text("/assignments/2/assignment_reason"), "security_remediation");
    // One instant for the batch; a row's due_in_days overrides the option.
    EXPECT_EQ(state.text("/assignments/1/created_at"), state.text("/assignments/3/created_at"));
    auto const created = e2e::unix_seconds(state.text("/assignments/1/created_at"));
    EXPECT_EQ(e2e::unix_seconds(state.text("/assignments/1/due_at")), created + 7 * 86400);
    EXPECT_EQ(e2e::unix_seconds(state.text("/assignments/2/due_at")), created - 86400);
    EXPECT_EQ(events_in(directory), 3U);
    EXPECT_EQ(run(directory.path(), { "audit", "verify" }).status, 0);
}

TEST(Batch, ARefusedRowStoresNothingAndEveryRefusalNamesItsLine)
{
    struct Row {
        std::vector<std::string> arguments;
        std::string csv;
        std::string err;
        Names changed {};
    };
    std::string const unknown = "bbbbbbbb-bbbb-4bbb-8bbb-bbbbbbbbbbbb";
    std::vector<Row> const rows {
        { { "assign", "--assessment-id", fixture_assessment }, "principal_id,reason\nnew,\nabc,\n\"new\",bogus\nnew,x,y\n",
          "in.csv:3: invalid IdentityId identifier: invalid length: found 3\n"
          "in.csv:4: reason must be one of role-requirement, manual-assignment, compliance-control, "
          "security-remediation, not \"bogus\"\n"
          "in.csv:5: the row has 3 fields, the header 2\n"
          "Error: 3 of 4 rows refused; nothing was stored\n" },
        // Each row sees the rows before it: the pass completes the assignment.
        { { "attempt" }, "assignment_id,answers\n" + fixture_assignment + ",\"1,0,2\"\n" + fixture_assignment
              + ",\"1,0,2\"\n" + unknown + ",1\n" + fixture_assignment + ",\"1,x\"\n",
          "in.csv:3: assignment " + fixture_assignment + " has already reached a terminal state\n"
          "in.csv:4: not found: assignment " + unknown + "\n"
          "in.csv:5: --answers must be comma-separated choice indices, e.g. 1,0,1\n"
          "Error: 3 of 4 rows refused; nothing was stored\n" },
        { { "certify", "--validity-days", "0" }, "completion_id\n" + fixture_completion + "\n",
          "in.csv:2: certificate validity period must be positive, got 0 seconds\n"
          "Error: 1 of 1 rows refused; nothing was stored\n",
          // As certify does, the key is made before the first certificate
          // is signed; a dry run checks with a key of its own.
          { e2e::key_file } },
        // The file itself.
        { { "attempt" }, "assignment_id\n", "Error: in.csv:1: missing column \"answers\"\n" },
        { { "certify" }, "completion_id,email\n", "Error: in.csv:1: unknown column \"email\"; the columns are "
                                                  "completion_id\n" },
        { { "certify" }, "\n\ncompletion_id,completion_id\n", "Error: in.csv:3: column \"completion_id\" appears "
                                                              "twice\n" },
        { { "certify" }, "", "Error: in.csv:1: no header row; the columns are completion_id\n" },
        { { "certify" }, "completion_id\n\"x\"y\n",
          "Error: in.csv:2: not CSV: text after the closing quote of a field (column 4); a field with a comma, a "
          "quote or a line break goes in double quotes, its quotes doubled\n" },
        { { "certify", "--pending" }, "completion_id\n", "Error: give either FILE or --pending, not both or neither\n" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.err);
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        e2e::write_file(directory / "in.csv", row.csv);
        std::vector<std::string> arguments { "batch" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        arguments.push_back("in.csv");
        auto dry_run = arguments;
        dry_run.push_back("--dry-run");
        e2e::expect_outcome(directory.path(), dry_run, { .err = row.err, .status = 1 });
        e2e::expect_outcome(directory.path(), arguments, { .err = row.err, .status = 1, .changed = row.changed });
    }
}

TEST(Batch, GradesInRowOrderAndCertifiesWhatIsPending)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state(/*attempt_limit=*/3));
    std::string const csv = "assignment_id,answers\n" + fixture_assignment + ",\"1,1,1\"\n" + fixture_assignment
        + ",\"1 , 0,2\"\n";
    e2e::write_file(directory / "answers.csv", csv);
    e2e::expect_outcome(directory.path(), { "batch", "attempt", "answers.csv", "--dry-run" },
                        { .out = "dry run: all 2 rows accepted; nothing was stored\n", .status = 0 });
    auto const graded = run(directory.path(), { "batch", "attempt", "-" }, &csv);
    ASSERT_EQ(graded.status, 0) << graded.err;
    JsonFile const state(directory / e2e::state_file);
    EXPECT_EQ(e2e::lines(graded.out),
              (std::vector<std::string> { "attempt " + state.text("/attempts/0/id") + " (#1)" + dash
                                              + "Failed, score band Fail, feedback ReviewRecommended",
                                          "attempt " + state.text("/attempts/1/id") + " (#2)" + dash
                                              + "Passed, score band Distinction, feedback None",
                                          "completion recorded: " + state.text("/completions/1/id")
                                              + " (use this id with `certify --completion-id`)" }));
    EXPECT_EQ(state.text("/assignments/0/status"), "completed");
    EXPECT_EQ(events_in(directory), 3U);

    // Both completion records are pending; certified, none is.
    auto const certified = run(directory.path(), { "batch", "certify", "--pending", "--validity-days", "30" });
    ASSERT_EQ(certified.status, 0) << certified.err;
    EXPECT_EQ(e2e::lines(certified.out).size(), 2U);
    EXPECT_EQ(JsonFile(directory / e2e::state_file).size("/certificates"), 2U);
    e2e::expect_outcome(directory.path(), { "batch", "certify", "--pending" }, { .status = 0 });
    // A header alone changes nothing.
    e2e::write_file(directory / "empty.csv", "completion_id\r\n");
    e2e::expect_outcome(directory.path(), { "batch", "certify", "empty.csv" }, { .status = 0 });
}
