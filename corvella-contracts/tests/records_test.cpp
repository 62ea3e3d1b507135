#include "corvella/records.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::from_json;
using training_fixtures::id;
using training_fixtures::to_json;

namespace {

TrainingAssignment fixed_assignment()
{
    return TrainingAssignment {
        .id = id<AssignmentId>("aaaaaaaa-0000-4000-8000-000000000001"),
        .tenant_id = id<TenantId>("bbbbbbbb-0000-4000-8000-000000000002"),
        .workspace_id = id<WorkspaceId>("cccccccc-0000-4000-8000-000000000003"),
        .principal_id = id<IdentityId>("dddddddd-0000-4000-8000-000000000004"),
        .course_id = id<CourseId>("eeeeeeee-0000-4000-8000-000000000005"),
        .assessment_id = id<AssessmentId>("ffffffff-0000-4000-8000-000000000006"),
        .assignment_reason = AssignmentReason::SecurityRemediation,
        .due_at = std::nullopt,
        .status = AssignmentStatus::Assigned,
        .created_at = at("2026-01-02T03:04:05Z"),
        .updated_at = at("2026-01-02T03:04:05Z"),
        .completed_at = std::nullopt,
    };
}

CompletionRecord completion_for(TrainingAssignment const& assignment)
{
    return CompletionRecord {
        .id = CompletionRecordId::mint(),
        .tenant_id = assignment.tenant_id,
        .workspace_id = assignment.workspace_id,
        .principal_id = assignment.principal_id,
        .assignment_id = assignment.id,
        .assessment_id = assignment.assessment_id,
        .assessment_version = 1,
        .attempt_id = AttemptId::mint(),
        .score_band = ScoreBand::Distinction,
        .completed_at = at("2026-01-03T00:00:00Z"),
        .expires_at = std::nullopt,
        .evidence_ref = std::nullopt,
    };
}

TEST(BuildAssignment, StartsAssignedAndCreatedNow)
{
    quenmark::Timestamp const now = at("2026-05-01T10:00:00Z");
    NewAssignment const input {
        .tenant_id = TenantId::mint(),
        .workspace_id = WorkspaceId::mint(),
        .principal_id = IdentityId::mint(),
        .course_id = CourseId::mint(),
        .assessment_id = AssessmentId::mint(),
        .reason = AssignmentReason::ComplianceControl,
        .due_at = now.plus_seconds(86400),
        .now = now,
    };
    TrainingAssignment const assignment = build_assignment(input);
    EXPECT_EQ(assignment.status, AssignmentStatus::Assigned);
    EXPECT_EQ(assignment.created_at, now);
    EXPECT_EQ(assignment.updated_at, now);
    EXPECT_EQ(assignment.completed_at, std::nullopt);
    EXPECT_EQ(assignment.due_at, at("2026-05-02T10:00:00Z"));
    EXPECT_EQ(assignment.assignment_reason, AssignmentReason::ComplianceControl);
    EXPECT_EQ(assignment.principal_id, input.principal_id);
    EXPECT_NE(build_assignment(input).id, assignment.id);
}

TEST(IsOverdue, OnlyOpenAssignmentsPastTheirDueInstant)
{
    quenmark::Timestamp const now = at("2026-05-01T10:00:00Z");
    struct Row {
        AssignmentStatus status;
        std::optional<quenmark::Timestamp> due_at;
        bool overdue;
    };
    Row const rows[] = {
        { AssignmentStatus::Assigned, now, false },
        { AssignmentStatus::Assigned, now.plus_seconds(-1), true },
        { AssignmentStatus::InProgress, now.plus_seconds(-1), true },
        { AssignmentStatus::InProgress, now.plus_seconds(1), false },
        { AssignmentStatus::Completed, now.plus_seconds(-86400), false },
        { AssignmentStatus::Cancelled, now.plus_seconds(-86400), false },
        { AssignmentStatus::Assigned, std::nullopt, false },
    };
    for (auto const& row : rows) {
        TrainingAssignment assignment = fixed_assignment();
        assignment.status = row.status;
        assignment.due_at = row.due_at;
        EXPECT_EQ(is_overdue(assignment, now), row.overdue) << stored_name(row.status);
    }
}

TEST(AssignmentLifecycle, InProgressThenCompleted)
{
    quenmark::Timestamp const later = at("2026-02-01T00:00:00Z");
    TrainingAssignment const started = mark_in_progress(fixed_assignment(), later);
    EXPECT_EQ(started.status, AssignmentStatus::InProgress);
    EXPECT_EQ(started.updated_at, later);
    EXPECT_EQ(started.created_at, fixed_assignment().created_at);
    EXPECT_EQ(started.completed_at, std::nullopt);

    TrainingAssignment const done = mark_completed(started, later.plus_seconds(5));
    EXPECT_EQ(done.status, AssignmentStatus::Completed);
    EXPECT_EQ(done.completed_at, later.plus_seconds(5));
    EXPECT_EQ(done.updated_at, later.plus_seconds(5));
}

TEST(CompletionForAssignment, ChecksInOrder)
{
    TrainingAssignment const assignment = fixed_assignment();
    std::string const prefix = "completion record does not belong to assignment AssignmentId(aaaaaaaa\u2026): ";

    CompletionRecord record = completion_for(assignment);
    EXPECT_TRUE(test_support::has_value(check_completion_for_assignment(record, assignment)));
    record.assignment_id = std::nullopt;
    EXPECT_TRUE(test_support::has_value(check_completion_for_assignment(record, assignment)));

    record.assignment_id = AssignmentId::mint();
    EXPECT_EQ(test_support::error_text(check_completion_for_assignment(record, assignment)),
              prefix + "completion record was recorded against a different assignment");
    record.assessment_id = AssessmentId::mint();
    EXPECT_EQ(test_support::error_text(check_completion_for_assignment(record, assignment)),
              prefix + "completion record is for a different assessment");
    record.principal_id = IdentityId::mint();
    EXPECT_EQ(test_support::error_text(check_completion_for_assignment(record, assignment)),
              prefix + "completion record belongs to a different principal");
}

TEST(RecordsJson, AssignmentWritesAbsentOptionalsAsNull)
{
    EXPECT_EQ(to_json(fixed_assignment()), R"({
  "id": "aaaaaaaa-0000-4000-8000-000000000001",
  "tenant_id": "bbbbbbbb-0000-4000-8000-000000000002",
  "workspace_id": "cccccccc-0000-4000-8000-000000000003",
  "principal_id": "dddddddd-0000-4000-8000-000000000004",
  "course_id": "eeeeeeee-0000-4000-8000-000000000005",
  "assessment_id": "ffffffff-0000-4000-8000-000000000006",
  "assignment_reason": "security_remediation",
  "due_at": null,
  "status": "assigned",
  "created_at": "2026-01-02T03:04:05Z",
  "updated_at": "2026-01-02T03:04:05Z",
  "completed_at": null
})");
}

TEST(RecordsJson, CompletionWritesAbsentOptionalsAsNull)
{
    CompletionRecord record = completion_for(fixed_assignment());
    record.id = id<CompletionRecordId>("12345678-0000-4000-8000-000000000007");
    record.attempt_id = id<AttemptId>("12345678-0000-4000-8000-000000000008");
    EXPECT_EQ(to_json(record), R"({
  "id": "12345678-0000-4000-8000-000000000007",
  "tenant_id": "bbbbbbbb-0000-4000-8000-000000000002",
  "workspace_id": "cccccccc-0000-4000-8000-000000000003",
  "principal_id": "dddddddd-0000-4000-8000-000000000004",
  "assignment_id": "aaaaaaaa-0000-4000-8000-000000000001",
  "assessment_id": "ffffffff-0000-4000-8000-000000000006",
  "assessment_version": 1,
  "attempt_id": "12345678-0000-4000-8000-000000000008",
  "score_band": "distinction",
  "completed_at": "2026-01-03T00:00:00Z",
  "expires_at": null,
  "evidence_ref": null
})");
}

TEST(RecordsJson, RoundTrips)
{
    TrainingAssignment assignment = mark_completed(fixed_assignment(), at("2026-03-01T00:00:00Z"));
    assignment.due_at = at("2026-02-01T00:00:00Z");
    auto const assignment_read = from_json<TrainingAssignment>(to_json(assignment));
    ASSERT_TRUE(test_support::has_value(assignment_read));
    EXPECT_EQ(*assignment_read, assignment);

    KnowledgeCheckAttempt attempt {
        .id = AttemptId::mint(),
        .tenant_id = TenantId::mint(),
        .workspace_id = WorkspaceId::mint(),
        .principal_id = IdentityId::mint(),
        .assessment_id = AssessmentId::mint(),
        .assessment_version = 4294967295U,
        .assignment_id = AssignmentId::mint(),
        .attempt_number = 2,
        .status = AttemptStatus::Failed,
        .score_band = ScoreBand::Fail,
        .safe_feedback = SafeFeedback::AttemptLimitReached,
        .started_at = at("2026-01-01T00:00:00Z"),
        .completed_at = at("2026-01-01T00:00:01Z"),
    };
    // The chosen answers are left out until there are any.
    for (auto const& answers :
         { std::vector<std::uint64_t> {}, std::vector<std::uint64_t> { 2, 0, 18446744073709551615U } }) {
        attempt.answers = answers;
        std::string const text = to_json(attempt);
        EXPECT_TRUE(text.ends_with(answers.empty() ? "\"completed_at\": \"2026-01-01T00:00:01Z\"\n}"
                                                   : "\"completed_at\": \"2026-01-01T00:00:01Z\",\n  \"answers\": [\n"
                                                     "    2,\n    0,\n    18446744073709551615\n  ]\n}"))
            << text;
        auto const attempt_read = from_json<KnowledgeCheckAttempt>(text);
        ASSERT_TRUE(test_support::has_value(attempt_read));
        EXPECT_EQ(*attempt_read, attempt);
    }

    CompletionRecord record = completion_for(fixed_assignment());
    record.expires_at = at("2027-01-01T00:00:00Z");
    record.evidence_ref = "ticket \"42\" \u00e9";
    auto const record_read = from_json<CompletionRecord>(to_json(record));
    ASSERT_TRUE(test_support::has_value(record_read));
    EXPECT_EQ(*record_read, record);
}

TEST(RecordsJson, OptionalMembersMayBeNullOrMissing)
{
    KnowledgeCheckAttempt attempt {};
    attempt.assignment_id = AssignmentId::mint();
    std::string const with_null = to_json(KnowledgeCheckAttempt {});
    ASSERT_NE(with_null.find("\"assignment_id\": null"), std::string::npos);
    auto const null_read = from_json<KnowledgeCheckAttempt>(with_null);
    ASSERT_TRUE(test_support::has_value(null_read));
    EXPECT_EQ(null_read->assignment_id, std::nullopt);

    std::string without = to_json(fixed_assignment());
    without.replace(without.find("  \"due_at\": null,\n"), 18, "");
    auto const missing_read = from_json<TrainingAssignment>(without);
    ASSERT_TRUE(test_support::has_value(missing_read));
    EXPECT_EQ(*missing_read, fixed_assignment());
}

TEST(RecordsJson, ReadingFailures)
{
    using testing::StartsWith;
    std::string const valid = to_json(fixed_assignment());
    auto replaced = [&](std::string const& from, std::string const& to) {
        std::string text = valid;
        text.replace(text.find(from), from.size(), to);
        return test_support::error_text(from_json<TrainingAssignment>(text));
    };
    EXPECT_THAT(replaced("\"created_at\"", "\"created\""), StartsWith("missing field `created_at`"));
    EXPECT_THAT(replaced("\"assigned\"", "\"open\""), StartsWith("unknown variant `open`"));
    EXPECT_THAT(replaced("\"security_remediation\"", "\"whim\""), StartsWith("unknown variant `whim`"));
    EXPECT_THAT(replaced("\"2026-01-02T03:04:05Z\"", "\"2024-02-30T00:00:00Z\""),
                StartsWith(quenmark::Timestamp::parse("2024-02-30T00:00:00Z").error().text() + " at line 11"));
    EXPECT_THAT(replaced("\"bbbbbbbb-0000-4000-8000-000000000002\"", "\"bbbb\""),
                StartsWith("UUID parsing failed: " + quenmark::Uuid::parse("bbbb").error() + " at line 3"));
    EXPECT_THAT(replaced("\"due_at\": null", "\"due_at\": 5"), StartsWith("invalid type"));
}

} // namespace
