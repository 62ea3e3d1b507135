#include "quenmark/integrity/audit_event.h"

#include "quenmark/json/binding.h"

#include <cstddef>
#include <utility>

namespace quenmark {

static_assert(actor_type_names.size() == static_cast<std::size_t>(ActorType::Unknown) + 1
              && audit_result_names.size() == static_cast<std::size_t>(AuditResult::Unknown) + 1
              && severity_names.size() == static_cast<std::size_t>(Severity::Critical) + 1
              && audit_category_names.size() == static_cast<std::size_t>(AuditCategory::System) + 1
              && retention_class_names.size() == static_cast<std::size_t>(RetentionClass::LegalHold) + 1
              && redaction_reason_names.size() == static_cast<std::size_t>(RedactionReason::Oversized) + 1);

// The JSON form of each record, members in written order. Absent optional
// members and an empty marker list are omitted, and so take no part in an
// event's signature or hash.

using json::Absent;
using json::member;

constexpr auto actor_members = json::members(
    member<&Actor::actor_type>("actor_type"),
    member<&Actor::actor_id, Absent::Omitted>("actor_id"),
    member<&Actor::display_name_encrypted, Absent::Omitted>("display_name_encrypted"));

constexpr auto target_members = json::members(
    member<&Target::target_type>("target_type"),
    member<&Target::target_id, Absent::Omitted>("target_id"));

constexpr auto marker_members = json::members(
    member<&RedactionMarker::field_path>("field_path"),
    member<&RedactionMarker::reason>("reason"),
    member<&RedactionMarker::redaction_policy_id, Absent::Omitted>("redaction_policy_id"),
    member<&RedactionMarker::applied_at, Absent::Omitted>("applied_at"),
    member<&RedactionMarker::applied_by, Absent::Omitted>("applied_by"));

// The tables of the records nested in an event, for its canonical bytes.
static constexpr auto const& json_members(Actor const&) { return actor_members; }
static constexpr auto const& json_members(Target const&) { return target_members; }
static constexpr auto const& json_members(RedactionMarker const&) { return marker_members; }

constexpr auto event_members = json::members(
    member<&AuditEvent::event_id>("event_id"),
    member<&AuditEvent::tenant_id, Absent::Omitted>("tenant_id"),
    member<&AuditEvent::workspace_id, Absent::Omitted>("workspace_id"),
    member<&AuditEvent::product_id>("product_id"),
    member<&AuditEvent::source_node_id, Absent::Omitted>("source_node_id"),
    member<&AuditEvent::actor>("actor"),
    member<&AuditEvent::target>("target"),
    member<&AuditEvent::action>("action"),
    member<&AuditEvent::result>("result"),
    member<&AuditEvent::severity>("severity"),
    member<&AuditEvent::category>("category"),
    member<&AuditEvent::occurred_at>("occurred_at"),
    member<&AuditEvent::received_at, Absent::Omitted>("received_at"),
    member<&AuditEvent::correlation_id, Absent::Omitted>("correlation_id"),
    member<&AuditEvent::metadata_encrypted, Absent::Omitted>("metadata_encrypted"),
    member<&AuditEvent::retention_class>("retention_class"),
    member<&AuditEvent::redaction_markers, Absent::Omitted>("redaction_markers"),
    member<&AuditEvent::previous_event_hash, Absent::Omitted>("previous_event_hash"));

constexpr auto entry_members = json::members(
    member<&SignedAuditEvent::event>("event"),
    member<&SignedAuditEvent::sequence>("sequence"),
    member<&SignedAuditEvent::signature>("signature"));

// Room for one event of this system, so the buffer rarely grows.
constexpr std::size_t canonical_event_capacity = 768;

Severity severity_of(AuditResult result)
{
    switch (result) {
    case AuditResult::Failure:
    case AuditResult::Denied:
    case AuditResult::Expired:
        return Severity::Notice;
    case AuditResult::Success:
    case AuditResult::Cancelled:
    case AuditResult::Partial:
    case AuditResult::Unknown:
        return Severity::Info;
    }
    __builtin_unreachable();
}

RetentionClass retention_class_of(AuditCategory category)
{
    switch (category) {
    case AuditCategory::Authentication:
    case AuditCategory::Authorization:
    case AuditCategory::KeyManagement:
    case AuditCategory::NetworkExposure:
    case AuditCategory::Security:
        return RetentionClass::Security;
    case AuditCategory::Configuration:
    case AuditCategory::DeviceManagement:
    case AuditCategory::DataAccess:
    case AuditCategory::ServiceLifecycle:
    case AuditCategory::Backup:
    case AuditCategory::Restore:
    case AuditCategory::Federation:
    case AuditCategory::Policy:
    case AuditCategory::System:
        return RetentionClass::Operational;
    case AuditCategory::Privacy:
        return RetentionClass::PrivacySensitive;
    }
    __builtin_unreachable();
}

AuditEvent build_audit_event(Slug product, Actor actor, Target target, std::string action, AuditResult result,
                             AuditCategory category, Timestamp occurred_at)
{
    AuditEvent event;
    event.event_id = Uuid::mint();
    event.product_id = std::move(product);
    event.actor = std::move(actor);
    event.target = std::move(target);
    event.action = std::move(action);
    event.result = result;
    event.severity = severity_of(result);
    event.category = category;
    event.occurred_at = occurred_at;
    event.retention_class = retention_class_of(category);
    return event;
}

void write_json(json::Sink& sink, Actor const& actor) { json::write_members(sink, actor_members, actor); }
void write_json(json::Sink& sink, Target const& target) { json::write_members(sink, target_members, target); }
void write_json(json::Sink& sink, RedactionMarker const& marker) { json::write_members(sink, marker_members, marker); }
void write_json(json::Sink& sink, AuditEvent const& event) { json::write_members(sink, event_members, event); }
void write_json(json::Sink& sink, SignedAuditEvent const& entry) { json::write_members(sink, entry_members, entry); }

json::Read<void> read_json(json::ValueReader& reader, Actor& actor)
{
    return json::read_members(reader, actor_members, actor);
}

json::Read<void> read_json(json::ValueReader& reader, Target& target)
{
    return json::read_members(reader, target_members, target);
}

json::Read<void> read_json(json::ValueReader& reader, RedactionMarker& marker)
{
    return json::read_members(reader, marker_members, marker);
}

json::Read<void> read_json(json::ValueReader& reader, AuditEvent& event)
{
    return json::read_members(reader, event_members, event);
}

json::Read<void> read_json(json::ValueReader& reader, SignedAuditEvent& entry)
{
    return json::read_members(reader, entry_members, entry);
}

void append_canonical_bytes(AuditEvent const& event, std::string& out)
{
    json::append_canonical_bytes(event_members, event, out);
}

void append_leaf_bytes(SignedAuditEvent const& entry, std::string& out)
{
    json::append_canonical_bytes(entry_members, entry, out);
}

Expected<std::string, ContractError> event_canonical_bytes(AuditEvent const& event)
{
    std::string out;
    out.reserve(canonical_event_capacity);
    append_canonical_bytes(event, out);
    return out;
}

Expected<ContentHash, ContractError> event_content_hash(AuditEvent const& event)
{
    std::string const bytes = TRY(event_canonical_bytes(event));
    return ContentHash::of_bytes(bytes);
}

} // namespace quenmark
