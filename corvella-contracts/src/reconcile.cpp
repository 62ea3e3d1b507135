#include "corvella/reconcile.h"

#include "quenmark/text/text.h"

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>
#include <utility>

namespace corvella {

namespace {

constexpr std::string_view assignment_created = "training.assignment.created";
constexpr std::string_view attempted = "training.knowledge_check.attempted";
constexpr std::string_view assignment_completed = "training.assignment.completed";
constexpr std::string_view certificate_issued = "training.certificate.issued";
constexpr std::string_view certificate_revoked = "training.certificate.revoked";
constexpr std::string_view verification_failed = "training.certificate.verification_failed";

// The commands replace the audit chain first and the state file right
// after; a crash between the two leaves events whose records are missing.
constexpr std::string_view chain_ahead = " (removed from it, or never stored there by a command interrupted between "
                                         "replacing the audit chain and the state file)";

// What a record says that its event repeats. The time member names the
// record's member that the event's occurred_at repeats, when it has one.
struct Repeated {
    TenantId tenant_id;
    WorkspaceId workspace_id;
    std::optional<IdentityId> principal_id; // when the event's actor is the learner
    std::string_view time_member;
    std::optional<quenmark::Timestamp> time;
    std::optional<quenmark::AuditResult> result; // an attempt's outcome
};

// The members, joined by ", ", on which the event and the record differ.
std::string differences(quenmark::AuditEvent const& event, Repeated const& record)
{
    std::string members;
    auto const add = [&members](std::string_view member) {
        if (!members.empty())
            members += ", ";
        members += member;
    };
    if (event.tenant_id != record.tenant_id.uuid())
        add("tenant_id");
    if (event.workspace_id != record.workspace_id.uuid())
        add("workspace_id");
    if (record.principal_id && event.actor.actor_id != record.principal_id->to_string())
        add("principal_id");
    if (!record.time_member.empty() && record.time != event.occurred_at)
        add(record.time_member);
    if (record.result && *record.result != event.result)
        add("status");
    return members;
}

Repeated repeated_by(TrainingAssignment const& assignment)
{
    return { assignment.tenant_id, assignment.workspace_id, assignment.principal_id, "created_at",
             assignment.created_at, std::nullopt };
}

Repeated repeated_by(KnowledgeCheckAttempt const& attempt)
{
    auto const outcome = attempt.status == AttemptStatus::Passed ? quenmark::AuditResult::Success
                                                                 : quenmark::AuditResult::Denied;
    return { attempt.tenant_id, attempt.workspace_id, attempt.principal_id, "completed_at", attempt.completed_at,
             outcome };
}

Repeated repeated_by(CompletionRecord const& record)
{
    return { record.tenant_id, record.workspace_id, record.principal_id, "completed_at", record.completed_at,
             std::nullopt };
}

Repeated repeated_by(Certificate const& certificate)
{
    auto const& payload = certificate.payload;
    return { payload.tenant_id, payload.workspace_id, payload.principal_id, "issued_at", payload.issued_at,
             std::nullopt };
}

std::pair<std::string_view, std::string> named(TrainingAssignment const& record)
{
    return { "assignment", record.id.to_string() };
}

std::pair<std::string_view, std::string> named(KnowledgeCheckAttempt const& record)
{
    return { "attempt", record.id.to_string() };
}

std::pair<std::string_view, std::string> named(CompletionRecord const& record)
{
    return { "completion record", record.id.to_string() };
}

std::pair<std::string_view, std::string> named(Certificate const& record)
{
    return { "certificate", record.payload.certificate_id.to_string() };
}

template<typename Id>
std::optional<Id> target_of(quenmark::AuditEvent const& event)
{
    if (!event.target.target_id)
        return std::nullopt;
    auto id = Id::parse(*event.target.target_id);
    return id ? std::optional<Id>(*id) : std::nullopt;
}

// The positions of the records by id, with whether an event vouched for each.
template<typename Id>
struct Vouching {
    std::unordered_map<Id, std::size_t> positions;
    std::vector<bool> vouched;

    // The position of the first record with the id, when there is one.
    std::optional<std::size_t> position_of(std::optional<Id> const& id) const
    {
        auto const found = id ? positions.find(*id) : positions.end();
        return found == positions.end() ? std::nullopt : std::optional<std::size_t>(found->second);
    }

    // The same position, marked as vouched for.
    std::optional<std::size_t> vouch(std::optional<Id> const& id)
    {
        auto const position = position_of(id);
        if (position)
            vouched[*position] = true;
        return position;
    }
};

// Indexes the records by id; a record whose id an earlier one has is
// reported and counts as vouched for, so that it is reported once.
template<typename Id, typename Record, typename IdOf>
Vouching<Id> index_by_id(std::span<Record const> records, std::string_view kind, IdOf const& id_of,
                   std::vector<std::string>& problems)
{
    Vouching<Id> vouching;
    vouching.positions.reserve(records.size());
    vouching.vouched.assign(records.size(), false);
    for (std::size_t position = 0; position < records.size(); ++position) {
        Id const id = id_of(records[position]);
        if (!vouching.positions.try_emplace(id, position).second) {
            problems.push_back(std::string(kind) + " " + id.to_string() + " is stored more than once in the state file");
            vouching.vouched[position] = true;
        }
    }
    return vouching;
}

class Reconciler {
public:
    Reconciler(LearnerRecords const& records, quenmark::VerifyingKey const& key)
        : m_records(records)
        , m_key(key)
    {
        auto const id_of = [](auto const& record) { return record.id; };
        m_assignments = index_by_id<AssignmentId>(records.assignments, "assignment", id_of, m_problems);
        m_attempts = index_by_id<AttemptId>(records.attempts, "attempt", id_of, m_problems);
        m_certificates = index_by_id<CertificationId>(
            records.certificates, "certificate", [](auto const& record) { return record.payload.certificate_id; },
            m_problems);
        // Reported as duplicates only; a completion record is found by its assignment.
        index_by_id<CompletionRecordId>(records.completions, "completion record", id_of, m_problems);
        m_completions.vouched.assign(records.completions.size(), false);
        for (std::size_t position = 0; position < records.completions.size(); ++position) {
            if (auto const& assignment = records.completions[position].assignment_id)
                m_completions.positions.try_emplace(*assignment, position);
        }
        m_completed_assignments.assign(records.assignments.size(), false);
        m_revocations.assign(records.certificates.size(), false);
    }

    void check(quenmark::SignedAuditEvent const& entry)
    {
        auto const& event = entry.event;
        std::string const source = event.action + " event at sequence " + quenmark::decimal(entry.sequence);
        std::string_view const target = event.target.target_id ? std::string_view(*event.target.target_id) : "";
        auto const missing = [&](std::string_view kind, std::string_view note) {
            add(source, " names ", kind, " ", target, ", which the state file does not hold", note);
        };
        if (event.action == assignment_created) {
            auto const position = m_assignments.vouch(target_of<AssignmentId>(event));
            if (!position)
                return missing("assignment", chain_ahead);
            compare(m_records.assignments[*position], entry, repeated_by(m_records.assignments[*position]));
        } else if (event.action == attempted) {
            auto const position = m_attempts.vouch(target_of<AttemptId>(event));
            if (!position)
                return missing("attempt", chain_ahead);
            compare(m_records.attempts[*position], entry, repeated_by(m_records.attempts[*position]));
        } else if (event.action == assignment_completed) {
            check_completed(entry, source, target);
        } else if (event.action == certificate_issued) {
            auto const position = m_certificates.vouch(target_of<CertificationId>(event));
            if (!position)
                return missing("certificate", chain_ahead);
            compare(m_records.certificates[*position], entry, repeated_by(m_records.certificates[*position]));
        } else if (event.action == certificate_revoked) {
            auto const position = m_certificates.position_of(target_of<CertificationId>(event));
            if (!position)
                return missing("certificate", chain_ahead);
            Certificate const& certificate = m_records.certificates[*position];
            if (!certificate.revocation)
                return add(source, " revokes certificate ", target, ", but the state file does not hold its revocation",
                           chain_ahead);
            m_revocations[*position] = true;
            auto repeated = repeated_by(certificate);
            repeated.principal_id.reset(); // the operator revokes, not the learner
            repeated.time_member = "revoked_at";
            repeated.time = certificate.revocation->revoked_at;
            compare(certificate, entry, repeated);
        } else if (event.action == verification_failed) {
            auto const position = m_certificates.position_of(target_of<CertificationId>(event));
            if (!position)
                return missing("certificate", "");
            auto repeated = repeated_by(m_records.certificates[*position]);
            repeated.principal_id.reset(); // nobody in particular verifies
            repeated.time_member = {};     // it occurred at the instant verified as of
            compare(m_records.certificates[*position], entry, repeated);
        }
    }

    // The records no event vouched for, in stored order; certificate signatures.
    std::vector<std::string> finish()
    {
        auto const& records = m_records;
        for (std::size_t position = 0; position < records.assignments.size(); ++position) {
            auto const& assignment = records.assignments[position];
            if (!m_assignments.vouched[position])
                add("assignment ", assignment.id.to_string(), " has no ", assignment_created, " event in the audit chain");
            if (assignment.status == AssignmentStatus::Completed && !m_completed_assignments[position])
                add("assignment ", assignment.id.to_string(), " is completed, but the audit chain holds no ",
                    assignment_completed, " event of it");
        }
        for (std::size_t position = 0; position < records.attempts.size(); ++position) {
            if (!m_attempts.vouched[position])
                add("attempt ", records.attempts[position].id.to_string(), " has no ", attempted,
                    " event in the audit chain");
        }
        for (std::size_t position = 0; position < records.completions.size(); ++position) {
            if (!m_completions.vouched[position])
                add("completion record ", records.completions[position].id.to_string(), " has no ",
                    assignment_completed, " event of its assignment in the audit chain");
        }
        for (std::size_t position = 0; position < records.certificates.size(); ++position) {
            auto const& certificate = records.certificates[position];
            std::string const id = certificate.payload.certificate_id.to_string();
            if (!m_certificates.vouched[position])
                add("certificate ", id, " has no ", certificate_issued, " event in the audit chain");
            if (certificate.revocation && !m_revocations[position])
                add("certificate ", id, " is revoked in the state file, but the audit chain holds no ",
                    certificate_revoked, " event of it");
            auto const bytes = signing_input(certificate.payload);
            if (!bytes || !quenmark::verify_bytes(m_key, *bytes, certificate.signature))
                add("certificate ", id, " fails signature verification under the signing key");
        }
        return std::move(m_problems);
    }

private:
    template<typename... Parts>
    void add(Parts const&... parts)
    {
        std::string text;
        (text.append(parts), ...);
        m_problems.push_back(std::move(text));
    }

    // Reports the members on which a record and its event differ; "status"
    // comes first when the record's status disagrees with the event.
    template<typename Record>
    void compare(Record const& record, quenmark::SignedAuditEvent const& entry, Repeated const& repeated,
                 bool status_differs = false)
    {
        std::string members = differences(entry.event, repeated);
        if (status_differs)
            members = members.empty() ? "status" : "status, " + members;
        if (members.empty())
            return;
        auto const [kind, id] = named(record);
        add(kind, " ", id, " disagrees with its ", entry.event.action, " event at sequence ",
            quenmark::decimal(entry.sequence), " on ", members);
    }

    // The completed event vouches for the completion record of its
    // assignment, and for the assignment being completed at that instant.
    // Without the record, the command that made both is missing as a whole,
    // so the assignment's status is not held against the event as well.
    void check_completed(quenmark::SignedAuditEvent const& entry, std::string const& source, std::string_view target)
    {
        auto const assignment_id = target_of<AssignmentId>(entry.event);
        auto const assignment_position = m_assignments.position_of(assignment_id);
        if (assignment_position)
            m_completed_assignments[*assignment_position] = true;
        auto const position = m_completions.vouch(assignment_id);
        if (!position)
            return add(source, " names assignment ", target, ", but the state file holds no completion record of it",
                       chain_ahead);
        compare(m_records.completions[*position], entry, repeated_by(m_records.completions[*position]));
        if (!assignment_position)
            return;
        auto const& assignment = m_records.assignments[*assignment_position];
        auto repeated = repeated_by(assignment);
        repeated.time_member = "completed_at";
        repeated.time = assignment.completed_at;
        compare(assignment, entry, repeated, assignment.status != AssignmentStatus::Completed);
    }

    LearnerRecords const& m_records;
    quenmark::VerifyingKey const& m_key;
    Vouching<AssignmentId> m_assignments;
    Vouching<AttemptId> m_attempts;
    Vouching<AssignmentId> m_completions; // by the assignment they complete
    Vouching<CertificationId> m_certificates;
    std::vector<bool> m_completed_assignments;
    std::vector<bool> m_revocations;
    std::vector<std::string> m_problems;
};

} // namespace

std::vector<std::string> reconcile(LearnerRecords const& records, std::span<quenmark::SignedAuditEvent const> chain,
                                   quenmark::VerifyingKey const& key)
{
    Reconciler reconciler(records, key);
    for (auto const& entry : chain)
        reconciler.check(entry);
    return reconciler.finish();
}

bool names_revocation_of(quenmark::SignedAuditEvent const& entry, CertificationId const& certificate)
{
    return entry.event.action == certificate_revoked && target_of<CertificationId>(entry.event) == certificate;
}

std::optional<quenmark::Timestamp> revoked_by(quenmark::SignedAuditEvent const& entry,
                                              CertificationId const& certificate, quenmark::VerifyingKey const& key)
{
    auto const& event = entry.event;
    if (!names_revocation_of(entry, certificate))
        return std::nullopt;
    std::string bytes;
    quenmark::append_canonical_bytes(event, bytes);
    if (!quenmark::verify_bytes(key, bytes, entry.signature))
        return std::nullopt;
    return event.occurred_at;
}

quenmark::Expected<void, TrainingError> check_revocation_stored(Certificate const& certificate,
                                                                std::optional<quenmark::Timestamp> revoked_in_chain)
{
    if (revoked_in_chain && !certificate.revocation)
        return quenmark::unexpected(
            TrainingError::revocation_not_stored(certificate.payload.certificate_id, *revoked_in_chain));
    return {};
}

} // namespace corvella
