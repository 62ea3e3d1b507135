#include "corvella/grading.h"

#include <unordered_set>
#include <utility>
#include <vector>

namespace corvella {

namespace {

constexpr std::size_t max_evidence_ref_bytes = 256;

Question const* find_question(AssessmentDefinition const& assessment, QuestionId id)
{
    for (auto const& question : assessment.questions) {
        if (question.id == id)
            return &question;
    }
    return nullptr;
}

} // namespace

quenmark::Expected<KnowledgeCheckAttempt, TrainingError> grade(AssessmentDefinition const& assessment,
                                                               GradingRequest const& request)
{
    if (assessment.status != AssessmentStatus::Published)
        return quenmark::unexpected(TrainingError::assessment_not_accepting_attempts(assessment.id));
    // Unsigned arithmetic on purpose: attempt number 0 wraps around and is refused too.
    if (static_cast<std::uint32_t>(request.attempt_number - 1U) >= assessment.attempt_limit)
        return quenmark::unexpected(TrainingError::attempt_limit_exceeded(assessment.id, request.attempt_number,
                                                                          assessment.attempt_limit));
    if (request.answers.size() != assessment.questions.size())
        return quenmark::unexpected(
            TrainingError::answer_count_mismatch(request.answers.size(), assessment.questions.size()));

    std::unordered_set<QuestionId> seen;
    seen.reserve(request.answers.size());
    std::uint64_t correct = 0;
    // Kept in the assessment's question order, whatever order they came in.
    std::vector<std::uint64_t> chosen(assessment.questions.size());
    for (auto const& answer : request.answers) {
        if (!seen.insert(answer.question_id).second)
            return quenmark::unexpected(TrainingError::duplicate_answer(answer.question_id));
        Question const* question = find_question(assessment, answer.question_id);
        if (question == nullptr)
            return quenmark::unexpected(TrainingError::unknown_question(answer.question_id));
        if (answer.choice_index == question->correct_index)
            ++correct;
        chosen[static_cast<std::size_t>(question - assessment.questions.data())] = answer.choice_index;
    }

    bool const passed = correct >= assessment.passing_rule.min_correct;
    ScoreBand band = ScoreBand::Fail;
    SafeFeedback feedback = SafeFeedback::None;
    if (passed)
        band = correct == request.answers.size() ? ScoreBand::Distinction : ScoreBand::Pass;
    else if (request.attempt_number < assessment.attempt_limit)
        feedback = SafeFeedback::ReviewRecommended;
    else
        feedback = SafeFeedback::AttemptLimitReached;

    return KnowledgeCheckAttempt {
        .id = AttemptId::mint(),
        .tenant_id = request.tenant_id,
        .workspace_id = request.workspace_id,
        .principal_id = request.principal_id,
        .assessment_id = assessment.id,
        .assessment_version = assessment.version,
        .assignment_id = request.assignment_id,
        .attempt_number = request.attempt_number,
        .status = passed ? AttemptStatus::Passed : AttemptStatus::Failed,
        .score_band = band,
        .safe_feedback = feedback,
        .started_at = request.started_at,
        .completed_at = request.completed_at,
        .answers = std::move(chosen),
    };
}

quenmark::Expected<CompletionRecord, TrainingValidationError>
build_completion_record(KnowledgeCheckAttempt const& attempt, std::optional<std::string_view> evidence_ref)
{
    if (attempt.status == AttemptStatus::Failed)
        return quenmark::unexpected(TrainingValidationError::attempt_not_passed(attempt.id));
    if (evidence_ref.has_value() && (evidence_ref->empty() || evidence_ref->size() > max_evidence_ref_bytes))
        return quenmark::unexpected(TrainingValidationError::evidence_ref_length(evidence_ref->size()));

    return CompletionRecord {
        .id = CompletionRecordId::mint(),
        .tenant_id = attempt.tenant_id,
        .workspace_id = attempt.workspace_id,
        .principal_id = attempt.principal_id,
        .assignment_id = attempt.assignment_id,
        .assessment_id = attempt.assessment_id,
        .assessment_version = attempt.assessment_version,
        .attempt_id = attempt.id,
        .score_band = attempt.score_band,
        .completed_at = attempt.completed_at,
        .expires_at = std::nullopt,
        .evidence_ref = evidence_ref.has_value() ? std::optional<std::string>(*evidence_ref) : std::nullopt,
    };
}

} // namespace corvella
