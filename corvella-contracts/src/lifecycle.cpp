#include "corvella/lifecycle.h"

#include "corvella/grading.h"

#include <limits>
#include <utility>
#include <vector>

namespace corvella {

quenmark::Expected<void, TrainingError> check_assignable(AssessmentDefinition const& assessment)
{
    if (assessment.status != AssessmentStatus::Published)
        return quenmark::unexpected(TrainingError::assessment_not_published(assessment.id, assessment.status));
    return {};
}

std::uint64_t attempts_at(std::span<KnowledgeCheckAttempt const> attempts, AssignmentId const& assignment)
{
    std::uint64_t count = 0;
    for (auto const& attempt : attempts) {
        if (attempt.assignment_id && *attempt.assignment_id == assignment)
            ++count;
    }
    return count;
}

std::uint32_t next_attempt_number(std::uint64_t prior)
{
    if (prior >= std::numeric_limits<std::uint32_t>::max())
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(prior + 1);
}

quenmark::Expected<Submission, TrainingError> submit(TrainingAssignment const& assignment,
                                                     AssessmentDefinition const& assessment,
                                                     std::span<std::uint64_t const> indices,
                                                     std::uint32_t attempt_number, quenmark::Timestamp now)
{
    if (indices.size() != assessment.questions.size()) {
        return quenmark::unexpected(
            TrainingError::answers_for_questions(assessment.id, assessment.questions.size(), indices.size()));
    }
    if (assignment.status == AssignmentStatus::Completed || assignment.status == AssignmentStatus::Cancelled)
        return quenmark::unexpected(TrainingError::assignment_closed(assignment.id));

    std::vector<Answer> answers;
    answers.reserve(indices.size());
    for (std::size_t position = 0; position < indices.size(); ++position)
        answers.push_back({ .question_id = assessment.questions[position].id, .choice_index = indices[position] });
    auto attempt = TRY(grade(assessment, GradingRequest {
                                             .tenant_id = assignment.tenant_id,
                                             .workspace_id = assignment.workspace_id,
                                             .principal_id = assignment.principal_id,
                                             .assignment_id = assignment.id,
                                             .attempt_number = attempt_number,
                                             .answers = answers,
                                             .started_at = now,
                                             .completed_at = now,
                                         }));
    if (attempt.status != AttemptStatus::Passed)
        return Submission { std::move(attempt), mark_in_progress(assignment, now), std::nullopt };

    // A passed attempt without an evidence reference always makes a record.
    auto record = build_completion_record(attempt, /*evidence_ref=*/std::nullopt);
    if (!record)
        quenmark::fail_internal("a passing attempt made no completion record: " + record.error().text());
    TRY(check_completion_for_assignment(*record, assignment));
    return Submission { std::move(attempt), mark_completed(assignment, now), std::move(*record) };
}

} // namespace corvella
