#include "corvella/errors.h"

#include "quenmark/text/text.h"

#include <utility>

namespace corvella {

namespace {

template<typename Id>
void append_debug(std::string& out, quenmark::Uuid const& uuid)
{
    out.append(Id::from_uuid(uuid).debug_form());
}

} // namespace

std::string_view field_name(TextField field)
{
    switch (field) {
    case TextField::Prompt:
        return "prompt";
    case TextField::Choice:
        return "choice";
    case TextField::Title:
        return "title";
    case TextField::Reason:
        return "reason";
    }
    __builtin_unreachable();
}

TrainingValidationError TrainingValidationError::empty_field(TextField field)
{
    TrainingValidationError error(Kind::EmptyField);
    error.m_field = field;
    return error;
}

TrainingValidationError TrainingValidationError::no_questions() { return TrainingValidationError(Kind::NoQuestions); }

TrainingValidationError TrainingValidationError::too_few_choices(QuestionId question, std::uint64_t choice_count)
{
    TrainingValidationError error(Kind::TooFewChoices);
    error.m_id = question.uuid();
    error.m_first = choice_count;
    return error;
}

TrainingValidationError TrainingValidationError::correct_index_out_of_range(QuestionId question,
                                                                            std::uint64_t correct_index,
                                                                            std::uint64_t choice_count)
{
    TrainingValidationError error(Kind::CorrectIndexOutOfRange);
    error.m_id = question.uuid();
    error.m_first = correct_index;
    error.m_second = choice_count;
    return error;
}

TrainingValidationError TrainingValidationError::duplicate_question_id(QuestionId question)
{
    TrainingValidationError error(Kind::DuplicateQuestionId);
    error.m_id = question.uuid();
    return error;
}

TrainingValidationError TrainingValidationError::min_correct_out_of_range(std::uint32_t min_correct,
                                                                          std::uint32_t total_questions)
{
    TrainingValidationError error(Kind::MinCorrectOutOfRange);
    error.m_first = min_correct;
    error.m_second = total_questions;
    return error;
}

TrainingValidationError TrainingValidationError::total_questions_mismatch(std::uint32_t total_questions,
                                                                          std::uint64_t question_count)
{
    TrainingValidationError error(Kind::TotalQuestionsMismatch);
    error.m_first = total_questions;
    error.m_second = question_count;
    return error;
}

TrainingValidationError TrainingValidationError::attempt_limit_too_low(std::uint32_t attempt_limit)
{
    TrainingValidationError error(Kind::AttemptLimitTooLow);
    error.m_first = attempt_limit;
    return error;
}

TrainingValidationError TrainingValidationError::no_learner_view(AssessmentId assessment, AssessmentStatus status)
{
    TrainingValidationError error(Kind::NoLearnerView);
    error.m_id = assessment.uuid();
    error.m_status = status;
    return error;
}

TrainingValidationError TrainingValidationError::attempt_not_passed(AttemptId attempt)
{
    TrainingValidationError error(Kind::AttemptNotPassed);
    error.m_id = attempt.uuid();
    return error;
}

TrainingValidationError TrainingValidationError::evidence_ref_length(std::uint64_t length)
{
    TrainingValidationError error(Kind::EvidenceRefLength);
    error.m_first = length;
    return error;
}

TrainingValidationError TrainingValidationError::control_character(TextField field)
{
    TrainingValidationError error(Kind::ControlCharacter);
    error.m_field = field;
    return error;
}

std::string TrainingValidationError::text() const
{
    std::string out;
    switch (m_kind) {
    case Kind::EmptyField:
        out.append(field_name(m_field));
        out.append(" must not be empty");
        return out;
    case Kind::NoQuestions:
        return "assessment must have at least one question";
    case Kind::TooFewChoices:
        out.append("question ");
        append_debug<QuestionId>(out, m_id);
        out.append(" must offer at least two choices, got ");
        quenmark::append_decimal(out, m_first);
        return out;
    case Kind::CorrectIndexOutOfRange:
        out.append("question ");
        append_debug<QuestionId>(out, m_id);
        out.append(" correct_index ");
        quenmark::append_decimal(out, m_first);
        out.append(" is out of range for ");
        quenmark::append_decimal(out, m_second);
        out.append(" choices");
        return out;
    case Kind::DuplicateQuestionId:
        out.append("duplicate question id ");
        append_debug<QuestionId>(out, m_id);
        out.append(" in one assessment");
        return out;
    case Kind::MinCorrectOutOfRange:
        out.append("passing rule requires min_correct (");
        quenmark::append_decimal(out, m_first);
        out.append(") between 1 and total_questions (");
        quenmark::append_decimal(out, m_second);
        out.append(")");
        return out;
    case Kind::TotalQuestionsMismatch:
        out.append("passing rule total_questions (");
        quenmark::append_decimal(out, m_first);
        out.append(") does not match question count (");
        quenmark::append_decimal(out, m_second);
        out.append(")");
        return out;
    case Kind::AttemptLimitTooLow:
        out.append("attempt_limit must be at least 1, got ");
        quenmark::append_decimal(out, m_first);
        return out;
    case Kind::NoLearnerView:
        out.append("assessment ");
        append_debug<AssessmentId>(out, m_id);
        out.append(" is ");
        out.append(stored_name(m_status));
        out.append(" and has no learner-facing view");
        return out;
    case Kind::AttemptNotPassed:
        out.append("attempt ");
        append_debug<AttemptId>(out, m_id);
        out.append(" did not pass; a completion record cannot be built from it");
        return out;
    case Kind::EvidenceRefLength:
        out.append("evidence reference must be 1..=256 bytes, got ");
        quenmark::append_decimal(out, m_first);
        return out;
    case Kind::ControlCharacter:
        out.append(field_name(m_field));
        out.append(" must be one line without control characters");
        return out;
    }
    __builtin_unreachable();
}

std::string_view reason_text(CompletionMismatch reason)
{
    switch (reason) {
    case CompletionMismatch::DifferentPrincipal:
        return "completion record belongs to a different principal";
    case CompletionMismatch::DifferentAssessment:
        return "completion record is for a different assessment";
    case CompletionMismatch::DifferentAssignment:
        return "completion record was recorded against a different assignment";
    }
    __builtin_unreachable();
}

TrainingError TrainingError::contract(quenmark::ContractError error)
{
    TrainingError result(Kind::Contract);
    result.m_contract = std::move(error);
    return result;
}

TrainingError TrainingError::assessment_not_accepting_attempts(AssessmentId assessment)
{
    TrainingError error(Kind::AssessmentNotAcceptingAttempts);
    error.m_id = assessment.uuid();
    return error;
}

TrainingError TrainingError::attempt_limit_exceeded(AssessmentId assessment, std::uint32_t attempt_number,
                                                    std::uint32_t attempt_limit)
{
    TrainingError error(Kind::AttemptLimitExceeded);
    error.m_id = assessment.uuid();
    error.m_first = attempt_number;
    error.m_second = attempt_limit;
    return error;
}

TrainingError TrainingError::answer_count_mismatch(std::uint64_t answer_count, std::uint64_t question_count)
{
    TrainingError error(Kind::AnswerCountMismatch);
    error.m_first = answer_count;
    error.m_second = question_count;
    return error;
}

TrainingError TrainingError::unknown_question(QuestionId question)
{
    TrainingError error(Kind::UnknownQuestion);
    error.m_id = question.uuid();
    return error;
}

TrainingError TrainingError::duplicate_answer(QuestionId question)
{
    TrainingError error(Kind::DuplicateAnswer);
    error.m_id = question.uuid();
    return error;
}

TrainingError TrainingError::completion_assignment_mismatch(AssignmentId assignment, CompletionMismatch reason)
{
    TrainingError error(Kind::CompletionAssignmentMismatch);
    error.m_id = assignment.uuid();
    error.m_reason = reason;
    return error;
}

TrainingError TrainingError::completion_assessment_mismatch(AssessmentId assessment, std::uint32_t version)
{
    TrainingError error(Kind::CompletionAssessmentMismatch);
    error.m_id = assessment.uuid();
    error.m_first = version;
    return error;
}

TrainingError TrainingError::non_positive_validity(std::int64_t seconds)
{
    TrainingError error(Kind::NonPositiveValidity);
    error.m_seconds = seconds;
    return error;
}

TrainingError TrainingError::certificate_expired(CertificationId certificate, quenmark::Timestamp expires_at)
{
    TrainingError error(Kind::CertificateExpired);
    error.m_id = certificate.uuid();
    error.m_instant = expires_at;
    return error;
}

TrainingError TrainingError::signature_invalid(CertificationId certificate)
{
    TrainingError error(Kind::SignatureInvalid);
    error.m_id = certificate.uuid();
    return error;
}

TrainingError TrainingError::certificate_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                                 std::string reason)
{
    TrainingError error(Kind::CertificateRevoked);
    error.m_id = certificate.uuid();
    error.m_instant = revoked_at;
    error.m_reason_text = std::move(reason);
    return error;
}

TrainingError TrainingError::already_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                             std::string reason)
{
    TrainingError error(Kind::AlreadyRevoked);
    error.m_id = certificate.uuid();
    error.m_instant = revoked_at;
    error.m_reason_text = std::move(reason);
    return error;
}

TrainingError TrainingError::assessment_not_published(AssessmentId assessment, AssessmentStatus status)
{
    TrainingError error(Kind::AssessmentNotPublished);
    error.m_id = assessment.uuid();
    error.m_status = status;
    return error;
}

TrainingError TrainingError::answers_for_questions(AssessmentId assessment, std::uint64_t question_count,
                                                   std::uint64_t answer_count)
{
    TrainingError error(Kind::AnswersForQuestions);
    error.m_id = assessment.uuid();
    error.m_first = question_count;
    error.m_second = answer_count;
    return error;
}

TrainingError TrainingError::assignment_closed(AssignmentId assignment)
{
    TrainingError error(Kind::AssignmentClosed);
    error.m_id = assignment.uuid();
    return error;
}

std::string TrainingError::text() const
{
    std::string out;
    switch (m_kind) {
    case Kind::Contract:
        return m_contract->text();
    case Kind::AssessmentNotAcceptingAttempts:
        out.append("assessment ");
        append_debug<AssessmentId>(out, m_id);
        out.append(" is not accepting attempts");
        return out;
    case Kind::AttemptLimitExceeded:
        out.append("attempt ");
        quenmark::append_decimal(out, m_first);
        out.append(" exceeds the attempt limit (");
        quenmark::append_decimal(out, m_second);
        out.append(") for assessment ");
        append_debug<AssessmentId>(out, m_id);
        return out;
    case Kind::AnswerCountMismatch:
        out.append("answer set size ");
        quenmark::append_decimal(out, m_first);
        out.append(" does not match the assessment's question count ");
        quenmark::append_decimal(out, m_second);
        return out;
    case Kind::UnknownQuestion:
        out.append("answer references unknown question ");
        append_debug<QuestionId>(out, m_id);
        return out;
    case Kind::DuplicateAnswer:
        out.append("answer set contains more than one answer for question ");
        append_debug<QuestionId>(out, m_id);
        return out;
    case Kind::CompletionAssignmentMismatch:
        out.append("completion record does not belong to assignment ");
        append_debug<AssignmentId>(out, m_id);
        out.append(": ");
        out.append(reason_text(m_reason));
        return out;
    case Kind::CompletionAssessmentMismatch:
        out.append("completion record does not match assessment ");
        append_debug<AssessmentId>(out, m_id);
        out.append(" version ");
        quenmark::append_decimal(out, m_first);
        return out;
    case Kind::NonPositiveValidity:
        out.append("certificate validity period must be positive, got ");
        quenmark::append_decimal(out, m_seconds);
        out.append(" seconds");
        return out;
    case Kind::CertificateExpired:
        out.append("certificate ");
        append_debug<CertificationId>(out, m_id);
        out.append(" expired at ");
        m_instant.append_text(out);
        return out;
    case Kind::SignatureInvalid:
        out.append("certificate ");
        append_debug<CertificationId>(out, m_id);
        out.append(" failed signature verification");
        return out;
    case Kind::CertificateRevoked:
        out.append("revoked at ");
        m_instant.append_text(out);
        out.append(": ");
        out.append(m_reason_text);
        return out;
    case Kind::AlreadyRevoked:
        out.append("certificate ");
        append_debug<CertificationId>(out, m_id);
        out.append(" was already revoked at ");
        m_instant.append_text(out);
        out.append(": ");
        out.append(m_reason_text);
        return out;
    // The three below name their record by its canonical id, as the
    // commands' own messages do.
    case Kind::AssessmentNotPublished:
        out.append("assessment ");
        m_id.append_to(out);
        out.append(" is ");
        out.append(display_name(m_status));
        out.append("; publish it before assigning");
        return out;
    case Kind::AnswersForQuestions:
        out.append("assessment ");
        m_id.append_to(out);
        out.append(" has ");
        quenmark::append_decimal(out, m_first);
        out.append(" questions, but ");
        quenmark::append_decimal(out, m_second);
        out.append(" answers were given");
        return out;
    case Kind::AssignmentClosed:
        out.append("assignment ");
        m_id.append_to(out);
        out.append(" has already reached a terminal state");
        return out;
    }
    __builtin_unreachable();
}

} // namespace corvella
