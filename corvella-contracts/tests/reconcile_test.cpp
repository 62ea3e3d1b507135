// Holding records to the audit chain: a consistent learner history, then
// one table of edits to its records or its chain and the exact findings (the
// end-to-end tests hold the command to a removed revocation, an assignment
// without its event, an event without its record and an edited certificate).

#include "corvella/reconcile.h"

#include "quenmark/integrity/audit_chain.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::id;
using training_fixtures::key_from_seed;

namespace {

std::string const assignment_id = "a1a1a1a1-0000-4000-8000-000000000001";
std::string const attempt_id = "a7a7a7a7-0000-4000-8000-000000000002";
std::string const completion_id = "c0c0c0c0-0000-4000-8000-000000000003";
std::string const certificate_id = "cececece-0000-4000-8000-000000000004";
std::string const tenant = "7e7e7e7e-0000-4000-8000-000000000005";
std::string const workspace = "57575757-0000-4000-8000-000000000006";
std::string const principal = "9a9a9a9a-0000-4000-8000-000000000007";
std::string const chain_ahead = " (removed from it, or never stored there by a command interrupted between replacing "
                                "the audit chain and the state file)";

// A learner's records and the chain of their events, all signed with the key of seed 7.
struct History {
    std::vector<TrainingAssignment> assignments;
    std::vector<KnowledgeCheckAttempt> attempts;
    std::vector<CompletionRecord> completions;
    std::vector<Certificate> certificates;
    std::vector<quenmark::AuditEvent> events;
};

quenmark::AuditEvent event(std::string_view action, std::string target, std::string_view occurred_at,
                           bool by_learner = true, quenmark::AuditResult result = quenmark::AuditResult::Success)
{
    quenmark::Actor actor;
    if (by_learner)
        actor = { quenmark::ActorType::User, principal, std::nullopt };
    auto built = quenmark::build_audit_event(product_id(), actor, { "record", std::move(target) }, std::string(action),
                                             result, quenmark::AuditCategory::Policy, at(occurred_at));
    built.tenant_id = id<TenantId>(tenant).uuid();
    built.workspace_id = id<WorkspaceId>(workspace).uuid();
    return built;
}

// The record in the fixed learner's tenant and workspace.
template<typename Record>
Record of_learner(Record record)
{
    record.tenant_id = id<TenantId>(tenant);
    record.workspace_id = id<WorkspaceId>(workspace);
    record.principal_id = id<IdentityId>(principal);
    return record;
}

// Assigned, passed, certified and revoked, then verified once after the revocation.
History consistent_history()
{
    History history;
    auto& assignment = history.assignments.emplace_back(of_learner(TrainingAssignment {}));
    assignment.id = id<AssignmentId>(assignment_id);
    assignment.status = AssignmentStatus::Completed;
    assignment.created_at = at("2026-01-01T00:00:00Z");
    assignment.completed_at = assignment.updated_at = at("2026-01-02T00:00:00Z");
    auto& attempt = history.attempts.emplace_back(of_learner(KnowledgeCheckAttempt {}));
    attempt.id = id<AttemptId>(attempt_id);
    attempt.status = AttemptStatus::Passed;
    attempt.completed_at = assignment.updated_at;
    auto& completion = history.completions.emplace_back(of_learner(CompletionRecord {}));
    completion.id = id<CompletionRecordId>(completion_id);
    completion.assignment_id = assignment.id;
    completion.completed_at = assignment.updated_at;
    auto const assessment = training_fixtures::three_questions(2, 3);
    completion.assessment_id = assessment.id;
    completion.assessment_version = assessment.version;
    auto certificate = issue_certificate(key_from_seed(7), completion, assessment, at("2026-01-03T00:00:00Z"), 86400);
    EXPECT_TRUE(test_support::has_value(certificate));
    certificate->payload.certificate_id = id<CertificationId>(certificate_id);
    certificate->signature = key_from_seed(7).sign(std::string_view(*signing_input(certificate->payload)));
    certificate->revocation = Revocation { at("2026-01-04T00:00:00Z"), "issued in error" };
    history.certificates.push_back(*certificate);

    history.events = {
        event("training.assignment.created", assignment_id, "2026-01-01T00:00:00Z"),
        event("training.knowledge_check.attempted", attempt_id, "2026-01-02T00:00:00Z"),
        event("training.assignment.completed", assignment_id, "2026-01-02T00:00:00Z"),
        event("training.certificate.issued", certificate_id, "2026-01-03T00:00:00Z"),
        event("training.certificate.revoked", certificate_id, "2026-01-04T00:00:00Z", false),
        event("training.certificate.verification_failed", certificate_id, "2026-01-05T00:00:00Z", false,
              quenmark::AuditResult::Denied),
    };
    return history;
}

std::vector<quenmark::SignedAuditEvent> chain_of(std::vector<quenmark::AuditEvent> const& events,
                                                 std::uint8_t seed = 7)
{
    std::vector<quenmark::SignedAuditEvent> chain;
    for (auto const& built : events) {
        auto const head = quenmark::derive_head(chain);
        auto entry = quenmark::link_event(*head, key_from_seed(seed), built);
        EXPECT_TRUE(test_support::has_value(entry));
        chain.push_back(*entry);
    }
    return chain;
}

std::vector<std::string> findings(History const& history)
{
    return reconcile({ history.assignments, history.attempts, history.completions, history.certificates },
                     chain_of(history.events), key_from_seed(7).verifying_key());
}

TEST(Reconcile, EachDisagreementOnce)
{
    struct Case {
        char const* name;
        std::function<void(History&)> edit;
        std::vector<std::string> expected;
    };
    auto const drop_event = [](std::size_t index) {
        return [index](History& h) { h.events.erase(h.events.begin() + static_cast<std::ptrdiff_t>(index)); };
    };
    std::vector<Case> const cases {
        { "nothing changed", [](History&) { }, {} },
        { "an attempt stored twice", [](History& h) { h.attempts.push_back(h.attempts[0]); },
          { "attempt " + attempt_id + " is stored more than once in the state file" } },
        { "an attempt's outcome and workspace edited",
          [](History& h) {
              h.attempts[0].status = AttemptStatus::Failed;
              h.attempts[0].workspace_id = id<WorkspaceId>(tenant);
          },
          { "attempt " + attempt_id + " disagrees with its training.knowledge_check.attempted event at sequence 2 on "
            "workspace_id, status" } },
        { "an assignment reopened",
          [](History& h) {
              h.assignments[0].status = AssignmentStatus::InProgress;
              h.assignments[0].completed_at.reset();
          },
          { "assignment " + assignment_id + " disagrees with its training.assignment.completed event at sequence 3 on "
            "status, completed_at" } },
        { "an assignment completed without its event, and its completion record", drop_event(2),
          { "assignment " + assignment_id + " is completed, but the audit chain holds no training.assignment.completed "
            "event of it",
            "completion record " + completion_id + " has no training.assignment.completed event of its assignment in "
            "the audit chain" } },
        { "the passing attempt's command lost between the chain and the state",
          [](History& h) {
              h.attempts.clear();
              h.completions.clear();
              h.assignments[0].status = AssignmentStatus::Assigned;
              h.assignments[0].completed_at.reset();
          },
          { "training.knowledge_check.attempted event at sequence 2 names attempt " + attempt_id
                + ", which the state file does not hold" + chain_ahead,
            "training.assignment.completed event at sequence 3 names assignment " + assignment_id
                + ", but the state file holds no completion record of it" + chain_ahead } },
        { "a completion record moved in time",
          [](History& h) { h.completions[0].completed_at = at("2026-01-02T00:00:01Z"); },
          { "completion record " + completion_id + " disagrees with its training.assignment.completed event at "
            "sequence 3 on completed_at" } },
        { "a revocation without its event", drop_event(4),
          { "certificate " + certificate_id + " is revoked in the state file, but the audit chain holds no "
            "training.certificate.revoked event of it" } },
        { "a revocation moved in time",
          [](History& h) { h.certificates[0].revocation->revoked_at = at("2026-02-04T00:00:00Z"); },
          { "certificate " + certificate_id + " disagrees with its training.certificate.revoked event at sequence 5 "
            "on revoked_at" } },
        { "a certificate removed", [](History& h) { h.certificates.clear(); },
          { "training.certificate.issued event at sequence 4 names certificate " + certificate_id
                + ", which the state file does not hold" + chain_ahead,
            "training.certificate.revoked event at sequence 5 names certificate " + certificate_id
                + ", which the state file does not hold" + chain_ahead,
            // Verifying stores nothing, so no interrupted command explains it.
            "training.certificate.verification_failed event at sequence 6 names certificate " + certificate_id
                + ", which the state file does not hold" } },
        { "another learner's assignment",
          [](History& h) { h.assignments[0].principal_id = id<IdentityId>(tenant); },
          { "assignment " + assignment_id + " disagrees with its training.assignment.created event at sequence 1 on "
            "principal_id",
            "assignment " + assignment_id + " disagrees with its training.assignment.completed event at sequence 3 on "
            "principal_id" } },
        { "an action no command appends is ignored",
          [](History& h) { h.events.push_back(event("training.note", "x", "2026-01-06T00:00:00Z")); }, {} },
    };
    for (auto const& row : cases) {
        History history = consistent_history();
        row.edit(history);
        EXPECT_EQ(findings(history), row.expected) << row.name;
    }
}

// Only a signed revocation event of the certificate counts, and it refuses
// a certificate stored without its revocation.
TEST(Reconcile, RevocationsTheChainHolds)
{
    History const history = consistent_history();
    auto const chain = chain_of(history.events);
    auto const other_chain = chain_of(history.events, 9);
    auto const certificate = id<CertificationId>(certificate_id);
    auto const key = key_from_seed(7).verifying_key();
    EXPECT_EQ(revoked_by(chain[4], certificate, key), at("2026-01-04T00:00:00Z"));
    EXPECT_EQ(revoked_by(other_chain[4], certificate, key), std::nullopt);
    EXPECT_EQ(revoked_by(chain[5], certificate, key), std::nullopt);
    EXPECT_EQ(revoked_by(chain[4], id<CertificationId>(attempt_id), key), std::nullopt);

    Certificate stored = history.certificates[0];
    EXPECT_TRUE(test_support::has_value(check_revocation_stored(stored, at("2026-01-04T00:00:00Z"))));
    stored.revocation.reset();
    EXPECT_TRUE(test_support::has_value(check_revocation_stored(stored, std::nullopt)));
    EXPECT_EQ(test_support::error_text(check_revocation_stored(stored, at("2026-01-04T00:00:00Z"))),
              "certificate " + certificate_id + " is revoked by the audit chain at 2026-01-04T00:00:00Z, but the "
              "state file does not hold its revocation");
}

} // namespace
