#include "quenmark/integrity/audit_event.h"

#include "quenmark/json/read.h"
#include "quenmark/json/value.h"

#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace quenmark {
namespace {

using ::testing::StartsWith;

// The product of this system's events.
Slug product() { return *Slug::parse("corvella"); }

Uuid uuid(std::string_view text) { return *Uuid::parse(text); }
Timestamp instant(std::string_view text) { return *Timestamp::parse(text); }

std::string pretty(AuditEvent const& event)
{
    std::string out;
    json::PrettyWriter writer(out);
    write_json(writer, event);
    return out;
}

Expected<AuditEvent, std::string> read_event(std::string_view text)
{
    AuditEvent event;
    auto read = json::read_document(text, [&](json::ValueReader& root) { return read_json(root, event); });
    if (!read)
        return unexpected(std::move(read).error());
    return event;
}

std::string replaced(std::string text, std::string_view from, std::string_view to)
{
    auto const position = text.find(from);
    EXPECT_NE(position, std::string::npos) << from;
    if (position != std::string::npos)
        text.replace(position, from.size(), to);
    return text;
}

AuditEvent built_event(AuditResult result, AuditCategory category)
{
    return build_audit_event(product(), Actor { ActorType::User, "operator", std::nullopt },
        Target { "training_assignment", "a-1" }, "training.assignment.created", result, category,
        instant("2026-12-08T04:00:09Z"));
}

// Every member set, in the written order, two redaction markers included.
constexpr std::string_view full_event_text = R"({
  "event_id": "8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01",
  "tenant_id": "11111111-2222-4333-8444-555555555555",
  "workspace_id": "66666666-7777-4888-9999-aaaaaaaaaaaa",
  "product_id": "corvella",
  "source_node_id": "0b7e9c2d-3f41-4e6a-8b5c-7d9e0f1a2b3c",
  "actor": {
    "actor_type": "service",
    "actor_id": "grader",
    "display_name_encrypted": [
      0,
      255
    ]
  },
  "target": {
    "target_type": "certificate",
    "target_id": "c-1"
  },
  "action": "training.certificate.issued",
  "result": "denied",
  "severity": "notice",
  "category": "security",
  "occurred_at": "2026-12-08T04:00:09Z",
  "received_at": "2026-12-08T04:00:10Z",
  "correlation_id": "corr-7",
  "metadata_encrypted": [
    1,
    2,
    3
  ],
  "retention_class": "security",
  "redaction_markers": [
    {
      "field_path": "target.target_id",
      "reason": "oversized"
    },
    {
      "field_path": "actor.actor_id",
      "reason": "personal_data",
      "redaction_policy_id": "3c4d5e6f-7a8b-4c9d-8e0f-1a2b3c4d5e6f",
      "applied_at": "2026-12-09T00:00:00Z",
      "applied_by": "9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d"
    }
  ],
  "previous_event_hash": "blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"
})";

// Only the required members.
constexpr std::string_view minimal_event_text = R"({
  "event_id": "8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01",
  "product_id": "corvella",
  "actor": {
    "actor_type": "user"
  },
  "target": {
    "target_type": "training_assignment"
  },
  "action": "training.assignment.created",
  "result": "success",
  "severity": "info",
  "category": "policy",
  "occurred_at": "2026-12-08T04:00:09Z",
  "retention_class": "operational"
})";

TEST(AuditEventBuilder, SeverityFollowsResult)
{
    struct Row {
        AuditResult result;
        std::string_view severity;
    };
    Row const rows[] = {
        { AuditResult::Success, "info" },  { AuditResult::Failure, "notice" }, { AuditResult::Denied, "notice" },
        { AuditResult::Cancelled, "info" }, { AuditResult::Expired, "notice" }, { AuditResult::Partial, "info" },
        { AuditResult::Unknown, "info" },
    };
    for (Row const& row : rows) {
        AuditEvent const event = built_event(row.result, AuditCategory::Policy);
        EXPECT_EQ(stored_name(event.severity), row.severity) << stored_name(row.result);
        EXPECT_EQ(event.result, row.result);
    }
}

TEST(AuditEventBuilder, RetentionFollowsCategory)
{
    struct Row {
        AuditCategory category;
        std::string_view retention;
    };
    Row const rows[] = {
        { AuditCategory::Authentication, "security" },      { AuditCategory::Authorization, "security" },
        { AuditCategory::Configuration, "operational" },    { AuditCategory::KeyManagement, "security" },
        { AuditCategory::DeviceManagement, "operational" }, { AuditCategory::DataAccess, "operational" },
        { AuditCategory::ServiceLifecycle, "operational" }, { AuditCategory::NetworkExposure, "security" },
        { AuditCategory::Backup, "operational" },           { AuditCategory::Restore, "operational" },
        { AuditCategory::Federation, "operational" },       { AuditCategory::Policy, "operational" },
        { AuditCategory::Security, "security" },            { AuditCategory::Privacy, "privacy_sensitive" },
        { AuditCategory::System, "operational" },
    };
    for (Row const& row : rows) {
        AuditEvent const event = built_event(AuditResult::Success, row.category);
        EXPECT_EQ(stored_name(event.retention_class), row.retention) << stored_name(row.category);
        EXPECT_EQ(event.category, row.category);
    }
}

TEST(AuditEventBuilder, FreshEventHasOnlyTheSetMembersAndNoNulls)
{
    AuditEvent event = build_audit_event(product(), Actor { ActorType::System, std::nullopt, std::nullopt },
        Target { "certificate", std::nullopt }, "training.certificate.issued", AuditResult::Success,
        AuditCategory::Security, instant("2026-12-08T04:00:09Z"));

    // The top-level member names of the written form, in order.
    auto member_names = [](AuditEvent const& built) {
        std::string const text = pretty(built);
        EXPECT_EQ(text.find("null"), std::string::npos) << text;
        std::vector<std::string> names;
        for (auto at = text.find("\n  \""); at != std::string::npos; at = text.find("\n  \"", at + 1))
            names.push_back(text.substr(at + 4, text.find('"', at + 4) - (at + 4)));
        return names;
    };
    EXPECT_EQ(member_names(event), (std::vector<std::string> { "event_id", "product_id", "actor", "target", "action",
                                       "result", "severity", "category", "occurred_at", "retention_class" }));

    event.tenant_id = uuid("11111111-2222-4333-8444-555555555555");
    event.workspace_id = uuid("66666666-7777-4888-9999-aaaaaaaaaaaa");
    EXPECT_EQ(member_names(event),
        (std::vector<std::string> { "event_id", "tenant_id", "workspace_id", "product_id", "actor", "target", "action",
            "result", "severity", "category", "occurred_at", "retention_class" }));

    EXPECT_EQ(event.product_id.text(), "corvella");
    EXPECT_NE(event.event_id, build_audit_event(product(), event.actor, event.target, event.action,
                                  event.result, event.category, event.occurred_at)
                                  .event_id);
}

TEST(AuditEventJson, RoundTripsKeepMembersAndMarkersInOrder)
{
    for (std::string_view const text : { full_event_text, minimal_event_text }) {
        auto const event = read_event(text);
        ASSERT_TRUE(test_support::has_value(event));
        EXPECT_EQ(pretty(*event), text);
    }
    auto const full = read_event(full_event_text);
    ASSERT_TRUE(test_support::has_value(full));
    ASSERT_EQ(full->redaction_markers.size(), 2U);
    EXPECT_EQ(full->redaction_markers[0].reason, RedactionReason::Oversized);
    EXPECT_EQ(full->redaction_markers[1].applied_at, instant("2026-12-09T00:00:00Z"));
    EXPECT_EQ(full->actor.display_name_encrypted, (Bytes { 0, 255 }));
}

TEST(AuditEventJson, NullAndMissingOptionalsReadAsAbsentAndExtraMembersAreDropped)
{
    std::string text(minimal_event_text);
    text = replaced(text, R"("product_id")",
        R"("tenant_id": null, "redaction_markers": null, "extra": {"nested": [1.5, "x"]}, "product_id")");
    text = replaced(text, R"("actor_type": "user")", R"("actor_type": "user", "actor_id": null, "mood": 3)");
    auto const event = read_event(text);
    ASSERT_TRUE(test_support::has_value(event));
    EXPECT_EQ(pretty(*event), minimal_event_text);

    // An empty marker list is written as absent, the same as a missing one.
    auto const empty_markers = read_event(replaced(text, R"("redaction_markers": null)", R"("redaction_markers": [])"));
    ASSERT_TRUE(test_support::has_value(empty_markers));
    EXPECT_EQ(pretty(*empty_markers), minimal_event_text);
}

TEST(AuditEventJson, RefusesMalformedMembersWithTheirMessages)
{
    struct Row {
        std::string_view from;
        std::string_view to;
        std::string_view message_start;
    };
    Row const rows[] = {
        { R"("actor_type": "user")", R"("actor_type": "robot")", "unknown variant `robot`" },
        { R"("severity": "info")", R"("severity": "loud")", "unknown variant `loud`" },
        { R"("action": "training.assignment.created",)", "", "missing field `action`" },
        { R"("target_type": "training_assignment")", R"("target_id": "x")", "missing field `target_type`" },
        { R"("event_id": "8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01")", R"("event_id": "abc")",
            "UUID parsing failed: invalid length: found 3" },
        { R"("product_id": "corvella")", R"("product_id": "")", "invalid Slug identifier: must not be empty" },
        { R"("occurred_at": "2026-12-08T04:00:09Z")", R"("occurred_at": "yesterday")",
            R"(validation failed: invalid RFC 3339 timestamp "yesterday": )" },
        { R"("retention_class": "operational")",
            R"("retention_class": "operational", "previous_event_hash": "blake3")",
            R"(validation failed: content hash must be 'algorithm:hex', got "blake3")" },
        { R"("retention_class": "operational")",
            R"("retention_class": "operational", "previous_event_hash": "BLAKE3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262")",
            "unknown or rejected algorithm: BLAKE3" },
    };
    for (Row const& row : rows) {
        auto const event = read_event(replaced(std::string(minimal_event_text), row.from, row.to));
        EXPECT_THAT(test_support::error_text(event), StartsWith(std::string(row.message_start))) << row.to;
    }
}

TEST(AuditEventJson, RefusesByteArraysOutsideZeroTo255)
{
    for (std::string_view const bytes : { "[256]", "[-1]", "[\"1\"]", "[1, null]" }) {
        std::string const text = replaced(std::string(minimal_event_text), R"("retention_class")",
            R"("metadata_encrypted": )" + std::string(bytes) + R"(, "retention_class")");
        EXPECT_FALSE(read_event(text).has_value()) << bytes;
    }
}

TEST(AuditEventCanonical, SortsMembersAndHashesTheCanonicalBytes)
{
    auto event = read_event(minimal_event_text);
    ASSERT_TRUE(test_support::has_value(event));
    event->actor.actor_id = "caf\xC3\xA9";
    event->target.target_id = "e\xCC\x81";

    constexpr std::string_view expected = R"({"action":"training.assignment.created",)"
                                          R"("actor":{"actor_id":"caf)"
                                          "\xC3\xA9"
                                          R"(","actor_type":"user"},"category":"policy",)"
                                          R"("event_id":"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01",)"
                                          R"("occurred_at":"2026-12-08T04:00:09Z","product_id":"corvella",)"
                                          R"("result":"success","retention_class":"operational","severity":"info",)"
                                          R"("target":{"target_id":")"
                                          "\xC3\xA9"
                                          R"(","target_type":"training_assignment"}})";
    auto const bytes = event_canonical_bytes(*event);
    ASSERT_TRUE(test_support::has_value(bytes));
    EXPECT_EQ(*bytes, expected);

    auto const hash = event_content_hash(*event);
    ASSERT_TRUE(test_support::has_value(hash));
    EXPECT_EQ(*hash, ContentHash::of_bytes(expected));
}

} // namespace
} // namespace quenmark
