#pragma once

// The two error families of the training contracts. Each variant carries the
// values its message names; text() renders the message the user sees.

#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "quenmark/errors/contract_error.h"
#include "quenmark/ids/uuid.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvella {

// The text fields that must not be blank.
enum class TextField : std::uint8_t { Prompt, Choice, Title, Reason };

std::string_view field_name(TextField field);

// A record that breaks a building rule.
class TrainingValidationError {
public:
    enum class Kind : std::uint8_t {
        EmptyField,
        NoQuestions,
        TooFewChoices,
        CorrectIndexOutOfRange,
        DuplicateQuestionId,
        MinCorrectOutOfRange,
        TotalQuestionsMismatch,
        AttemptLimitTooLow,
        NoLearnerView,
        AttemptNotPassed,
        EvidenceRefLength,
        ControlCharacter,
    };

    static TrainingValidationError empty_field(TextField field);
    static TrainingValidationError no_questions();
    static TrainingValidationError too_few_choices(QuestionId question, std::uint64_t choice_count);
    static TrainingValidationError correct_index_out_of_range(QuestionId question, std::uint64_t correct_index,
                                                              std::uint64_t choice_count);
    static TrainingValidationError duplicate_question_id(QuestionId question);
    static TrainingValidationError min_correct_out_of_range(std::uint32_t min_correct, std::uint32_t total_questions);
    static TrainingValidationError total_questions_mismatch(std::uint32_t total_questions, std::uint64_t question_count);
    static TrainingValidationError attempt_limit_too_low(std::uint32_t attempt_limit);
    static TrainingValidationError no_learner_view(AssessmentId assessment, AssessmentStatus status);
    static TrainingValidationError attempt_not_passed(AttemptId attempt);
    static TrainingValidationError evidence_ref_length(std::uint64_t length);
    // A one-line text (a revocation reason) holding a control character, such
    // as a line break, that would split the lines it is printed in.
    static TrainingValidationError control_character(TextField field);

    Kind kind() const { return m_kind; }
    std::string text() const;

    friend bool operator==(TrainingValidationError const&, TrainingValidationError const&) = default;

private:
    explicit TrainingValidationError(Kind kind, quenmark::Uuid id = {}, std::uint64_t first = 0,
                                     std::uint64_t second = 0)
        : m_kind(kind)
        , m_id(id)
        , m_first(first)
        , m_second(second)
    {
    }

    Kind m_kind;
    TextField m_field { TextField::Prompt };
    AssessmentStatus m_status { AssessmentStatus::Draft };
    quenmark::Uuid m_id {}; // the question, assessment or attempt the message names
    std::uint64_t m_first { 0 };
    std::uint64_t m_second { 0 };
};

// Why a completion record does not belong to an assignment.
enum class CompletionMismatch : std::uint8_t { DifferentPrincipal, DifferentAssessment, DifferentAssignment };

std::string_view reason_text(CompletionMismatch reason);

// An operation that cannot be carried out: grading, issuing or checking a
// certificate. A platform failure is carried unchanged as Contract.
class TrainingError {
public:
    enum class Kind : std::uint8_t {
        Contract,
        AssessmentNotAcceptingAttempts,
        AttemptLimitExceeded,
        AnswerCountMismatch,
        UnknownQuestion,
        DuplicateAnswer,
        CompletionAssignmentMismatch,
        CompletionAssessmentMismatch,
        NonPositiveValidity,
        CertificateExpired,
        SignatureInvalid,
        CertificateRevoked,
        AlreadyRevoked,
        AssessmentNotPublished,
        AnswersForQuestions,
        AssignmentClosed,
        RevocationNotStored,
    };

    static TrainingError contract(quenmark::ContractError error);
    static TrainingError assessment_not_accepting_attempts(AssessmentId assessment);
    static TrainingError attempt_limit_exceeded(AssessmentId assessment, std::uint32_t attempt_number,
                                                std::uint32_t attempt_limit);
    static TrainingError answer_count_mismatch(std::uint64_t answer_count, std::uint64_t question_count);
    static TrainingError unknown_question(QuestionId question);
    static TrainingError duplicate_answer(QuestionId question);
    static TrainingError completion_assignment_mismatch(AssignmentId assignment, CompletionMismatch reason);
    static TrainingError completion_assessment_mismatch(AssessmentId assessment, std::uint32_t version);
    static TrainingError non_positive_validity(std::int64_t seconds);
    static TrainingError certificate_expired(CertificationId certificate, quenmark::Timestamp expires_at);
    static TrainingError signature_invalid(CertificationId certificate);
    // Checked at or after its revocation instant.
    static TrainingError certificate_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                             std::string reason);
    // Revoking a certificate a second time.
    static TrainingError already_revoked(CertificationId certificate, quenmark::Timestamp revoked_at,
                                         std::string reason);
    // Assigning an assessment that is a draft or retired.
    static TrainingError assessment_not_published(AssessmentId assessment, AssessmentStatus status);
    // An answer set whose length is not the assessment's number of questions.
    static TrainingError answers_for_questions(AssessmentId assessment, std::uint64_t question_count,
                                               std::uint64_t answer_count);
    // An attempt at a completed or cancelled assignment.
    static TrainingError assignment_closed(AssignmentId assignment);
    // A certificate that the audit chain revokes while its stored record
    // carries no revocation.
    static TrainingError revocation_not_stored(CertificationId certificate, quenmark::Timestamp revoked_at);

    Kind kind() const { return m_kind; }
    // The carried platform error of a Contract error.
    std::optional<quenmark::ContractError> const& contract_error() const { return m_contract; }
    std::string text() const;

    friend bool operator==(TrainingError const&, TrainingError const&) = default;

private:
    explicit TrainingError(Kind kind, quenmark::Uuid id = {}, std::uint64_t first = 0, std::uint64_t second = 0)
        : m_kind(kind)
        , m_id(id)
        , m_first(first)
        , m_second(second)
    {
    }

    Kind m_kind;
    CompletionMismatch m_reason { CompletionMismatch::DifferentPrincipal };
    quenmark::Uuid m_id {}; // the assessment, question, assignment or certificate the message names
    AssessmentStatus m_status { AssessmentStatus::Draft };
    std::uint64_t m_first { 0 };
    std::uint64_t m_second { 0 };
    std::int64_t m_seconds { 0 };
    quenmark::Timestamp m_instant {};
    std::string m_reason_text; // the revocation reason
    std::optional<quenmark::ContractError> m_contract;
};

} // namespace corvella
