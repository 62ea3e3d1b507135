#pragma once

// The rules that move a learner's records along: which assessment can be
// assigned, which number the next attempt at an assignment gets, and what a
// submission of answers to an assignment produces.

#include "corvella/assessment.h"
#include "corvella/errors.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/expected.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <span>

namespace corvella {

// Only a published assessment can be assigned: AssessmentNotPublished otherwise.
[[nodiscard]] quenmark::Expected<void, TrainingError> check_assignable(AssessmentDefinition const& assessment);

// How many of the stored attempts belong to the assignment.
std::uint64_t attempts_at(std::span<KnowledgeCheckAttempt const> attempts, AssignmentId const& assignment);

// The number of the next attempt at an assignment that has `prior` stored
// attempts: one more. Beyond the counter's range it stays at the largest
// number, which no attempt limit admits.
std::uint32_t next_attempt_number(std::uint64_t prior);

// What one submission of answers to an assignment produces: the graded
// attempt, the assignment after it (in progress, or completed when the
// attempt passed) and, for a passing attempt, its completion record.
struct Submission {
    KnowledgeCheckAttempt attempt;
    TrainingAssignment assignment;
    std::optional<CompletionRecord> completion;
};

// Grades the choice indices, given in the assessment's question order, as the
// attempt numbered `attempt_number`, all at `now`. Checks, in order: one
// index per question (AnswersForQuestions), the assignment still open
// (AssignmentClosed), then grading's own checks; a passing attempt's
// completion record must then belong to the assignment
// (CompletionAssignmentMismatch).
[[nodiscard]] quenmark::Expected<Submission, TrainingError> submit(TrainingAssignment const& assignment,
                                                                   AssessmentDefinition const& assessment,
                                                                   std::span<std::uint64_t const> indices,
                                                                   std::uint32_t attempt_number,
                                                                   quenmark::Timestamp now);

} // namespace corvella
