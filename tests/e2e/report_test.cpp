// The list reports end to end on a state the commands built: overdue
// assignments, certificates to renew, a learner's transcript and an
// assessment's item analysis, each as a table, as CSV and as JSON Lines;
// the refusals, and readiness with a revoked certificate.

#include "workflow_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using e2e::run;
using e2e::ScratchDirectory;

std::string const assessment = e2e::fixture_assessment;
std::string const tenant = e2e::fixture_tenant;
std::string const workspace = e2e::fixture_workspace;
std::string const ann = "a0000001-0000-4000-8000-000000000001";
std::string const bob = "b0000002-0000-4000-8000-000000000002";
std::string const cy = "c0000003-0000-4000-8000-000000000003";
std::string const eve = "e0000005-0000-4000-8000-000000000005";
std::string const fay = "f0000006-0000-4000-8000-000000000006";
std::string const gus = "90000007-0000-4000-8000-000000000007";

void run_ok(ScratchDirectory const& directory, std::vector<std::string> const& arguments)
{
    auto const result = run(directory.path(), arguments);
    ASSERT_EQ(result.status, 0) << result.err;
}

// A text member of the state file.
std::string stored(ScratchDirectory const& directory, std::string const& pointer)
{
    return e2e::JsonFile(directory / e2e::state_file).text(pointer);
}

// On the fixture assessment (answer key 1, 0, 2; two correct to pass),
// through the commands: assignments 0 to 7 for ann (due in 10 days), bob (2),
// cy (5), dee, eve (1), fay, gus (1) and ann again (3); attempts 0 to 5: ann
// 1,1,1 then 1,0,2, bob 0,0,0, eve 1,0,0, ann again 1,0,0, fay 1,0,2; so
// completion records 0 to 3 for ann, eve, ann again and fay, certified for
// 10, 10, 100 and 50 days, fay's certificate revoked. Returns the instant
// the assignments were made at, as Unix seconds.
std::int64_t build(ScratchDirectory const& directory)
{
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 3) } }));
    std::string learners = "principal_id,tenant_id,workspace_id,due_in_days\n";
    for (auto const& [principal, due] : std::vector<std::pair<std::string, std::string>> {
             { ann, "10" }, { bob, "2" }, { cy, "5" }, { "d0000004-0000-4000-8000-000000000004", "" }, { eve, "1" },
             { fay, "" }, { gus, "1" }, { ann, "3" } })
        learners += principal + "," + tenant + "," + workspace + "," + due + "\n";
    e2e::write_file(directory / "learners.csv", learners);
    run_ok(directory, { "batch", "assign", "learners.csv", "--assessment-id", assessment });
    std::string answers = "assignment_id,answers\n";
    for (auto const& [assignment, chosen] : std::vector<std::pair<int, std::string>> {
             { 0, "1,1,1" }, { 0, "1,0,2" }, { 1, "0,0,0" }, { 4, "1,0,0" }, { 7, "1,0,0" }, { 5, "1,0,2" } })
        answers += stored(directory, "/assignments/" + std::to_string(assignment) + "/id") + ",\"" + chosen + "\"\n";
    e2e::write_file(directory / "answers.csv", answers);
    run_ok(directory, { "batch", "attempt", "answers.csv" });
    std::vector<std::string> const validity { "10", "10", "100", "50" };
    for (std::size_t index = 0; index < validity.size(); ++index) {
        std::string const completion = stored(directory, "/completions/" + std::to_string(index) + "/id");
        run_ok(directory, { "certify", "--completion-id", completion, "--validity-days", validity[index] });
    }
    run_ok(directory, { "revoke", "--certificate-id", stored(directory, "/certificates/3/payload/certificate_id"),
                        "--reason", "issued in error" });
    return e2e::unix_seconds(stored(directory, "/assignments/0/created_at"));
}

// The instant `days` days (and `hours` hours) after `start`; reports are run
// half a day off any boundary, however long the commands took.
std::string after(std::int64_t start, std::int64_t days, std::int64_t hours = 12)
{
    return e2e::utc_text(static_cast<std::time_t>(start + days * 86400 + hours * 3600));
}

struct Column {
    std::string name;
    bool number { false };
};
using Rows = std::vector<std::vector<std::string>>;

// The rows as CSV under the column names; none of the texts needs quotes.
std::string csv_of(std::vector<Column> const& columns, Rows const& rows)
{
    std::string out;
    for (auto const& column : columns)
        out += (out.empty() ? "" : ",") + column.name;
    for (auto const& row : rows) {
        out += "\n";
        for (std::size_t index = 0; index < row.size(); ++index)
            out += (index == 0 ? "" : ",") + row[index];
    }
    return out + "\n";
}

// The rows as JSON Lines: numbers bare, empty cells null; no text needs an escape.
std::string json_of(std::string const& type, std::vector<Column> const& columns, Rows const& rows)
{
    std::string out;
    for (auto const& row : rows) {
        out += "{\"type\":\"" + type + "\"";
        for (std::size_t index = 0; index < row.size(); ++index) {
            std::string const& value = row[index];
            out += ",\"" + columns[index].name + "\":"
                + (value.empty() ? "null" : columns[index].number ? value : "\"" + value + "\"");
        }
        out += "}\n";
    }
    return out;
}

// The rows as an aligned table under the names in capitals: each column as
// wide as its widest cell, two spaces apart, numbers on the right, "-" for an
// empty cell, the last column unpadded. The texts are ASCII.
std::string table_of(std::vector<Column> const& columns, Rows rows)
{
    std::vector<std::string> headings;
    for (auto const& column : columns) {
        headings.push_back(column.name);
        for (char& c : headings.back())
            c = c == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    rows.insert(rows.begin(), headings);
    std::vector<std::size_t> widths(columns.size(), 0);
    for (auto& row : rows) {
        for (std::size_t index = 0; index < row.size(); ++index) {
            row[index] = row[index].empty() ? "-" : row[index];
            widths[index] = std::max(widths[index], row[index].size());
        }
    }
    std::string out;
    for (auto const& row : rows) {
        for (std::size_t index = 0; index < row.size(); ++index) {
            bool const unpadded = index + 1 == row.size() && !columns[index].number;
            std::string const padding(unpadded ? 0 : widths[index] - row[index].size(), ' ');
            out += (index == 0 ? "" : "  ") + (columns[index].number ? padding + row[index] : row[index] + padding);
        }
        out += "\n";
    }
    return out;
}

// Runs the report as CSV, as JSON Lines and as a table (`nothing` when there
// are no rows), expects the rows in each, and that no file changed.
void expect_report(ScratchDirectory const& directory, std::vector<std::string> arguments, std::string const& type,
                   std::vector<Column> const& columns, Rows const& rows, std::string const& nothing = {})
{
    auto const before = e2e::snapshot(directory.path());
    e2e::expect_outcome(directory.path(), arguments,
                        { .out = rows.empty() ? nothing : table_of(columns, rows), .status = 0 });
    arguments.push_back("--json");
    e2e::expect_outcome(directory.path(), arguments, { .out = json_of(type, columns, rows), .status = 0 });
    arguments.back() = "--csv";
    e2e::expect_outcome(directory.path(), arguments, { .out = csv_of(columns, rows), .status = 0 });
}

TEST(ReportOverdue, OpenAssignmentsPastDueMostOverdueFirst)
{
    ScratchDirectory directory;
    std::int64_t const start = build(directory);
    std::vector<Column> const columns { { "assignment_id" }, { "principal_id" }, { "tenant_id" },
                                        { "workspace_id" },  { "assessment_id" }, { "title" },
                                        { "due_at" },        { "days_overdue", true } };
    auto row = [&](int assignment, std::string const& principal, std::int64_t due, std::string const& days) {
        return std::vector<std::string> { stored(directory, "/assignments/" + std::to_string(assignment) + "/id"),
                                          principal, tenant, workspace, assessment, "Fixture",
                                          after(start, due, 0), days };
    };
    // Ann's and eve's assignments are completed, past their due dates or not.
    std::vector<std::pair<std::string, Rows>> const cases {
        { after(start, 3), { row(6, gus, 1, "2"), row(1, bob, 2, "1") } },
        { after(start, 6), { row(6, gus, 1, "5"), row(1, bob, 2, "4"), row(2, cy, 5, "1") } },
        { after(start, 0), {} },
    };
    for (auto const& [at, rows] : cases) {
        SCOPED_TRACE(at);
        expect_report(directory, { "report", "overdue", "--at", at }, "report_overdue", columns, rows,
                      "no overdue assignments as of " + at + "\n");
    }
}

// A table longer than the piece it is printed in at a time comes out whole.
TEST(ReportOverdue, LongTablePrintsWhole)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 3) } }));
    constexpr int learners = 600;
    std::string csv = "principal_id,tenant_id,workspace_id,due_in_days\n";
    for (int index = 0; index < learners; ++index) {
        std::string const number = std::to_string(100000 + index);
        csv += "a0000000-0000-4000-8000-000000" + number + "," + tenant + "," + workspace + ",1\n";
    }
    e2e::write_file(directory / "learners.csv", csv);
    run_ok(directory, { "batch", "assign", "learners.csv", "--assessment-id", assessment });
    e2e::JsonFile const state(directory / e2e::state_file);
    std::int64_t const start = e2e::unix_seconds(state.text("/assignments/0/created_at"));
    Rows rows;
    for (int index = 0; index < learners; ++index) {
        std::string const at = "/assignments/" + std::to_string(index);
        rows.push_back({ state.text(at + "/id"), state.text(at + "/principal_id"), tenant, workspace, assessment,
                         "Fixture", state.text(at + "/due_at"), "2" });
    }
    expect_report(directory, { "report", "overdue", "--at", after(start, 3) }, "report_overdue",
                  { { "assignment_id" }, { "principal_id" }, { "tenant_id" }, { "workspace_id" }, { "assessment_id" },
                    { "title" }, { "due_at" }, { "days_overdue", true } },
                  rows);
}

TEST(ReportExpiring, ValidSoonAndExpiredWithoutRenewalSoonestFirst)
{
    ScratchDirectory directory;
    std::int64_t const start = build(directory);
    std::vector<Column> const columns { { "certificate_id" }, { "principal_id" }, { "assessment_id" },
                                        { "title" },          { "expires_at" },   { "days_left", true } };
    auto row = [&](int certificate, std::string const& principal, std::string const& days) {
        std::string const payload = "/certificates/" + std::to_string(certificate) + "/payload/";
        return std::vector<std::string> { stored(directory, payload + "certificate_id"), principal, assessment,
                                          "Fixture", stored(directory, payload + "expires_at"), days };
    };
    struct Case {
        std::string at;
        std::string within_days;
        Rows rows;
    };
    // Twenty days on, ann's first certificate has expired but her second
    // renews it; eve's has expired unrenewed; fay's is revoked.
    std::vector<Case> const cases {
        { after(start, 20), "90", { row(1, eve, "-11"), row(2, ann, "79") } },
        { after(start, 20), "30", { row(1, eve, "-11") } },
        { after(start, 1), "0", {} },
        { after(start, 1), "9", { row(0, ann, "8"), row(1, eve, "8") } },
    };
    for (auto const& [at, within_days, rows] : cases) {
        SCOPED_TRACE(at + " within " + within_days);
        expect_report(directory, { "report", "expiring", "--within-days", within_days, "--at", at },
                      "report_expiring", columns, rows,
                      "no certificates expire within " + within_days + " days or await renewal as of " + at + "\n");
    }
}

TEST(ReportLearner, EachAssignmentWithItsAttemptsCompletionAndCertificates)
{
    ScratchDirectory directory;
    std::int64_t const start = build(directory);
    std::vector<Column> const columns {
        { "record" },     { "id" },     { "assignment_id" }, { "assessment_id" },        { "title" },
        { "status" },     { "attempt_number", true },        { "score", true },          { "questions", true },
        { "score_band" }, { "due_at" }, { "at" },            { "expires_at" },
    };
    auto field = [&](std::string const& list, int index, std::string const& member = "id") {
        return stored(directory, "/" + list + "/" + std::to_string(index) + "/" + member);
    };
    // A row of the record numbered `index` in its list, of the assignment numbered `of`.
    auto row = [&](std::string const& record, int index, int of, std::vector<std::string> const& rest) {
        std::string const id = record == "certificate" ? field("certificates", index, "payload/certificate_id")
                                                       : field(record + "s", index);
        std::vector<std::string> cells { record, id, field("assignments", of), assessment, "Fixture" };
        cells.insert(cells.end(), rest.begin(), rest.end());
        return cells;
    };
    auto assignment = [&](int index, std::string const& status, std::string const& due) {
        return row("assignment", index, index, { status, "", "", "", "", due, after(start, 0, 0), "" });
    };
    auto attempt = [&](int index, int of, std::string const& status, std::string const& number,
                       std::string const& score, std::string const& band) {
        return row("attempt", index, of,
                   { status, number, score, "3", band, "", field("attempts", index, "completed_at"), "" });
    };
    auto completion = [&](int index, int of, std::string const& band) {
        return row("completion", index, of,
                   { "", "", "", "", band, "", field("completions", index, "completed_at"), "" });
    };
    auto certificate = [&](int index, int of, std::string const& standing, std::string const& band) {
        return row("certificate", index, of, { standing, "", "", "", band, "",
                                               field("certificates", index, "payload/issued_at"),
                                               field("certificates", index, "payload/expires_at") });
    };
    std::vector<std::pair<std::string, Rows>> const cases {
        { ann,
          { assignment(0, "completed", after(start, 10, 0)), attempt(0, 0, "failed", "1", "1", "fail"),
            attempt(1, 0, "passed", "2", "3", "distinction"), completion(0, 0, "distinction"),
            certificate(0, 0, "expired", "distinction"), assignment(7, "completed", after(start, 3, 0)),
            attempt(4, 7, "passed", "1", "2", "pass"), completion(2, 7, "pass"),
            certificate(2, 7, "valid", "pass") } },
        { fay,
          { assignment(5, "completed", ""), attempt(5, 5, "passed", "1", "3", "distinction"),
            completion(3, 5, "distinction"), certificate(3, 5, "revoked", "distinction") } },
        { bob, { assignment(1, "in_progress", after(start, 2, 0)), attempt(2, 1, "failed", "1", "1", "fail") } },
    };
    for (auto const& [principal, rows] : cases) {
        SCOPED_TRACE(principal);
        expect_report(directory, { "report", "learner", "--principal-id", principal, "--at", after(start, 20) },
                      "report_learner", columns, rows);
    }
}

TEST(ReportAssessment, AssignmentsAttemptsScoresAndChoicesPerQuestion)
{
    ScratchDirectory directory;
    build(directory);
    std::vector<Column> const columns { { "measure" },     { "question", true }, { "value", true }, { "count", true },
                                        { "total", true }, { "percent", true },  { "text" } };
    Rows const rows {
        { "assigned", "", "", "3", "8", "37.5", "" },
        { "in_progress", "", "", "1", "8", "12.5", "" },
        { "completed", "", "", "4", "8", "50.0", "" },
        { "cancelled", "", "", "0", "8", "0.0", "" },
        { "passed", "", "", "4", "6", "66.7", "" },
        { "failed", "", "", "2", "6", "33.3", "" },
        { "attempts_to_pass", "", "1.25", "5", "4", "", "" },
        { "score", "", "0", "0", "6", "0.0", "" },
        { "score", "", "1", "2", "6", "33.3", "" },
        { "score", "", "2", "2", "6", "33.3", "" },
        { "score", "", "3", "2", "6", "33.3", "" },
        { "correct", "1", "", "5", "6", "83.3", "One?" },
        { "wrong_choice", "1", "0", "1", "6", "16.7", "a" },
        { "correct", "2", "", "5", "6", "83.3", "Two?" },
        { "wrong_choice", "2", "1", "1", "6", "16.7", "b" },
        { "correct", "3", "", "2", "6", "33.3", "Three?" },
        { "wrong_choice", "3", "0", "3", "6", "50.0", "a" },
    };
    expect_report(directory, { "report", "assessment", "--assessment-id", assessment }, "report_assessment", columns,
                  rows);
    // The table, once in full.
    EXPECT_TRUE(run(directory.path(), { "report", "assessment", "--assessment-id", assessment })
                    .out.starts_with("MEASURE           QUESTION  VALUE  COUNT  TOTAL  PERCENT  TEXT\n"
                                     "assigned                 -      -      3      8     37.5  -\n"
                                     "in_progress              -      -      1      8     12.5  -\n"));
}

TEST(Reports, RefusalsReadinessWithRevocationsAndNoKeyCreated)
{
    ScratchDirectory directory;
    build(directory);
    std::filesystem::remove(directory / e2e::key_file);
    std::string const unknown = "eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee";
    std::vector<std::pair<std::vector<std::string>, std::string>> const refusals {
        { { "learner", "--principal-id", unknown }, "Error: not found: principal " + unknown + "\n" },
        { { "learner", "--principal-id", "nobody" },
          "Error: invalid IdentityId identifier: invalid character: found `n` at 1\n" },
        { { "assessment", "--assessment-id", unknown }, "Error: not found: assessment " + unknown + "\n" },
        { { "overdue", "--at", "yesterday" },
          "Error: validation failed: invalid RFC 3339 timestamp \"yesterday\": the 'year' component could "
          "not be parsed\n" },
        { { "expiring", "--csv", "--json" }, "Error: --csv and --json cannot be combined\n" },
    };
    for (auto const& [arguments, err] : refusals) {
        std::vector<std::string> command { "report" };
        command.insert(command.end(), arguments.begin(), arguments.end());
        e2e::expect_outcome(directory.path(), command, { .err = err });
    }
    // The revoked certificate is counted apart.
    e2e::expect_outcome(directory.path(), { "report", "readiness" },
                        { .out = "Assessments   : 1 published, 0 draft, 0 retired\n"
                                 "Assignments   : 3 assigned, 1 in progress, 4 completed, 0 cancelled (0 overdue)\n"
                                 "Completions   : 4\n"
                                 "Certificates  : 3 valid, 0 expired, 1 revoked\n",
                          .status = 0 });
    EXPECT_TRUE(run(directory.path(), { "--json", "report", "readiness" })
                    .out.ends_with(",\"certificates\":{\"valid\":3,\"expired\":0,\"revoked\":1}}\n"));
    for (auto const* report : { "overdue", "expiring" })
        EXPECT_EQ(run(directory.path(), { "report", report }).status, 0) << report;
    EXPECT_FALSE(std::filesystem::exists(directory / e2e::key_file));
}

} // namespace
