// The reports' rules at their edges; the end-to-end tests of the report
// commands cover the ordinary cases, such as the order of overdue
// assignments, on records the commands made.

#include "corvella/reports.h"

#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace corvella;
using training_fixtures::at;

namespace {

using Found = std::vector<std::pair<std::size_t, std::int64_t>>;

TrainingAssignment assignment_of(IdentityId principal)
{
    TrainingAssignment assignment;
    assignment.id = AssignmentId::mint();
    assignment.principal_id = principal;
    return assignment;
}

Certificate certificate_of(IdentityId principal, AssessmentId assessment, std::string_view issued,
                           std::string_view expires, bool revoked = false)
{
    Certificate certificate;
    certificate.payload.principal_id = principal;
    certificate.payload.assessment_id = assessment;
    certificate.payload.issued_at = at(issued);
    certificate.payload.expires_at = at(expires);
    if (revoked)
        certificate.revocation = Revocation { at(issued), "withdrawn" };
    return certificate;
}

TEST(WholeDays, RoundDown)
{
    std::int64_t const rows[][3] = { { 0, 86399, 0 }, { 0, 86400, 1 },  { 0, -1, -1 },
                                     { 0, -86400, -1 }, { 0, -86401, -2 }, { -5, 86395, 1 } };
    for (auto const& [from, to, days] : rows)
        EXPECT_EQ(whole_days(quenmark::Timestamp::from_unix_seconds(from), quenmark::Timestamp::from_unix_seconds(to)),
                  days)
            << from << " to " << to;
}

TEST(ExpiringCertificates, ValidWithinTheWindowAndExpiredWithoutALaterValidOne)
{
    IdentityId const ann = IdentityId::mint();
    IdentityId const bob = IdentityId::mint();
    AssessmentId const safety = AssessmentId::mint();
    AssessmentId const privacy = AssessmentId::mint();
    std::string_view const issued = "2025-01-01T00:00:00Z";
    std::vector<Certificate> const certificates {
        certificate_of(ann, safety, issued, "2026-07-10T12:00:00Z"),         // 0: exactly 30 days
        certificate_of(ann, safety, issued, "2026-07-10T12:00:01Z"),         // beyond the window
        certificate_of(ann, privacy, issued, "2026-05-01T00:00:00Z"),        // 2: expired, not renewed
        certificate_of(bob, safety, issued, "2026-05-01T00:00:00Z"),         // renewed by 4
        certificate_of(bob, safety, "2026-07-01T00:00:00Z", "2027-07-01T00:00:00Z"), // not yet issued: valid
        certificate_of(bob, privacy, issued, "2026-06-20T00:00:00Z", /*revoked=*/true),
        certificate_of(bob, privacy, issued, "2026-06-10T12:00:00Z"), // 6: expires now, 0 days
        certificate_of(bob, privacy, issued, "2026-06-10T11:59:59Z"), // renewed by 6 until now
    };
    quenmark::Timestamp const now = at("2026-06-10T12:00:00Z");
    Found found;
    for (auto const& [position, days] : expiring_certificates(certificates, now, 30))
        found.emplace_back(position, days);
    EXPECT_EQ(found, (Found { { 2, -41 }, { 6, 0 }, { 0, 30 } }));
    // A second later bob's last two have expired, and nothing renews them.
    found.clear();
    for (auto const& [position, days] : expiring_certificates(certificates, now.plus_seconds(1), 0))
        found.emplace_back(position, days);
    EXPECT_EQ(found, (Found { { 2, -41 }, { 7, -1 }, { 6, -1 } }));
    // Leaving out the certificates that only renew, with their holdings
    // given instead, lists the same ones.
    for (auto const& [instant, within_days] : { std::pair { now, 30U }, std::pair { now.plus_seconds(1), 0U } }) {
        std::vector<Certificate> kept;
        std::vector<std::size_t> positions;
        std::vector<Holding> renewed;
        for (std::size_t position = 0; position < certificates.size(); ++position) {
            if (only_renews(certificates[position], instant, within_days)) {
                renewed.push_back(holding_of(certificates[position]));
            } else {
                kept.push_back(certificates[position]);
                positions.push_back(position);
            }
        }
        Found whole;
        for (auto const& [position, days] : expiring_certificates(certificates, instant, within_days))
            whole.emplace_back(position, days);
        found.clear();
        for (auto const& [position, days] : expiring_certificates(kept, instant, within_days, renewed))
            found.emplace_back(positions[position], days);
        EXPECT_FALSE(renewed.empty());
        EXPECT_EQ(found, whole) << within_days;
    }
}

TEST(Transcript, RecordsOfNoneOfItsAssignmentsComeLast)
{
    IdentityId const learner = IdentityId::mint();
    IdentityId const other = IdentityId::mint();
    std::vector<TrainingAssignment> const assignments { assignment_of(learner), assignment_of(other) };
    auto attempt_at = [](IdentityId principal, std::optional<AssignmentId> assignment) {
        KnowledgeCheckAttempt attempt;
        attempt.principal_id = principal;
        attempt.assignment_id = assignment;
        return attempt;
    };
    // Another principal's assignment is none of the learner's.
    std::vector<KnowledgeCheckAttempt> const attempts { attempt_at(learner, assignments[1].id),
                                                        attempt_at(learner, assignments[0].id),
                                                        attempt_at(other, assignments[1].id),
                                                        attempt_at(learner, std::nullopt) };
    CompletionRecord completion;
    completion.id = CompletionRecordId::mint();
    completion.principal_id = learner;
    std::vector<CompletionRecord> const completions { completion };
    std::vector<Certificate> certificates(3);
    for (auto& certificate : certificates)
        certificate.payload.principal_id = learner;
    certificates[1].payload.completion_record_id = completion.id; // the others' completion is not stored
    LearnerRecords const records { assignments, attempts, completions, certificates };

    using enum RecordKind;
    std::vector<std::pair<RecordKind, std::size_t>> found;
    for (auto const& [kind, position] : transcript(records, learner))
        found.emplace_back(kind, position);
    EXPECT_EQ(found, (std::vector<std::pair<RecordKind, std::size_t>> { { Assignment, 0 }, { Attempt, 1 },
                                                                        { Attempt, 0 }, { Attempt, 3 },
                                                                        { Completion, 0 }, { Certificate, 1 },
                                                                        { Certificate, 0 }, { Certificate, 2 } }));
    EXPECT_TRUE(transcript(records, IdentityId::mint()).empty());
}

TEST(AssessmentStatistics, OnlyAnswersThatFitAreScored)
{
    // Question i's correct index is i, of the choices a, b and c.
    AssessmentDefinition const assessment = training_fixtures::three_questions(/*min_correct=*/2, /*attempt_limit=*/3);
    auto attempt_with = [&](std::vector<std::uint64_t> answers, AttemptStatus status, std::uint32_t number) {
        KnowledgeCheckAttempt attempt;
        attempt.assessment_id = assessment.id;
        attempt.answers = std::move(answers);
        attempt.status = status;
        attempt.attempt_number = number;
        return attempt;
    };
    std::vector<KnowledgeCheckAttempt> attempts {
        attempt_with({ 1, 1, 9 }, AttemptStatus::Failed, 1), // 9 is no choice: wrong, but no wrong choice
        attempt_with({ 0, 2, 2 }, AttemptStatus::Passed, 3),
        attempt_with({}, AttemptStatus::Passed, 2),       // stored without its answers
        attempt_with({ 0, 1 }, AttemptStatus::Failed, 1), // answers that do not fit the questions
        attempt_with({ 0, 1, 2 }, AttemptStatus::Passed, 1),
    };
    attempts.back().assessment_id = AssessmentId::mint(); // another assessment's
    // The answer key alone scores every attempt as the assessment does.
    std::vector<std::uint64_t> const answer_key { 0, 1, 2 };
    for (auto const& attempt : attempts)
        EXPECT_EQ(correct_answers(answer_key, attempt), correct_answers(assessment, attempt));
    EXPECT_EQ(correct_answers(assessment, attempts[0]), 1U);
    EXPECT_EQ(correct_answers(assessment, attempts[2]), std::nullopt);
    EXPECT_EQ(correct_answers(assessment, attempts[3]), std::nullopt);

    auto const statistics = assessment_statistics(assessment, {}, attempts);
    EXPECT_EQ(statistics.attempts, 4U);
    EXPECT_EQ(statistics.passed, 2U);
    EXPECT_EQ(statistics.attempts_to_pass, 5U);
    EXPECT_EQ(statistics.scored, 2U);
    EXPECT_EQ(statistics.scores, (std::vector<std::uint64_t> { 0, 1, 1, 0 }));
    std::vector<std::tuple<std::uint64_t, std::optional<std::uint64_t>, std::uint64_t>> questions;
    for (auto const& question : statistics.questions)
        questions.emplace_back(question.correct, question.wrong_choice, question.wrong_choice_count);
    EXPECT_EQ(questions, (decltype(questions) { { 1, 1, 1 }, { 1, 2, 1 }, { 1, std::nullopt, 0 } }));
}

} // namespace
