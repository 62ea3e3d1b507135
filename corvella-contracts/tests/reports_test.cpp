#include "corvella/reports.h"

#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::three_questions;

namespace {

TrainingAssignment assignment_with(AssignmentStatus status, std::optional<quenmark::Timestamp> due_at)
{
    TrainingAssignment assignment;
    assignment.id = AssignmentId::mint();
    assignment.status = status;
    assignment.due_at = due_at;
    return assignment;
}

Certificate certificate_of(IdentityId principal, AssessmentId assessment, std::string_view issued,
                           std::string_view expires, std::optional<std::string_view> revoked = std::nullopt)
{
    Certificate certificate;
    certificate.payload.certificate_id = CertificationId::mint();
    certificate.payload.principal_id = principal;
    certificate.payload.assessment_id = assessment;
    certificate.payload.issued_at = at(issued);
    certificate.payload.expires_at = at(expires);
    if (revoked)
        certificate.revocation = Revocation { at(*revoked), "withdrawn" };
    return certificate;
}

TEST(WholeDays, RoundDown)
{
    struct Row {
        std::int64_t from;
        std::int64_t to;
        std::int64_t days;
    };
    Row const rows[] = {
        { 0, 0, 0 },       { 0, 86399, 0 },   { 0, 86400, 1 },       { 0, -1, -1 },
        { 0, -86400, -1 }, { 0, -86401, -2 }, { 86399, 86400, 0 },   { 86399, 2 * 86400, 1 },
        { -5, 86394, 0 },  { -5, 86395, 1 },  { 86400, -86399, -2 },
    };
    for (auto const& row : rows) {
        EXPECT_EQ(whole_days(quenmark::Timestamp::from_unix_seconds(row.from),
                             quenmark::Timestamp::from_unix_seconds(row.to)),
                  row.days)
            << row.from << " to " << row.to;
    }
}

TEST(OverdueAssignments, OpenAndPastDueMostOverdueFirst)
{
    quenmark::Timestamp const now = at("2026-06-10T12:00:00Z");
    std::vector<TrainingAssignment> const assignments {
        assignment_with(AssignmentStatus::Assigned, at("2026-06-09T12:00:00Z")),   // 0: one day
        assignment_with(AssignmentStatus::InProgress, at("2026-06-01T00:00:00Z")), // 1: nine days
        assignment_with(AssignmentStatus::Assigned, at("2026-06-10T12:00:00Z")),   // due now: not overdue
        assignment_with(AssignmentStatus::Completed, at("2026-01-01T00:00:00Z")),
        assignment_with(AssignmentStatus::Cancelled, at("2026-01-01T00:00:00Z")),
        assignment_with(AssignmentStatus::Assigned, std::nullopt),
        assignment_with(AssignmentStatus::Assigned, at("2026-06-10T11:59:59Z")), // 6: a second, 0 days
        assignment_with(AssignmentStatus::Assigned, at("2026-06-01T00:00:00Z")), // 7: ties with 1
    };
    std::vector<std::pair<std::size_t, std::int64_t>> found;
    for (auto const& [position, days] : overdue_assignments(assignments, now))
        found.emplace_back(position, days);
    EXPECT_EQ(found, (std::vector<std::pair<std::size_t, std::int64_t>> { { 1, 9 }, { 7, 9 }, { 0, 1 }, { 6, 0 } }));
}

TEST(ExpiringCertificates, ValidWithinTheWindowAndExpiredWithoutRenewal)
{
    IdentityId const ann = IdentityId::mint();
    IdentityId const bob = IdentityId::mint();
    AssessmentId const safety = AssessmentId::mint();
    AssessmentId const privacy = AssessmentId::mint();
    std::vector<Certificate> const certificates {
        certificate_of(ann, safety, "2025-01-01T00:00:00Z", "2026-07-01T00:00:00Z"), // 0: 20 days left
        certificate_of(ann, safety, "2025-01-01T00:00:00Z", "2026-07-10T12:00:00Z"), // 1: exactly 30 days
        certificate_of(ann, safety, "2025-01-01T00:00:00Z", "2026-07-10T12:00:01Z"), // beyond the window
        certificate_of(ann, privacy, "2025-01-01T00:00:00Z", "2026-05-01T00:00:00Z"), // 3: expired, not renewed
        certificate_of(bob, safety, "2025-01-01T00:00:00Z", "2026-05-01T00:00:00Z"),  // renewed by 6
        certificate_of(bob, privacy, "2025-01-01T00:00:00Z", "2026-06-11T00:00:00Z", "2026-06-01T00:00:00Z"),
        certificate_of(bob, safety, "2026-07-01T00:00:00Z", "2027-07-01T00:00:00Z"), // not yet issued: valid
        certificate_of(bob, privacy, "2025-01-01T00:00:00Z", "2026-06-10T12:00:00Z"), // 7: expires now, 0 days
        certificate_of(bob, privacy, "2025-01-01T00:00:00Z", "2026-06-10T11:59:59Z"), // renewed by 7 until now
    };
    quenmark::Timestamp const now = at("2026-06-10T12:00:00Z");
    std::vector<std::pair<std::size_t, std::int64_t>> found;
    for (auto const& [position, days] : expiring_certificates(certificates, now, 30))
        found.emplace_back(position, days);
    EXPECT_EQ(found,
              (std::vector<std::pair<std::size_t, std::int64_t>> { { 3, -41 }, { 7, 0 }, { 0, 20 }, { 1, 30 } }));

    // A second later the last two have both expired, and nothing renews them.
    found.clear();
    for (auto const& [position, days] : expiring_certificates(certificates, now.plus_seconds(1), 0))
        found.emplace_back(position, days);
    EXPECT_EQ(found, (std::vector<std::pair<std::size_t, std::int64_t>> { { 3, -41 }, { 8, -1 }, { 7, -1 } }));
}

TEST(Transcript, EachAssignmentWithItsRecordsThenTheRest)
{
    IdentityId const learner = IdentityId::mint();
    IdentityId const other = IdentityId::mint();
    auto assignment_for = [](IdentityId principal) {
        TrainingAssignment assignment = assignment_with(AssignmentStatus::Assigned, std::nullopt);
        assignment.principal_id = principal;
        return assignment;
    };
    std::vector<TrainingAssignment> const assignments { assignment_for(learner), assignment_for(other),
                                                        assignment_for(learner) };
    auto attempt_at = [](IdentityId principal, std::optional<AssignmentId> assignment) {
        KnowledgeCheckAttempt attempt;
        attempt.principal_id = principal;
        attempt.assignment_id = assignment;
        return attempt;
    };
    std::vector<KnowledgeCheckAttempt> const attempts {
        attempt_at(learner, assignments[2].id), attempt_at(learner, std::nullopt),
        attempt_at(learner, assignments[0].id), attempt_at(other, assignments[1].id),
        attempt_at(learner, assignments[2].id),
        // Another principal's assignment belongs to none of the learner's.
        attempt_at(learner, assignments[1].id),
    };
    auto completion_of = [](IdentityId principal, std::optional<AssignmentId> assignment) {
        CompletionRecord record;
        record.id = CompletionRecordId::mint();
        record.principal_id = principal;
        record.assignment_id = assignment;
        return record;
    };
    std::vector<CompletionRecord> const completions { completion_of(learner, assignments[2].id),
                                                      completion_of(learner, std::nullopt),
                                                      completion_of(other, assignments[1].id) };
    auto certificate_from = [](IdentityId principal, CompletionRecordId completion) {
        Certificate certificate;
        certificate.payload.principal_id = principal;
        certificate.payload.completion_record_id = completion;
        return certificate;
    };
    std::vector<Certificate> const certificates {
        certificate_from(learner, CompletionRecordId::mint()), certificate_from(learner, completions[1].id),
        certificate_from(learner, completions[0].id), certificate_from(other, completions[2].id),
        certificate_from(learner, completions[0].id),
    };
    LearnerRecords const records { assignments, attempts, completions, certificates };

    using enum RecordKind;
    std::vector<std::pair<RecordKind, std::size_t>> found;
    for (auto const& [kind, position] : transcript(records, learner))
        found.emplace_back(kind, position);
    EXPECT_EQ(found, (std::vector<std::pair<RecordKind, std::size_t>> {
                         { Assignment, 0 }, { Attempt, 2 },     { Assignment, 2 },  { Attempt, 0 },
                         { Attempt, 4 },    { Completion, 0 },  { Certificate, 2 }, { Certificate, 4 },
                         { Attempt, 1 },    { Attempt, 5 },     { Completion, 1 },  { Certificate, 1 },
                         { Certificate, 0 },
                     }));
    EXPECT_TRUE(transcript(records, IdentityId::mint()).empty());
}

TEST(AssessmentStatistics, StatusesScoresAndChoicesOfItsOwnRecords)
{
    // Question i's correct index is i, of choices a, b, c.
    AssessmentDefinition const assessment = three_questions(/*min_correct=*/2, /*attempt_limit=*/3);
    auto attempt_with = [&](std::vector<std::uint64_t> answers, AttemptStatus status, std::uint32_t number) {
        KnowledgeCheckAttempt attempt;
        attempt.assessment_id = assessment.id;
        attempt.answers = std::move(answers);
        attempt.status = status;
        attempt.attempt_number = number;
        return attempt;
    };
    KnowledgeCheckAttempt elsewhere = attempt_with({ 0, 1, 2 }, AttemptStatus::Passed, 1);
    elsewhere.assessment_id = AssessmentId::mint();
    std::vector<KnowledgeCheckAttempt> const attempts {
        attempt_with({ 0, 1, 2 }, AttemptStatus::Passed, 1),
        attempt_with({ 1, 1, 0 }, AttemptStatus::Failed, 1),
        attempt_with({ 0, 2, 0 }, AttemptStatus::Failed, 1),
        attempt_with({ 0, 1, 9 }, AttemptStatus::Passed, 3), // 9 is no choice: wrong, but not counted as one
        attempt_with({ 2, 2, 1 }, AttemptStatus::Failed, 2),
        attempt_with({}, AttemptStatus::Passed, 2),      // stored without its answers
        attempt_with({ 0, 1 }, AttemptStatus::Failed, 1), // answers that do not fit the questions
        elsewhere,
    };
    TrainingAssignment other = assignment_with(AssignmentStatus::Assigned, std::nullopt);
    other.assessment_id = AssessmentId::mint();
    std::vector<TrainingAssignment> assignments { other };
    for (auto const status : { AssignmentStatus::Completed, AssignmentStatus::Assigned, AssignmentStatus::Completed,
                               AssignmentStatus::InProgress }) {
        assignments.push_back(assignment_with(status, std::nullopt));
        assignments.back().assessment_id = assessment.id;
    }

    EXPECT_EQ(correct_answers(assessment, attempts[2]), 1U);
    EXPECT_EQ(correct_answers(assessment, attempts[5]), std::nullopt);
    EXPECT_EQ(correct_answers(assessment, attempts[6]), std::nullopt);

    auto const statistics = assessment_statistics(assessment, assignments, attempts);
    EXPECT_EQ(statistics.assignments, (std::array<std::uint64_t, 4> { 1, 1, 2, 0 }));
    EXPECT_EQ(statistics.attempts, 7U);
    EXPECT_EQ(statistics.passed, 3U);
    EXPECT_EQ(statistics.attempts_to_pass, 6U);
    EXPECT_EQ(statistics.scored, 5U);
    EXPECT_EQ(statistics.scores, (std::vector<std::uint64_t> { 1, 2, 1, 1 }));
    ASSERT_EQ(statistics.questions.size(), 3U);
    struct Expected {
        std::uint64_t correct;
        std::optional<std::uint64_t> wrong_choice;
        std::uint64_t wrong_choice_count;
    };
    Expected const expected[] = { { 3, 1, 1 }, { 3, 2, 2 }, { 1, 0, 2 } };
    for (std::size_t index = 0; index < 3; ++index) {
        EXPECT_EQ(statistics.questions[index].correct, expected[index].correct) << index;
        EXPECT_EQ(statistics.questions[index].wrong_choice, expected[index].wrong_choice) << index;
        EXPECT_EQ(statistics.questions[index].wrong_choice_count, expected[index].wrong_choice_count) << index;
    }

    // Without attempts: no wrong choice, every score counted zero times.
    auto const untouched = assessment_statistics(assessment, {}, {});
    EXPECT_EQ(untouched.scores, (std::vector<std::uint64_t> { 0, 0, 0, 0 }));
    EXPECT_EQ(untouched.questions[0].wrong_choice, std::nullopt);
}

} // namespace
