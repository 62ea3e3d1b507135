#include "corvella/errors.h"

#include "quenmark/text/text.h"

#include <type_traits>
#include <utility>

namespace corvella {

namespace {

// A message's pieces joined: texts as they stand, numbers in decimal.
template<typename... Parts>
std::string join(Parts const&... parts)
{
    std::string out;
    auto const append = [&out]<typename Part>(Part const& part) {
        if constexpr (std::is_integral_v<Part>)
            quenmark::append_decimal(out, part);
        else
            out.append(part);
    };
    (append(parts), ...);
    return out;
}

template<typename Id>
std::string debug(quenmark::Uuid const& uuid)
{
    return Id::from_uuid(uuid).debug_form();
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
    return TrainingValidationError(Kind::TooFewChoices, question.uuid(), choice_count);
}

TrainingValidationError TrainingValidationError::correct_index_out_of_range(QuestionId question,
                                                                            std::uint64_t correct_index,
                                                                            std::uint64_t choice_count)
{
    return TrainingValidationError(Kind::CorrectIndexOutOfRange, question.uuid(), correct_index, choice_count);
}

TrainingValidationError TrainingValidationError::duplicate_question_id(QuestionId question)
{
    return TrainingValidationError(Kind::DuplicateQuestionId, question.uuid());
}

TrainingValidationError TrainingValidationError::min_correct_out_of_range(std::uint32_t min_correct,
                                                                          std::uint32_t total_questions)
{
    return TrainingValidationError(Kind::MinCorrectOutOfRange, {}, min_correct, total_questions);
}

TrainingValidationError TrainingValidationError::total_questions_mismatch(std::uint32_t total_questions,
                                                                          std::uint64_t question_count)
{
    return TrainingValidationError(Kind::TotalQuestionsMismatch, {}, total_questions, question_count);
}

TrainingValidationError TrainingValidationError::attempt_limit_too_low(std::uint32_t attempt_limit)
{
    return TrainingValidationError(Kind::AttemptLimitTooLow, {}, attempt_limit);
}

TrainingValidationError TrainingValidationError::no_learner_view(AssessmentId assessment, AssessmentStatus status)
{
    TrainingValidationError error(Kind::NoLearnerView, assessment.uuid());
    error.m_status = status;
    return error;
}

TrainingValidationError TrainingValidationError::attempt_not_passed(AttemptId attempt)
{
    return TrainingValidationError(Kind::AttemptNotPassed, attempt.uuid());
}

TrainingValidationError TrainingValidationError::evidence_ref_length(std::uint64_t length)
{
    return TrainingValidationError(Kind::EvidenceRefLength, {}, length);
}

TrainingValidationError TrainingValidationError::control_character(TextField field)
{
    TrainingValidationError error(Kind::ControlCharacter);
    error.m_field = field;
    return error;
}

std::string TrainingValidationError::text() const
{
    switch (m_kind) {
    case Kind::EmptyField:
        return join(field_name(m_field), " must not be empty");
    case Kind::NoQuestions:
        return "assessment must have at least one question";
    case Kind::TooFewChoices:
        return join("question ", debug<QuestionId>(m_id), " must offer at least two choices, got ", m_first);
    case Kind::CorrectIndexOutOfRange:
        return join("question ", debug<QuestionId>(m_id), " correct_index ", m_first, " is out of range for ", m_second,
                    " choices");
    case Kind::DuplicateQuestionId:
        return join("duplicate question id ", debug<QuestionId>(m_id), " in one assessment");
    case Kind::MinCorrectOutOfRange:
        return join("passing rule requires min_correct (", m_first, ") between 1 and total_questions (", m_second,
                    ")");
    case Kind::TotalQuestionsMismatch:
        return join("passing rule total_questions (", m_first, ") does not match question count (", m_second, ")");
    case Kind::AttemptLimitTooLow:
        return join("attempt_limit must be at least 1, got ", m_first);
    case Kind::NoLearnerView:
        return join("assessment ", debug<AssessmentId>(m_id), " is ", stored_name(m_status),
                    " and has no learner-facing view");
    case Kind::AttemptNotPassed:
        return join("attempt ", debug<AttemptId>(m_id), " did not pass; a completion record cannot be built from it");
    case Kind::EvidenceRefLength:
        return join("evidence reference must be 1..=256 bytes, got ", m_first);
    case Kind::ControlCharacter:
        return join(field_name(m_field), " must be one line without control characters");
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
    return TrainingError(Kind::AssessmentNotAcceptingAttempts, assessment.uuid());
}

TrainingError TrainingError::attempt_limit_exceeded(AssessmentId assessment, std::uint32_t attempt_number,
                                                    std::uint32_t attempt_limit)
{
    return TrainingError(Kind::AttemptLimitExceeded, assessment.uuid(), attempt_number, attempt_limit);
}

TrainingError TrainingError::answer_count_mismatch(std::uint64_t answer_count, std::uint64_t question_count)
{
    return TrainingError(Kind::AnswerCountMismatch, {}, answer_count, question_count);
}

TrainingError TrainingError::unknown_question(QuestionId question)
{
    return TrainingError(Kind::UnknownQuestion, question.uuid());
}

TrainingError TrainingError::duplicate_answer(QuestionId question)
{
    return TrainingError(Kind::DuplicateAnswer, question.uuid());
}

TrainingError TrainingError::completion_assignment_mismatch(AssignmentId assignment, CompletionMismatch reason)
{
    TrainingError error(Kind::CompletionAssignmentMismatch, assignment.uuid());
    error.m_reason = reason;
    return error;
}

TrainingError TrainingError::completion_assessment_mismatch(AssessmentId assessment, std::uint32_t version)
{
    return TrainingError(Kind::CompletionAssessmentMismatch, assessment.uuid(), version);
}

TrainingError TrainingError::non_positive_validity(std::int64_t seconds)
{
    TrainingError error(Kind::NonPositiveValidity);
    error.m_seconds = seconds;
    return error;
}

TrainingError TrainingError::certificate_expired(CertificationId certificate, quenmark::Timestamp expires_at)
{
    TrainingError error(Kind::CertificateExpired, certificate.uuid());
    error.m_instant = expires_at;
    return error;
}

TrainingError TrainingError::signature_invalid(CertificationId certificate)
{
    return TrainingError(Kind::SignatureInvalid, certificate.uuid());
}

TrainingError TrainingError::certificate_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                                 std::string reason)
{
    TrainingError error(Kind::CertificateRevoked, certificate.uuid());
    error.m_instant = revoked_at;
    error.m_reason_text = std::move(reason);
    return error;
}

TrainingError TrainingError::already_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                             std::string reason)
{
    TrainingError error = certificate_revoked(certificate, revoked_at, std::move(reason));
    error.m_kind = Kind::AlreadyRevoked;
    return error;
}

TrainingError TrainingError::assessment_not_published(AssessmentId assessment, AssessmentStatus status)
{
    TrainingError error(Kind::AssessmentNotPublished, assessment.uuid());
    error.m_status = status;
    return error;
}

TrainingError TrainingError::answers_for_questions(AssessmentId assessment, std::uint64_t question_count,
                                                   std::uint64_t answer_count)
{
    return TrainingError(Kind::AnswersForQuestions, assessment.uuid(), question_count, answer_count);
}

TrainingError TrainingError::assignment_closed(AssignmentId assignment)
{
    return TrainingError(Kind::AssignmentClosed, assignment.uuid());
}

TrainingError TrainingError::revocation_not_stored(CertificationId certificate, quenmark::Timestamp revoked_at)
{
    TrainingError error(Kind::RevocationNotStored, certificate.uuid());
    error.m_instant = revoked_at;
    return error;
}

std::string TrainingError::text() const
{
    switch (m_kind) {
    case Kind::Contract:
        return m_contract->text();
    case Kind::AssessmentNotAcceptingAttempts:
        return join("assessment ", debug<AssessmentId>(m_id), " is not accepting attempts");
    case Kind::AttemptLimitExceeded:
        return join("attempt ", m_first, " exceeds the attempt limit (", m_second, ") for assessment ",
                    debug<AssessmentId>(m_id));
    case Kind::AnswerCountMismatch:
        return join("answer set size ", m_first, " does not match the assessment's question count ", m_second);
    case Kind::UnknownQuestion:
        return join("answer references unknown question ", debug<QuestionId>(m_id));
    case Kind::DuplicateAnswer:
        return join("answer set contains more than one answer for question ", debug<QuestionId>(m_id));
    case Kind::CompletionAssignmentMismatch:
        return join("completion record does not belong to assignment ", debug<AssignmentId>(m_id), ": ",
                    reason_text(m_reason));
    case Kind::CompletionAssessmentMismatch:
        return join("completion record does not match assessment ", debug<AssessmentId>(m_id), " version ", m_first);
    case Kind::NonPositiveValidity:
        return join("certificate validity period must be positive, got ", m_seconds, " seconds");
    case Kind::CertificateExpired:
        return join("certificate ", debug<CertificationId>(m_id), " expired at ", m_instant.to_text());
    case Kind::SignatureInvalid:
        return join("certificate ", debug<CertificationId>(m_id), " failed signature verification");
    case Kind::CertificateRevoked:
        return join("revoked at ", m_instant.to_text(), ": ", m_reason_text);
    case Kind::AlreadyRevoked:
        return join("certificate ", debug<CertificationId>(m_id), " was already revoked at ", m_instant.to_text(), ": ",
                    m_reason_text);
    // The four below name their record by its canonical id, as the
    // commands' own messages do.
    case Kind::AssessmentNotPublished:
        return join("assessment ", m_id.to_string(), " is ", display_name(m_status), "; publish it before assigning");
    case Kind::AnswersForQuestions:
        return join("assessment ", m_id.to_string(), " has ", m_first, " questions, but ", m_second,
                    " answers were given");
    case Kind::AssignmentClosed:
        return join("assignment ", m_id.to_string(), " has already reached a terminal state");
    case Kind::RevocationNotStored:
        return join("certificate ", m_id.to_string(), " is revoked by the audit chain at ", m_instant.to_text(),
                    ", but the state file does not hold its revocation");
    }
    __builtin_unreachable();
}

} // namespace corvella
