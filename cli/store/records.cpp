#include "store/records.h"

#include "corvella/lifecycle.h"

#include <utility>

namespace corvellactl {

std::uint64_t Records::attempts_at(corvella::AssignmentId const& assignment)
{
    if (!m_indexed)
        return corvella::attempts_at(m_store.attempts, assignment);
    if (!m_attempt_counts) {
        m_attempt_counts.emplace();
        for (auto const& attempt : m_store.attempts) {
            if (attempt.assignment_id)
                ++(*m_attempt_counts)[*attempt.assignment_id];
        }
    }
    auto const found = m_attempt_counts->find(assignment);
    return found == m_attempt_counts->end() ? 0 : found->second;
}

void Records::add(corvella::TrainingAssignment assignment)
{
    auto const id = assignment.id;
    m_store.assignments.push_back(std::move(assignment));
    note_added(id);
}

void Records::add(corvella::KnowledgeCheckAttempt attempt)
{
    if (m_attempt_counts && attempt.assignment_id)
        ++(*m_attempt_counts)[*attempt.assignment_id];
    m_store.attempts.push_back(std::move(attempt));
}

void Records::add(corvella::CompletionRecord record)
{
    auto const id = record.id;
    m_store.completions.push_back(std::move(record));
    note_added(id);
}

void Records::add(corvella::Certificate certificate)
{
    auto const id = certificate.payload.certificate_id;
    m_store.certificates.push_back(std::move(certificate));
    note_added(id);
}

void Records::replace(corvella::TrainingAssignment assignment)
{
    if (auto stored = find(assignment.id)) {
        **stored = std::move(assignment);
        return;
    }
    add(std::move(assignment));
}

} // namespace corvellactl
