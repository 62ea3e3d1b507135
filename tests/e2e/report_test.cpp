// The list reports end to end, on one state built by the commands: overdue
// assignments, certificates to renew, a learner's transcript and an
// assessment's item analysis, each as a table, as CSV and as JSON Lines,
// and the readiness count of revoked certificates.

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

using e2e::JsonFile;
using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;

std::string const assessment = e2e::fixture_assessment;
std::string const tenant = e2e::fixture_tenant;
std::string const workspace = e2e::fixture_workspace;
std::string const ann = "a0000001-0000-4000-8000-000000000001";
std::string const bob = "b0000002-0000-4000-8000-000000000002";
std::string const cy = "c0000003-0000-4000-8000-000000000003";
std::string const dee = "d0000004-0000-4000-8000-000000000004";
std::string const eve = "e0000005-0000-4000-8000-000000000005";
std::string const fay = "f0000006-0000-4000-8000-000000000006";
std::string const gus = "90000007-0000-4000-8000-000000000007";

void run_ok(ScratchDirectory const& directory, std::vector<std::string> const& arguments)
{
    auto const result = run(directory.path(), arguments);
    ASSERT_EQ(result.status, 0) << result.err;
}

// The records the commands made, by their place in the state's lists, and
// the instant every assignment was made at.
struct Built {
    std::vector<std::string> assignments;  // ann, bob, cy, dee, eve, fay, gus, ann again
    std::vector<std::string> attempts;     // ann 1 and 2, bob, eve, ann again, fay
    std::vector<std::string> attempted_at; // when each was graded
    std::vector<std::string> completions;  // ann, eve, ann again, fay
    std::vector<std::string> certificates; // of those completions, in that order
    std::vector<std::string> issued_at;
    std::vector<std::string> expires_at;
    std::int64_t assigned_at { 0 };
};

// The fixture assessment (answer key 1, 0, 2; two correct to pass), eight
// assignments, six attempts, four certificates (10, 10, 100 and 50 days
// valid), the last of them revoked.
Built build(ScratchDirectory const& directory)
{
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 3) } }));
    std::string learners = "principal_id,tenant_id,workspace_id,due_in_days\n";
    for (auto const& [principal, due] : std::vector<std::pair<std::string, std::string>> {
             { ann, "10" }, { bob, "2" }, { cy, "5" }, { dee, "" }, { eve, "1" }, { fay, "" }, { gus, "1" },
             { ann, "3" } })
        learners += principal + "," + tenant + "," + workspace + "," + due + "\n";
    e2e::write_file(directory / "learners.csv", learners);
    run_ok(directory, { "batch", "assign", "learners.csv", "--assessment-id", assessment });

    Built built;
    JsonFile const assigned(directory / e2e::state_file);
    for (std::size_t index = 0; index < 8; ++index)
        built.assignments.push_back(assigned.text("/assignments/" + std::to_string(index) + "/id"));
    built.assigned_at = e2e::unix_seconds(assigned.text("/assignments/0/created_at"));
    auto const& a = built.assignments;
    e2e::write_file(directory / "answers.csv", "assignment_id,answers\n" + a[0] + ",\"1,1,1\"\n" + a[0]
                        + ",\"1,0,2\"\n" + a[1] + ",\"0,0,0\"\n" + a[4] + ",\"1,0,0\"\n" + a[7] + ",\"1,0,0\"\n"
                        + a[5] + ",\"1,0,2\"\n");
    run_ok(directory, { "batch", "attempt", "answers.csv" });
    JsonFile const attempted(directory / e2e::state_file);
    for (std::size_t index = 0; index < 6; ++index) {
        built.attempts.push_back(attempted.text("/attempts/" + std::to_string(index) + "/id"));
        built.attempted_at.push_back(attempted.text("/attempts/" + std::to_string(index) + "/completed_at"));
    }
    std::vector<std::string> const validity { "10", "10", "100", "50" };
    for (std::size_t index = 0; index < 4; ++index) {
        built.completions.push_back(attempted.text("/completions/" + std::to_string(index) + "/id"));
        run_ok(directory,
               { "certify", "--completion-id", built.completions[index], "--validity-days", validity[index] });
    }
    JsonFile const certified(directory / e2e::state_file);
    for (std::size_t index = 0; index < 4; ++index) {
        std::string const payload = "/certificates/" + std::to_string(index) + "/payload/";
        built.certificates.push_back(certified.text(payload + "certificate_id"));
        built.issued_at.push_back(certified.text(payload + "issued_at"));
        built.expires_at.push_back(certified.text(payload + "expires_at"));
    }
    run_ok(directory, { "revoke", "--certificate-id", built.certificates[3], "--reason", "issued in error" });
    return built;
}

// The instant `days` days and twelve hours after the assignments were made:
// far from any boundary, however long the commands took.
std::string days_later(Built const& built, std::int64_t days)
{
    return e2e::utc_text(static_cast<std::time_t>(built.assigned_at + days * 86400 + 43200));
}

std::string due_after(Built const& built, std::int64_t days)
{
    return e2e::utc_text(static_cast<std::time_t>(built.assigned_at + days * 86400));
}

struct Column {
    std::string name;
    bool number { false };
};
using Rows = std::vector<std::vector<std::string>>;

std::string csv_of(std::vector<Column> const& columns, Rows const& rows)
{
    std::string out;
    for (std::size_t index = 0; index < columns.size(); ++index)
        out += (index == 0 ? "" : ",") + columns[index].name;
    out += "\n";
    for (auto const& row : rows) {
        for (std::size_t index = 0; index < row.size(); ++index)
            out += (index == 0 ? "" : ",") + row[index];
        out += "\n";
    }
    return out;
}

// The rows as JSON Lines: numbers bare, empty cells null. None of the
// expected texts needs an escape.
std::string json_of(std::string const& type, std::vector<Column> const& columns, Rows const& rows)
{
    std::string out;
    for (auto const& row : rows) {
        out += "{\"type\":\"" + type + "\"";
        for (std::size_t index = 0; index < row.size(); ++index) {
            std::string const& value = row[index];
            out += ",\"" + columns[index].name + "\":";
            out += value.empty() ? "null" : columns[index].number ? value : "\"" + value + "\"";
        }
        out += "}\n";
    }
    return out;
}

// Runs the report as CSV, as JSON Lines and as a table, and expects the
// rows in the first two and `table` in the last; it writes no file.
void expect_report(ScratchDirectory const& directory, std::vector<std::string> const& arguments,
                   std::string const& type, std::vector<Column> const& columns, Rows const& rows,
                   std::string const& table)
{
    auto const before = e2e::snapshot(directory.path());
    auto with = [&](std::string const& option) {
        std::vector<std::string> extended = arguments;
        extended.push_back(option);
        return run(directory.path(), extended);
    };
    auto const csv = with("--csv");
    EXPECT_EQ(csv.out, csv_of(columns, rows));
    auto const json = with("--json");
    EXPECT_EQ(json.out, json_of(type, columns, rows));
    auto const text = run(directory.path(), arguments);
    EXPECT_EQ(text.out, table);
    for (auto const* result : { &csv, &json, &text }) {
        EXPECT_EQ(result->err, "");
        EXPECT_EQ(result->status, 0);
    }
    EXPECT_EQ(e2e::changed_files(before, e2e::snapshot(directory.path())), Names {});
}

// The rows as an aligned table under the headings (the names in capitals):
// each column as wide as its widest cell, two spaces apart, numbers on the
// right, "-" for an empty cell, the last column unpadded. The texts are ASCII.
std::string table_of(std::vector<Column> const& columns, Rows rows)
{
    std::vector<std::string> headings;
    for (auto const& column : columns) {
        std::string heading = column.name;
        for (char& c : heading)
            c = c == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        headings.push_back(heading);
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
            std::string const padding(widths[index] - row[index].size(), ' ');
            bool const last = index + 1 == row.size();
            out += (index == 0 ? "" : "  ") + (columns[index].number ? padding + row[index]
                                                                      : row[index] + (last ? "" : padding));
        }
        out += "\n";
    }
    return out;
}

std::vector<Column> const overdue_columns { { "assignment_id" }, { "principal_id" }, { "tenant_id" },
                                            { "workspace_id" },  { "assessment_id" }, { "title" },
                                            { "due_at" },        { "days_overdue", true } };

TEST(ReportOverdue, OpenAssignmentsPastDueMostOverdueFirst)
{
    ScratchDirectory directory;
    Built const built = build(directory);
    auto const& a = built.assignments;
    auto row = [&](std::size_t assignment, std::string const& principal, std::int64_t due, std::string const& days) {
        return std::vector<std::string> { a[assignment], principal, tenant,  workspace,
                                          assessment,    "Fixture", due_after(built, due), days };
    };
    struct Case {
        std::string at;
        Rows rows;
    };
    std::vector<Case> const cases {
        // Completed assignments past their due date are not overdue.
        { days_later(built, 3), { row(6, gus, 1, "2"), row(1, bob, 2, "1") } },
        { days_later(built, 6), { row(6, gus, 1, "5"), row(1, bob, 2, "4"), row(2, cy, 5, "1") } },
        { days_later(built, 0), {} },
    };
    for (auto const& [at, rows] : cases) {
        SCOPED_TRACE(at);
        std::string const table = rows.empty() ? "no overdue assignments as of " + at + "\n"
                                                : table_of(overdue_columns, rows);
        expect_report(directory, { "report", "overdue", "--at", at }, "report_overdue", overdue_columns, rows, table);
    }
}

TEST(ReportExpiring, ValidSoonAndExpiredWithoutRenewalSoonestFirst)
{
    ScratchDirectory directory;
    Built const built = build(directory);
    std::vector<Column> const columns { { "certificate_id" }, { "principal_id" }, { "assessment_id" },
                                        { "title" },          { "expires_at" },   { "days_left", true } };
    auto row = [&](std::size_t certificate, std::string const& principal, std::string const& days) {
        return std::vector<std::string> { built.certificates[certificate], principal, assessment, "Fixture",
                                          built.expires_at[certificate], days };
    };
    struct Case {
        std::string at;
        std::string within_days;
        Rows rows;
    };
    // Twenty days on, ann's first certificate has expired but her second
    // renews it; eve's has expired unrenewed; fay's is revoked.
    std::vector<Case> const cases {
        { days_later(built, 20), "90", { row(1, eve, "-11"), row(2, ann, "79") } },
        { days_later(built, 20), "30", { row(1, eve, "-11") } },
        { days_later(built, 1), "0", {} },
        { days_later(built, 1), "9", { row(0, ann, "8"), row(1, eve, "8") } },
    };
    for (auto const& [at, within_days, rows] : cases) {
        SCOPED_TRACE(at + " within " + within_days);
        std::string const table = rows.empty() ? "no certificates expire within " + within_days
                + " days or await renewal as of " + at + "\n"
                                                : table_of(columns, rows);
        expect_report(directory, { "report", "expiring", "--within-days", within_days, "--at", at },
                      "report_expiring", columns, rows, table);
    }
}

TEST(ReportLearner, EachAssignmentWithItsAttemptsCompletionAndCertificates)
{
    ScratchDirectory directory;
    Built const built = build(directory);
    std::vector<Column> const columns {
        { "record" },     { "id" },     { "assignment_id" }, { "assessment_id" },        { "title" },
        { "status" },     { "attempt_number", true },        { "score", true },          { "questions", true },
        { "score_band" }, { "due_at" }, { "at" },            { "expires_at" },
    };
    auto const& a = built.assignments;
    std::string const assigned = e2e::utc_text(static_cast<std::time_t>(built.assigned_at));
    auto assignment = [&](std::size_t index, std::string const& status, std::string const& due) {
        return std::vector<std::string> { "assignment", a[index], a[index], assessment, "Fixture", status,
                                          "",           "",       "",       "",         due,       assigned, "" };
    };
    auto attempt = [&](std::size_t index, std::size_t assignment_index, std::string const& status,
                       std::string const& number, std::string const& score, std::string const& band) {
        return std::vector<std::string> { "attempt", built.attempts[index], a[assignment_index], assessment,
                                          "Fixture", status, number, score, "3", band, "", built.attempted_at[index],
                                          "" };
    };
    auto completion = [&](std::size_t index, std::size_t assignment_index, std::size_t attempt_index,
                          std::string const& band) {
        return std::vector<std::string> { "completion", built.completions[index], a[assignment_index], assessment,
                                          "Fixture", "", "", "", "", band, "", built.attempted_at[attempt_index], "" };
    };
    auto certificate = [&](std::size_t index, std::size_t assignment_index, std::string const& standing,
                           std::string const& band) {
        return std::vector<std::string> { "certificate", built.certificates[index], a[assignment_index],
                                          assessment, "Fixture", standing, "", "", "", band, "",
                                          built.issued_at[index], built.expires_at[index] };
    };
    struct Case {
        std::string principal;
        std::string at;
        Rows rows;
    };
    std::vector<Case> const cases {
        { ann, days_later(built, 20),
          {
              assignment(0, "completed", due_after(built, 10)),
              attempt(0, 0, "failed", "1", "1", "fail"),
              attempt(1, 0, "passed", "2", "3", "distinction"),
              completion(0, 0, 1, "distinction"),
              certificate(0, 0, "expired", "distinction"),
              assignment(7, "completed", due_after(built, 3)),
              attempt(4, 7, "passed", "1", "2", "pass"),
              completion(2, 7, 4, "pass"),
              certificate(2, 7, "valid", "pass"),
          } },
        { fay, days_later(built, 0),
          { assignment(5, "completed", ""), attempt(5, 5, "passed", "1", "3", "distinction"),
            completion(3, 5, 5, "distinction"), certificate(3, 5, "revoked", "distinction") } },
        { bob, days_later(built, 0), { assignment(1, "in_progress", due_after(built, 2)),
                                       attempt(2, 1, "failed", "1", "1", "fail") } },
    };
    for (auto const& [principal, at, rows] : cases) {
        SCOPED_TRACE(principal);
        expect_report(directory, { "report", "learner", "--principal-id", principal, "--at", at }, "report_learner",
                      columns, rows, table_of(columns, rows));
    }
}

TEST(ReportAssessment, AssignmentsAttemptsScoresAndChoicesPerQuestion)
{
    ScratchDirectory directory;
    build(directory);
    std::vector<Column> const columns { { "measure" },     { "question", true }, { "value", true }, { "count", true },
                                        { "total", true }, { "percent", true },  { "text" } };
    // Assigned: cy, dee, gus; in progress: bob; completed: ann twice, eve,
    // fay. Attempts 1,1,1 and 1,0,2 (ann), 0,0,0 (bob), 1,0,0 (eve, ann),
    // 1,0,2 (fay) against the key 1,0,2.
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
    std::string const table = "MEASURE           QUESTION  VALUE  COUNT  TOTAL  PERCENT  TEXT\n"
                              "assigned                 -      -      3      8     37.5  -\n"
                              "in_progress              -      -      1      8     12.5  -\n"
                              "completed                -      -      4      8     50.0  -\n"
                              "cancelled                -      -      0      8      0.0  -\n"
                              "passed                   -      -      4      6     66.7  -\n"
                              "failed                   -      -      2      6     33.3  -\n"
                              "attempts_to_pass         -   1.25      5      4        -  -\n"
                              "score                    -      0      0      6      0.0  -\n"
                              "score                    -      1      2      6     33.3  -\n"
                              "score                    -      2      2      6     33.3  -\n"
                              "score                    -      3      2      6     33.3  -\n"
                              "correct                  1      -      5      6     83.3  One?\n"
                              "wrong_choice             1      0      1      6     16.7  a\n"
                              "correct                  2      -      5      6     83.3  Two?\n"
                              "wrong_choice             2      1      1      6     16.7  b\n"
                              "correct                  3      -      2      6     33.3  Three?\n"
                              "wrong_choice             3      0      3      6     50.0  a\n";
    expect_report(directory, { "report", "assessment", "--assessment-id", assessment }, "report_assessment", columns,
                  rows, table);
}

TEST(Reports, RefusalsReadinessWithRevocationsAndNothingWritten)
{
    ScratchDirectory directory;
    Built const built = build(directory);
    std::string const unknown = "eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee";
    struct Row {
        std::vector<std::string> arguments;
        std::string err;
    };
    std::vector<Row> const rows {
        { { "learner", "--principal-id", unknown }, "Error: not found: principal " + unknown + "\n" },
        { { "learner", "--principal-id", "nobody" },
          "Error: invalid IdentityId identifier: invalid character: found `n` at 1\n" },
        { { "assessment", "--assessment-id", unknown }, "Error: not found: assessment " + unknown + "\n" },
        { { "overdue", "--at", "yesterday" },
          "Error: validation failed: invalid RFC 3339 timestamp \"yesterday\": the 'year' component could "
          "not be parsed\n" },
        { { "overdue", "--csv", "--json" }, "Error: --csv and --json cannot be combined\n" },
    };
    for (auto const& row : rows) {
        std::vector<std::string> arguments { "report" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        SCOPED_TRACE(row.err);
        e2e::expect_outcome(directory.path(), arguments, { .err = row.err });
    }
    // The revoked certificate is counted as such. No report needs the key,
    // or creates it.
    std::filesystem::remove(directory / e2e::key_file);
    e2e::expect_outcome(directory.path(), { "report", "readiness" },
                        { .out = "Assessments   : 1 published, 0 draft, 0 retired\n"
                                 "Assignments   : 3 assigned, 1 in progress, 4 completed, 0 cancelled (0 overdue)\n"
                                 "Completions   : 4\n"
                                 "Certificates  : 3 valid, 0 expired, 1 revoked\n",
                          .status = 0 });
    auto const readiness = run(directory.path(), { "--json", "report", "readiness" });
    EXPECT_NE(readiness.out.find("\"certificates\":{\"valid\":3,\"expired\":0,\"revoked\":1}}"), std::string::npos)
        << readiness.out;
    for (auto const& arguments : std::vector<std::vector<std::string>> {
             { "report", "overdue", "--at", days_later(built, 6) },
             { "report", "expiring" },
             { "report", "learner", "--principal-id", ann },
             { "report", "assessment", "--assessment-id", assessment } })
        EXPECT_EQ(run(directory.path(), arguments).status, 0) << arguments[1];
    EXPECT_FALSE(std::filesystem::exists(directory / e2e::key_file));
}

} // namespace
