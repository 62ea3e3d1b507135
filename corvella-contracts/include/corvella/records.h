#pragma once

// The records that follow a learner from being given an assessment to having
// passed it: the assignment, the graded attempt and the completion record,
// with their JSON forms and the assignment's lifecycle.

#include "corvella/enums.h"
#include "corvella/errors.h"
#include "corvella/ids/ids.h"
#include "quenmark/expected.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvella {

struct TrainingAssignment {
    AssignmentId id;
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    CourseId course_id;
    AssessmentId assessment_id;
    AssignmentReason assignment_reason { AssignmentReason::ManualAssignment };
    std::optional<quenmark::Timestamp> due_at;
    AssignmentStatus status { AssignmentStatus::Assigned };
    quenmark::Timestamp created_at;
    quenmark::Timestamp updated_at;
    std::optional<quenmark::Timestamp> completed_at; // present exactly when completed

    friend bool operator==(TrainingAssignment const&, TrainingAssignment const&) = default;
};

struct KnowledgeCheckAttempt {
    AttemptId id;
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    AssessmentId assessment_id;
    std::uint32_t assessment_version { 0 };
    std::optional<AssignmentId> assignment_id;
    std::uint32_t attempt_number { 0 };
    AttemptStatus status { AttemptStatus::Failed };
    ScoreBand score_band { ScoreBand::Fail };
    SafeFeedback safe_feedback { SafeFeedback::None };
    quenmark::Timestamp started_at;
    quenmark::Timestamp completed_at;
    // The chosen choice index per question, in the assessment's question
    // order; empty for attempts stored before the choices were kept, and
    // then left out of the JSON, so such state files are written as before.
    std::vector<std::uint64_t> answers {};

    friend bool operator==(KnowledgeCheckAttempt const&, KnowledgeCheckAttempt const&) = default;
};

struct CompletionRecord {
    CompletionRecordId id;
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    std::optional<AssignmentId> assignment_id;
    AssessmentId assessment_id;
    std::uint32_t assessment_version { 0 };
    AttemptId attempt_id;
    ScoreBand score_band { ScoreBand::Pass };
    quenmark::Timestamp completed_at;
    std::optional<quenmark::Timestamp> expires_at;
    std::optional<std::string> evidence_ref; // 1 to 256 bytes when present

    friend bool operator==(CompletionRecord const&, CompletionRecord const&) = default;
};

// The inputs of a new assignment.
struct NewAssignment {
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    CourseId course_id;
    AssessmentId assessment_id;
    AssignmentReason reason { AssignmentReason::ManualAssignment };
    std::optional<quenmark::Timestamp> due_at;
    quenmark::Timestamp now;
};

// An assigned assignment with a fresh id, created and updated now.
TrainingAssignment build_assignment(NewAssignment const& input);

// True when the assignment is still open (assigned or in progress) and its
// due instant is strictly earlier than now.
bool is_overdue(TrainingAssignment const& assignment, quenmark::Timestamp now);

// The assignment after a graded attempt: in progress, updated now.
TrainingAssignment mark_in_progress(TrainingAssignment assignment, quenmark::Timestamp now);
// The assignment after a passing attempt: completed, completed and updated now.
TrainingAssignment mark_completed(TrainingAssignment assignment, quenmark::Timestamp now);

// Checks that a new completion record belongs to the assignment, in order:
// same principal, same assessment, and (when the record names one) the same
// assignment. CompletionAssignmentMismatch names the first difference.
[[nodiscard]] quenmark::Expected<void, TrainingError> check_completion_for_assignment(CompletionRecord const& record,
                                                                                      TrainingAssignment const& assignment);

// JSON form: members in field order, absent optional values written as null;
// reading accepts null or a missing member for them and applies no rule.
void write_json(quenmark::json::Sink& sink, TrainingAssignment const& assignment);
void write_json(quenmark::json::Sink& sink, KnowledgeCheckAttempt const& attempt);
void write_json(quenmark::json::Sink& sink, CompletionRecord const& record);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, TrainingAssignment& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, KnowledgeCheckAttempt& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, CompletionRecord& out);

} // namespace corvella
