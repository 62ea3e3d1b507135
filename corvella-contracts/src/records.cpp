#include "corvella/records.h"

#include "identifier_json.h"

#include <utility>

namespace corvella {

namespace {

using quenmark::json::member;

constexpr auto assignment_members = quenmark::json::members(
    member<&TrainingAssignment::id>("id"),
    member<&TrainingAssignment::tenant_id>("tenant_id"),
    member<&TrainingAssignment::workspace_id>("workspace_id"),
    member<&TrainingAssignment::principal_id>("principal_id"),
    member<&TrainingAssignment::course_id>("course_id"),
    member<&TrainingAssignment::assessment_id>("assessment_id"),
    member<&TrainingAssignment::assignment_reason>("assignment_reason"),
    member<&TrainingAssignment::due_at>("due_at"),
    member<&TrainingAssignment::status>("status"),
    member<&TrainingAssignment::created_at>("created_at"),
    member<&TrainingAssignment::updated_at>("updated_at"),
    member<&TrainingAssignment::completed_at>("completed_at"));

constexpr auto attempt_members = quenmark::json::members(
    member<&KnowledgeCheckAttempt::id>("id"),
    member<&KnowledgeCheckAttempt::tenant_id>("tenant_id"),
    member<&KnowledgeCheckAttempt::workspace_id>("workspace_id"),
    member<&KnowledgeCheckAttempt::principal_id>("principal_id"),
    member<&KnowledgeCheckAttempt::assessment_id>("assessment_id"),
    member<&KnowledgeCheckAttempt::assessment_version>("assessment_version"),
    member<&KnowledgeCheckAttempt::assignment_id>("assignment_id"),
    member<&KnowledgeCheckAttempt::attempt_number>("attempt_number"),
    member<&KnowledgeCheckAttempt::status>("status"),
    member<&KnowledgeCheckAttempt::score_band>("score_band"),
    member<&KnowledgeCheckAttempt::safe_feedback>("safe_feedback"),
    member<&KnowledgeCheckAttempt::started_at>("started_at"),
    member<&KnowledgeCheckAttempt::completed_at>("completed_at"),
    member<&KnowledgeCheckAttempt::answers, quenmark::json::Absent::Omitted>("answers"));

constexpr auto completion_members = quenmark::json::members(
    member<&CompletionRecord::id>("id"),
    member<&CompletionRecord::tenant_id>("tenant_id"),
    member<&CompletionRecord::workspace_id>("workspace_id"),
    member<&CompletionRecord::principal_id>("principal_id"),
    member<&CompletionRecord::assignment_id>("assignment_id"),
    member<&CompletionRecord::assessment_id>("assessment_id"),
    member<&CompletionRecord::assessment_version>("assessment_version"),
    member<&CompletionRecord::attempt_id>("attempt_id"),
    member<&CompletionRecord::score_band>("score_band"),
    member<&CompletionRecord::completed_at>("completed_at"),
    member<&CompletionRecord::expires_at>("expires_at"),
    member<&CompletionRecord::evidence_ref>("evidence_ref"));

} // namespace

TrainingAssignment build_assignment(NewAssignment const& input)
{
    return TrainingAssignment {
        .id = AssignmentId::mint(),
        .tenant_id = input.tenant_id,
        .workspace_id = input.workspace_id,
        .principal_id = input.principal_id,
        .course_id = input.course_id,
        .assessment_id = input.assessment_id,
        .assignment_reason = input.reason,
        .due_at = input.due_at,
        .status = AssignmentStatus::Assigned,
        .created_at = input.now,
        .updated_at = input.now,
        .completed_at = std::nullopt,
    };
}

bool is_overdue(TrainingAssignment const& assignment, quenmark::Timestamp now)
{
    bool const open = assignment.status == AssignmentStatus::Assigned || assignment.status == AssignmentStatus::InProgress;
    return open && assignment.due_at.has_value() && *assignment.due_at < now;
}

TrainingAssignment mark_in_progress(TrainingAssignment assignment, quenmark::Timestamp now)
{
    assignment.status = AssignmentStatus::InProgress;
    assignment.updated_at = now;
    return assignment;
}

TrainingAssignment mark_completed(TrainingAssignment assignment, quenmark::Timestamp now)
{
    assignment.status = AssignmentStatus::Completed;
    assignment.completed_at = now;
    assignment.updated_at = now;
    return assignment;
}

quenmark::Expected<void, TrainingError> check_completion_for_assignment(CompletionRecord const& record,
                                                                        TrainingAssignment const& assignment)
{
    auto mismatch = [&](CompletionMismatch reason) {
        return quenmark::unexpected(TrainingError::completion_assignment_mismatch(assignment.id, reason));
    };
    if (record.principal_id != assignment.principal_id)
        return mismatch(CompletionMismatch::DifferentPrincipal);
    if (record.assessment_id != assignment.assessment_id)
        return mismatch(CompletionMismatch::DifferentAssessment);
    if (record.assignment_id.has_value() && *record.assignment_id != assignment.id)
        return mismatch(CompletionMismatch::DifferentAssignment);
    return {};
}

void write_json(quenmark::json::Sink& sink, TrainingAssignment const& assignment)
{
    quenmark::json::write_members(sink, assignment_members, assignment);
}

void write_json(quenmark::json::Sink& sink, KnowledgeCheckAttempt const& attempt)
{
    quenmark::json::write_members(sink, attempt_members, attempt);
}

void write_json(quenmark::json::Sink& sink, CompletionRecord const& record)
{
    quenmark::json::write_members(sink, completion_members, record);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, TrainingAssignment& out)
{
    return quenmark::json::read_members(reader, assignment_members, out);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, KnowledgeCheckAttempt& out)
{
    return quenmark::json::read_members(reader, attempt_members, out);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, CompletionRecord& out)
{
    return quenmark::json::read_members(reader, completion_members, out);
}

} // namespace corvella
