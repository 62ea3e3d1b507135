#pragma once

// Grading an answer set into a KnowledgeCheckAttempt, and turning a passing
// attempt into a CompletionRecord.

#include "corvella/assessment.h"
#include "corvella/errors.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/expected.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace corvella {

// One answer: the chosen position among a question's choices.
struct Answer {
    QuestionId question_id;
    std::uint64_t choice_index { 0 };
};

// Everything grading needs besides the assessment.
struct GradingRequest {
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    std::optional<AssignmentId> assignment_id;
    std::uint32_t attempt_number { 0 }; // 1 for the first graded attempt
    std::span<Answer const> answers;
    quenmark::Timestamp started_at;
    quenmark::Timestamp completed_at;
};

// Scores the answers against the assessment's answer key. Checks, in order:
// the assessment is published, the attempt number lies in 1..=attempt_limit,
// one answer per question, no question answered twice, every question known.
// A choice index beyond a question's choices is simply wrong. The attempt
// keeps the chosen indices in the assessment's question order.
[[nodiscard]] quenmark::Expected<KnowledgeCheckAttempt, TrainingError> grade(AssessmentDefinition const& assessment,
                                                                             GradingRequest const& request);

// A completion record with a fresh id from a passed attempt. Checks, in
// order: the attempt passed; an evidence reference, when given, is 1 to 256 bytes.
[[nodiscard]] quenmark::Expected<CompletionRecord, TrainingValidationError>
build_completion_record(KnowledgeCheckAttempt const& attempt, std::optional<std::string_view> evidence_ref);

} // namespace corvella
