#include "commands/training_event.h"

#include "store/chain_file.h"

#include "corvella/reconcile.h"

#include <utility>

namespace corvellactl {

quenmark::AuditEvent build_training_event(TrainingEventSpec spec)
{
    quenmark::Actor actor;
    if (spec.learner) {
        actor.actor_type = quenmark::ActorType::User;
        actor.actor_id = spec.learner->to_string();
    }
    auto event = quenmark::build_audit_event(
        corvella::product_id(), std::move(actor),
        quenmark::Target { .target_type = std::string(spec.target_type), .target_id = std::move(spec.target_id) },
        std::string(spec.action), spec.result, spec.category, spec.occurred_at);
    event.tenant_id = spec.tenant_id.uuid();
    event.workspace_id = spec.workspace_id.uuid();
    return event;
}

RevocationSearch::RevocationSearch(std::string audit_path, corvella::CertificationId certificate)
    : m_search(std::move(audit_path), [certificate](quenmark::SignedAuditEvent const& entry) {
        return corvella::names_revocation_of(entry, certificate);
    })
    , m_certificate(certificate)
{
}

CommandResult<std::optional<quenmark::Timestamp>> RevocationSearch::revoked_at(quenmark::VerifyingKey const& key)
{
    auto const found = TRY(m_search.result());
    std::optional<quenmark::Timestamp> revoked_at;
    for (auto const& entry : found) {
        if (auto const instant = corvella::revoked_by(entry, m_certificate, key))
            revoked_at = instant;
    }
    return revoked_at;
}

} // namespace corvellactl
