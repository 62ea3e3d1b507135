#include "commands/training_event.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(TrainingEvent, ALearnerActsAsAUserAndWithoutOneTheActorIsUnknown)
{
    auto const tenant = corvella::TenantId::mint();
    auto const workspace = corvella::WorkspaceId::mint();
    auto const learner = corvella::IdentityId::mint();
    auto const at = quenmark::Timestamp::from_unix_seconds(1'800'000'000);

    auto const acted = corvellactl::build_training_event({
        .action = "training.assignment.created",
        .learner = learner,
        .target_type = "training_assignment",
        .target_id = "target",
        .occurred_at = at,
        .tenant_id = tenant,
        .workspace_id = workspace,
    });
    EXPECT_EQ(acted.actor, (quenmark::Actor { quenmark::ActorType::User, learner.to_string(), std::nullopt }));
    EXPECT_EQ(acted.target, (quenmark::Target { "training_assignment", "target" }));
    EXPECT_EQ(acted.action, "training.assignment.created");
    EXPECT_EQ(acted.result, quenmark::AuditResult::Success);
    EXPECT_EQ(acted.category, quenmark::AuditCategory::Policy);
    EXPECT_EQ(acted.occurred_at, at);
    EXPECT_EQ(acted.product_id, corvella::product_id());
    EXPECT_EQ(acted.tenant_id, tenant.uuid());
    EXPECT_EQ(acted.workspace_id, workspace.uuid());

    auto const unknown = corvellactl::build_training_event({
        .action = "training.certificate.verification_failed",
        .target_type = "certificate",
        .target_id = "target",
        .result = quenmark::AuditResult::Denied,
        .category = quenmark::AuditCategory::Security,
        .occurred_at = at,
        .tenant_id = tenant,
        .workspace_id = workspace,
    });
    EXPECT_EQ(unknown.actor, (quenmark::Actor { quenmark::ActorType::Unknown, std::nullopt, std::nullopt }));
    EXPECT_EQ(unknown.result, quenmark::AuditResult::Denied);
    EXPECT_EQ(unknown.category, quenmark::AuditCategory::Security);
    EXPECT_NE(unknown.event_id, acted.event_id);
}

} // namespace
