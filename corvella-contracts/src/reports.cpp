#include "corvella/reports.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace corvella {

namespace {

constexpr std::int64_t seconds_per_day = 86400;

struct HoldingHash {
    std::size_t operator()(Holding const& holding) const
    {
        return std::hash<IdentityId> {}(holding.principal) * 31U ^ std::hash<AssessmentId> {}(holding.assessment);
    }
};

quenmark::Timestamp horizon_of(quenmark::Timestamp at, std::uint32_t within_days)
{
    return at.plus_seconds(quenmark::days_to_seconds(within_days));
}

} // namespace

bool only_renews(Certificate const& certificate, quenmark::Timestamp at, std::uint32_t within_days)
{
    return held_standing(certificate, at) == Standing::Valid
        && certificate.payload.expires_at > horizon_of(at, within_days);
}

std::int64_t whole_days(quenmark::Timestamp from, quenmark::Timestamp to)
{
    // Instants lie within years -9999 to 9999, so the difference cannot overflow.
    std::int64_t const seconds = to.unix_seconds() - from.unix_seconds();
    return seconds / seconds_per_day - (seconds % seconds_per_day < 0 ? 1 : 0);
}

std::vector<OverdueAssignment> overdue_assignments(std::span<TrainingAssignment const> assignments,
                                                   quenmark::Timestamp at)
{
    std::vector<OverdueAssignment> overdue;
    for (std::size_t position = 0; position < assignments.size(); ++position) {
        auto const& assignment = assignments[position];
        if (is_overdue(assignment, at))
            overdue.push_back({ position, whole_days(*assignment.due_at, at) });
    }
    std::stable_sort(overdue.begin(), overdue.end(),
                     [&](OverdueAssignment const& left, OverdueAssignment const& right) {
                         return *assignments[left.position].due_at < *assignments[right.position].due_at;
                     });
    return overdue;
}

std::vector<ExpiringCertificate> expiring_certificates(std::span<Certificate const> certificates,
                                                       quenmark::Timestamp at, std::uint32_t within_days,
                                                       std::span<Holding const> renewed_elsewhere)
{
    // A certificate valid at `at` expires after every one expired by then, so
    // any valid one for the same assessment is a later one. Only the
    // holdings of expired certificates are looked up, which are few.
    std::unordered_map<Holding, bool, HoldingHash> renewed;
    for (auto const& certificate : certificates) {
        if (held_standing(certificate, at) == Standing::Expired)
            renewed.try_emplace(holding_of(certificate), false);
    }
    auto const renew = [&renewed](Holding const& holding) {
        if (auto const found = renewed.find(holding); found != renewed.end())
            found->second = true;
    };
    if (!renewed.empty()) {
        for (auto const& certificate : certificates) {
            if (held_standing(certificate, at) == Standing::Valid)
                renew(holding_of(certificate));
        }
        for (auto const& holding : renewed_elsewhere)
            renew(holding);
    }
    quenmark::Timestamp const horizon = horizon_of(at, within_days);
    std::vector<ExpiringCertificate> expiring;
    for (std::size_t position = 0; position < certificates.size(); ++position) {
        auto const& certificate = certificates[position];
        auto const& expires_at = certificate.payload.expires_at;
        bool due = false;
        switch (held_standing(certificate, at)) {
        case Standing::Valid:
            due = expires_at <= horizon;
            break;
        case Standing::Expired:
            due = !renewed.at(holding_of(certificate));
            break;
        case Standing::NotYetValid:
        case Standing::Revoked:
            break;
        }
        if (due)
            expiring.push_back({ position, whole_days(at, expires_at) });
    }
    std::stable_sort(expiring.begin(), expiring.end(),
                     [&](ExpiringCertificate const& left, ExpiringCertificate const& right) {
                         return certificates[left.position].payload.expires_at
                             < certificates[right.position].payload.expires_at;
                     });
    return expiring;
}

std::vector<TranscriptEntry> transcript(LearnerRecords const& records, IdentityId const& principal)
{
    std::vector<std::size_t> assignments;
    std::unordered_set<AssignmentId> assignment_ids;
    for (std::size_t position = 0; position < records.assignments.size(); ++position) {
        auto const& assignment = records.assignments[position];
        if (assignment.principal_id == principal && assignment_ids.insert(assignment.id).second)
            assignments.push_back(position);
    }
    // The principal's attempts and completion records by the assignment they
    // belong to; those of none of its assignments under no assignment.
    std::unordered_map<std::optional<AssignmentId>, std::vector<std::size_t>> attempts;
    std::unordered_map<std::optional<AssignmentId>, std::vector<std::size_t>> completions;
    auto const owner = [&](std::optional<AssignmentId> const& id) -> std::optional<AssignmentId> {
        return id && assignment_ids.contains(*id) ? id : std::nullopt;
    };
    for (std::size_t position = 0; position < records.attempts.size(); ++position) {
        auto const& attempt = records.attempts[position];
        if (attempt.principal_id == principal)
            attempts[owner(attempt.assignment_id)].push_back(position);
    }
    std::unordered_set<CompletionRecordId> completion_ids;
    for (std::size_t position = 0; position < records.completions.size(); ++position) {
        auto const& completion = records.completions[position];
        if (completion.principal_id == principal) {
            completions[owner(completion.assignment_id)].push_back(position);
            completion_ids.insert(completion.id);
        }
    }
    std::unordered_map<CompletionRecordId, std::vector<std::size_t>> certificates;
    std::vector<std::size_t> unmatched_certificates;
    for (std::size_t position = 0; position < records.certificates.size(); ++position) {
        auto const& payload = records.certificates[position].payload;
        if (payload.principal_id != principal)
            continue;
        if (completion_ids.contains(payload.completion_record_id))
            certificates[payload.completion_record_id].push_back(position);
        else
            unmatched_certificates.push_back(position);
    }

    std::vector<TranscriptEntry> entries;
    auto const add = [&entries](RecordKind kind, std::vector<std::size_t> const& positions) {
        for (std::size_t const position : positions)
            entries.push_back({ kind, position });
    };
    // Each group once, even where hand-edited lists repeat an identifier.
    auto const add_group = [&](std::optional<AssignmentId> const& id) {
        if (auto found = attempts.extract(id))
            add(RecordKind::Attempt, found.mapped());
        auto found = completions.extract(id);
        if (!found)
            return;
        for (std::size_t const position : found.mapped()) {
            entries.push_back({ RecordKind::Completion, position });
            if (auto issued = certificates.extract(records.completions[position].id))
                add(RecordKind::Certificate, issued.mapped());
        }
    };
    for (std::size_t const position : assignments) {
        entries.push_back({ RecordKind::Assignment, position });
        add_group(records.assignments[position].id);
    }
    add_group(std::nullopt);
    add(RecordKind::Certificate, unmatched_certificates);
    return entries;
}

namespace {

// The attempt's correct answers against the correct index of each question,
// as `correct_index` gives it for a position.
template<typename CorrectIndex>
std::optional<std::uint64_t> count_correct(std::size_t questions, KnowledgeCheckAttempt const& attempt,
                                           CorrectIndex&& correct_index)
{
    if (attempt.answers.empty() || attempt.answers.size() != questions)
        return std::nullopt;
    std::uint64_t correct = 0;
    for (std::size_t index = 0; index < questions; ++index) {
        if (attempt.answers[index] == correct_index(index))
            ++correct;
    }
    return correct;
}

} // namespace

std::optional<std::uint64_t> correct_answers(AssessmentDefinition const& assessment,
                                             KnowledgeCheckAttempt const& attempt)
{
    auto const& questions = assessment.questions;
    return count_correct(questions.size(), attempt, [&](std::size_t index) { return questions[index].correct_index; });
}

std::optional<std::uint64_t> correct_answers(std::span<std::uint64_t const> answer_key,
                                             KnowledgeCheckAttempt const& attempt)
{
    return count_correct(answer_key.size(), attempt, [&](std::size_t index) { return answer_key[index]; });
}

AssessmentStatistics assessment_statistics(AssessmentDefinition const& assessment,
                                           std::span<TrainingAssignment const> assignments,
                                           std::span<KnowledgeCheckAttempt const> attempts)
{
    AssessmentStatistics statistics;
    for (auto const& assignment : assignments) {
        if (assignment.assessment_id == assessment.id)
            ++statistics.assignments[static_cast<std::size_t>(assignment.status)];
    }
    auto const& questions = assessment.questions;
    statistics.scores.assign(questions.size() + 1, 0);
    statistics.questions.resize(questions.size());
    // Per question, how many scored attempts chose each of its choices.
    std::vector<std::vector<std::uint64_t>> chosen(questions.size());
    for (std::size_t index = 0; index < questions.size(); ++index)
        chosen[index].assign(questions[index].choices.size(), 0);

    for (auto const& attempt : attempts) {
        if (attempt.assessment_id != assessment.id)
            continue;
        ++statistics.attempts;
        if (attempt.status == AttemptStatus::Passed) {
            ++statistics.passed;
            statistics.attempts_to_pass += attempt.attempt_number;
        }
        auto const correct = correct_answers(assessment, attempt);
        if (!correct)
            continue;
        ++statistics.scored;
        ++statistics.scores[*correct];
        for (std::size_t index = 0; index < questions.size(); ++index) {
            std::uint64_t const choice = attempt.answers[index];
            if (choice == questions[index].correct_index)
                ++statistics.questions[index].correct;
            else if (choice < chosen[index].size())
                ++chosen[index][choice];
        }
    }

    for (std::size_t index = 0; index < questions.size(); ++index) {
        auto& question = statistics.questions[index];
        for (std::size_t choice = 0; choice < chosen[index].size(); ++choice) {
            if (chosen[index][choice] > question.wrong_choice_count) {
                question.wrong_choice = choice;
                question.wrong_choice_count = chosen[index][choice];
            }
        }
    }
    return statistics;
}

} // namespace corvella
