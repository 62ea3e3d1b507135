#include "corvella/errors.h"

#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::id;

namespace {

constexpr std::string_view uuid_text = "a1b2c3d4-e5f6-4789-8abc-def012345678";
std::string const full = "a1b2c3d4-e5f6-4789-8abc-def012345678";

struct Row {
    std::string actual;
    std::string expected;
};

TEST(TrainingErrors, ValidationErrorTexts)
{
    auto const question = id<QuestionId>(uuid_text);
    Row const rows[] = {
        { TrainingValidationError::empty_field(TextField::Prompt).text(), "prompt must not be empty" },
        { TrainingValidationError::empty_field(TextField::Choice).text(), "choice must not be empty" },
        { TrainingValidationError::empty_field(TextField::Title).text(), "title must not be empty" },
        { TrainingValidationError::no_questions().text(), "assessment must have at least one question" },
        { TrainingValidationError::too_few_choices(question, 1).text(),
          "question QuestionId(" + full + ") must offer at least two choices, got 1" },
        { TrainingValidationError::correct_index_out_of_range(question, 3, 3).text(),
          "question QuestionId(" + full + ") correct_index 3 is out of range for 3 choices" },
        { TrainingValidationError::duplicate_question_id(question).text(),
          "duplicate question id QuestionId(" + full + ") in one assessment" },
        { TrainingValidationError::min_correct_out_of_range(0, 3).text(),
          "passing rule requires min_correct (0) between 1 and total_questions (3)" },
        { TrainingValidationError::total_questions_mismatch(4, 3).text(),
          "passing rule total_questions (4) does not match question count (3)" },
        { TrainingValidationError::attempt_limit_too_low(0).text(), "attempt_limit must be at least 1, got 0" },
        { TrainingValidationError::no_learner_view(id<AssessmentId>(uuid_text), AssessmentStatus::Retired).text(),
          "assessment AssessmentId(" + full + ") is retired and has no learner-facing view" },
        { TrainingValidationError::attempt_not_passed(id<AttemptId>(uuid_text)).text(),
          "attempt AttemptId(a1b2c3d4\u2026) did not pass; a completion record cannot be built from it" },
        { TrainingValidationError::evidence_ref_length(257).text(),
          "evidence reference must be 1..=256 bytes, got 257" },
        { TrainingValidationError::empty_field(TextField::Reason).text(), "reason must not be empty" },
        { TrainingValidationError::control_character(TextField::Reason).text(),
          "reason must be one line without control characters" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(row.actual, row.expected);
}

TEST(TrainingErrors, OperationErrorTexts)
{
    auto const assessment = id<AssessmentId>(uuid_text);
    auto const certificate = id<CertificationId>(uuid_text);
    Row const rows[] = {
        { TrainingError::contract(quenmark::ContractError::signature_verification()).text(),
          "signature verification failed" },
        { TrainingError::assessment_not_accepting_attempts(assessment).text(),
          "assessment AssessmentId(" + full + ") is not accepting attempts" },
        { TrainingError::attempt_limit_exceeded(assessment, 3, 2).text(),
          "attempt 3 exceeds the attempt limit (2) for assessment AssessmentId(" + full + ")" },
        { TrainingError::answer_count_mismatch(2, 3).text(),
          "answer set size 2 does not match the assessment's question count 3" },
        { TrainingError::unknown_question(id<QuestionId>(uuid_text)).text(),
          "answer references unknown question QuestionId(" + full + ")" },
        { TrainingError::duplicate_answer(id<QuestionId>(uuid_text)).text(),
          "answer set contains more than one answer for question QuestionId(" + full + ")" },
        { TrainingError::completion_assignment_mismatch(id<AssignmentId>(uuid_text),
                                                        CompletionMismatch::DifferentPrincipal)
              .text(),
          "completion record does not belong to assignment AssignmentId(a1b2c3d4\u2026): "
          "completion record belongs to a different principal" },
        { TrainingError::completion_assignment_mismatch(id<AssignmentId>(uuid_text),
                                                        CompletionMismatch::DifferentAssessment)
              .text(),
          "completion record does not belong to assignment AssignmentId(a1b2c3d4\u2026): "
          "completion record is for a different assessment" },
        { TrainingError::completion_assignment_mismatch(id<AssignmentId>(uuid_text),
                                                        CompletionMismatch::DifferentAssignment)
              .text(),
          "completion record does not belong to assignment AssignmentId(a1b2c3d4\u2026): "
          "completion record was recorded against a different assignment" },
        { TrainingError::completion_assessment_mismatch(assessment, 1).text(),
          "completion record does not match assessment AssessmentId(" + full + ") version 1" },
        { TrainingError::non_positive_validity(-86400).text(),
          "certificate validity period must be positive, got -86400 seconds" },
        { TrainingError::certificate_expired(certificate, at("2026-12-08T04:00:09Z")).text(),
          "certificate CertificationId(a1b2c3d4\u2026) expired at 2026-12-08T04:00:09Z" },
        { TrainingError::signature_invalid(certificate).text(),
          "certificate CertificationId(a1b2c3d4\u2026) failed signature verification" },
        { TrainingError::certificate_revoked(certificate, at("2026-12-08T04:00:09Z"), "issued in error").text(),
          "revoked at 2026-12-08T04:00:09Z: issued in error" },
        { TrainingError::already_revoked(certificate, at("2026-12-08T04:00:09Z"), "issued in error").text(),
          "certificate CertificationId(a1b2c3d4\u2026) was already revoked at 2026-12-08T04:00:09Z: issued in error" },
        { TrainingError::assessment_not_published(assessment, corvella::AssessmentStatus::Retired).text(),
          "assessment " + full + " is Retired; publish it before assigning" },
        { TrainingError::answers_for_questions(assessment, 3, 2).text(),
          "assessment " + full + " has 3 questions, but 2 answers were given" },
        { TrainingError::assignment_closed(id<AssignmentId>(uuid_text)).text(),
          "assignment " + full + " has already reached a terminal state" },
        { TrainingError::revocation_not_stored(certificate, at("2026-12-08T04:00:09Z")).text(),
          "certificate " + full + " is revoked by the audit chain at 2026-12-08T04:00:09Z, but the "
          "state file does not hold its revocation" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(row.actual, row.expected);
}

} // namespace
