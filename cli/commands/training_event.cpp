#include "commands/training_event.h"

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

} // namespace corvellactl
