#pragma once

// What the reports ask of the records: which assignments are overdue and by
// how much, which certificates need renewing, one learner's records in
// order, and how the attempts at an assessment went. Results name records by
// their position in the lists given, so the caller prints what it holds.

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvella {

// Whole days from `from` to `to`, rounded down: 0 up to a day later, -1 up
// to a day earlier.
std::int64_t whole_days(quenmark::Timestamp from, quenmark::Timestamp to);

struct OverdueAssignment {
    std::size_t position { 0 };
    std::int64_t days_overdue { 0 }; // whole days since its due instant
};

// The assignments overdue as of `at` (is_overdue), most overdue first;
// those due at the same instant in stored order.
std::vector<OverdueAssignment> overdue_assignments(std::span<TrainingAssignment const> assignments,
                                                   quenmark::Timestamp at);

struct ExpiringCertificate {
    std::size_t position { 0 };
    std::int64_t days_left { 0 }; // whole days to its expiry, negative once expired
};

// Whether expiring_certificates() as of `at` within `within_days` days looks
// at a certificate only for its holding: one valid then that expires later
// than that is never listed, and only shows that its holding is renewed.
bool only_renews(Certificate const& certificate, quenmark::Timestamp at, std::uint32_t within_days);

// The certificates to renew as of `at`, soonest expiry first (those expiring
// at the same instant in stored order): those valid that expire within
// `within_days` days, and those expired whose principal holds no later valid
// certificate for the same assessment. Revoked certificates are not renewed
// by recertification and are left out. A caller may leave out the
// certificates only_renews() accepts and give their holdings as `renewed`.
std::vector<ExpiringCertificate> expiring_certificates(std::span<Certificate const> certificates,
                                                       quenmark::Timestamp at, std::uint32_t within_days,
                                                       std::span<Holding const> renewed = {});

enum class RecordKind : std::uint8_t { Assignment, Attempt, Completion, Certificate };

struct TranscriptEntry {
    RecordKind kind { RecordKind::Assignment };
    std::size_t position { 0 }; // in the list of its kind
};

// The lists a transcript is drawn from.
struct LearnerRecords {
    std::span<TrainingAssignment const> assignments;
    std::span<KnowledgeCheckAttempt const> attempts;
    std::span<CompletionRecord const> completions;
    std::span<Certificate const> certificates;
};

// One principal's records: each of its assignments in stored order followed
// by the attempts at it, the completion records of it and the certificates
// issued from those; then its attempts and completion records that belong to
// none of its assignments, each completion record followed by its
// certificates; then its certificates whose completion record it does not
// hold. Empty when no record names the principal.
std::vector<TranscriptEntry> transcript(LearnerRecords const& records, IdentityId const& principal);

// How many of the attempt's recorded answers are correct; none when it
// carries no answers or not one per question of the assessment.
std::optional<std::uint64_t> correct_answers(AssessmentDefinition const& assessment,
                                             KnowledgeCheckAttempt const& attempt);
// The same from the assessment's answer key: the correct index of each of
// its questions, in order.
std::optional<std::uint64_t> correct_answers(std::span<std::uint64_t const> answer_key,
                                             KnowledgeCheckAttempt const& attempt);

struct QuestionStatistics {
    std::uint64_t correct { 0 }; // scored attempts that chose the correct answer
    // The wrong choice most scored attempts chose (the first of equals), with
    // how many; none when no attempt chose a wrong one of its choices.
    std::optional<std::uint64_t> wrong_choice;
    std::uint64_t wrong_choice_count { 0 };
};

struct AssessmentStatistics {
    std::array<std::uint64_t, 4> assignments {}; // by AssignmentStatus
    std::uint64_t attempts { 0 };
    std::uint64_t passed { 0 };
    // The passing attempts' numbers added up: the attempts it took to pass.
    std::uint64_t attempts_to_pass { 0 };
    // Attempts whose answers are recorded (correct_answers() has a value);
    // the scores and the question statistics count these only.
    std::uint64_t scored { 0 };
    std::vector<std::uint64_t> scores;                  // scored attempts by correct answers, 0 to all
    std::vector<QuestionStatistics> questions;          // in question order
};

// The assessment's assignments by status, and its attempts: how many passed,
// after how many attempts, their scores, and per question how often the
// correct answer and the most popular wrong choice were chosen.
AssessmentStatistics assessment_statistics(AssessmentDefinition const& assessment,
                                           std::span<TrainingAssignment const> assignments,
                                           std::span<KnowledgeCheckAttempt const> attempts);

} // namespace corvella
