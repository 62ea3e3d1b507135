#pragma once

// The platform's audit event: who did what to which object, with what result,
// when, and how long the record is kept. Each record's JSON form is one member
// table (audit_event.cpp), from which its reader, its pretty writer and the
// event's canonical (signed and hashed) bytes all come.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/ids/uuid.h"
#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/stored_name.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {

// Each enumeration is stored under the lowercase name listed for it; the
// enumerators are in the stored order.
enum class ActorType : std::uint8_t { User, Administrator, Device, Service, Product, FederationPeer, System, Unknown };
enum class AuditResult : std::uint8_t { Success, Failure, Denied, Cancelled, Expired, Partial, Unknown };
enum class Severity : std::uint8_t { Info, Notice, Warning, Error, Critical };
enum class AuditCategory : std::uint8_t {
    Authentication,
    Authorization,
    Configuration,
    KeyManagement,
    DeviceManagement,
    DataAccess,
    ServiceLifecycle,
    NetworkExposure,
    Backup,
    Restore,
    Federation,
    Policy,
    Security,
    Privacy,
    System,
};
enum class RetentionClass : std::uint8_t {
    Ephemeral,
    Operational,
    Security,
    Compliance,
    PrivacySensitive,
    Debug,
    UserControlled,
    LegalHold,
};
enum class RedactionReason : std::uint8_t {
    PersonalData,
    Secret,
    Location,
    UserContent,
    PolicyRequired,
    SubjectRequest,
    AudienceRestricted,
    Oversized,
};

inline constexpr std::array<std::string_view, 8> actor_type_names {
    "user", "administrator", "device", "service", "product", "federation_peer", "system", "unknown",
};
inline constexpr std::array<std::string_view, 7> audit_result_names {
    "success", "failure", "denied", "cancelled", "expired", "partial", "unknown",
};
inline constexpr std::array<std::string_view, 5> severity_names { "info", "notice", "warning", "error", "critical" };
inline constexpr std::array<std::string_view, 15> audit_category_names {
    "authentication", "authorization", "configuration", "key_management", "device_management",
    "data_access", "service_lifecycle", "network_exposure", "backup", "restore",
    "federation", "policy", "security", "privacy", "system",
};
inline constexpr std::array<std::string_view, 8> retention_class_names {
    "ephemeral", "operational", "security", "compliance",
    "privacy_sensitive", "debug", "user_controlled", "legal_hold",
};
inline constexpr std::array<std::string_view, 8> redaction_reason_names {
    "personal_data", "secret", "location", "user_content",
    "policy_required", "subject_request", "audience_restricted", "oversized",
};

constexpr std::span<std::string_view const> stored_names(ActorType) { return actor_type_names; }
constexpr std::span<std::string_view const> stored_names(AuditResult) { return audit_result_names; }
constexpr std::span<std::string_view const> stored_names(Severity) { return severity_names; }
constexpr std::span<std::string_view const> stored_names(AuditCategory) { return audit_category_names; }
constexpr std::span<std::string_view const> stored_names(RetentionClass) { return retention_class_names; }
constexpr std::span<std::string_view const> stored_names(RedactionReason) { return redaction_reason_names; }


// An opaque byte string, written in JSON as an array of integers 0 to 255.
using Bytes = std::vector<std::uint8_t>;

struct Actor {
    ActorType actor_type { ActorType::Unknown };
    std::optional<std::string> actor_id;
    std::optional<Bytes> display_name_encrypted;

    friend bool operator==(Actor const&, Actor const&) = default;
};

struct Target {
    std::string target_type;
    std::optional<std::string> target_id;

    friend bool operator==(Target const&, Target const&) = default;
};

// Events carrying markers are read and written back unchanged; this system
// never creates one.
struct RedactionMarker {
    std::string field_path;
    RedactionReason reason { RedactionReason::PersonalData };
    std::optional<Uuid> redaction_policy_id;
    std::optional<Timestamp> applied_at;
    std::optional<Uuid> applied_by;

    friend bool operator==(RedactionMarker const&, RedactionMarker const&) = default;
};

// Members in their written order. Absent optionals and an empty marker list
// are omitted from the JSON, and so take no part in signatures or hashes.
struct AuditEvent {
    Uuid event_id;
    std::optional<Uuid> tenant_id;
    std::optional<Uuid> workspace_id;
    Slug product_id;
    std::optional<Uuid> source_node_id;
    Actor actor;
    Target target;
    std::string action;
    AuditResult result { AuditResult::Unknown };
    Severity severity { Severity::Info };
    AuditCategory category { AuditCategory::System };
    Timestamp occurred_at;
    std::optional<Timestamp> received_at;
    std::optional<std::string> correlation_id;
    std::optional<Bytes> metadata_encrypted;
    RetentionClass retention_class { RetentionClass::Operational };
    std::vector<RedactionMarker> redaction_markers;
    std::optional<ContentHash> previous_event_hash;

    friend bool operator==(AuditEvent const&, AuditEvent const&) = default;
};

// One entry of the audit chain. The sequence is not covered by the signature.
struct SignedAuditEvent {
    AuditEvent event;
    std::uint64_t sequence { 0 };
    Signature signature;

    friend bool operator==(SignedAuditEvent const&, SignedAuditEvent const&) = default;
};

// Severity follows the result: failure, denied and expired are notices,
// everything else is informational.
Severity severity_of(AuditResult result);
// Retention follows the category: access and key matters are kept as
// security records, privacy events as privacy sensitive, the rest operational.
RetentionClass retention_class_of(AuditCategory category);

// A fresh event with a newly minted identifier, the severity and retention
// derived from the result and category, and every optional member absent.
AuditEvent build_audit_event(Slug product, Actor actor, Target target, std::string action, AuditResult result,
                             AuditCategory category, Timestamp occurred_at);

void write_json(json::Sink& sink, Actor const& actor);
void write_json(json::Sink& sink, Target const& target);
void write_json(json::Sink& sink, RedactionMarker const& marker);
void write_json(json::Sink& sink, AuditEvent const& event);
void write_json(json::Sink& sink, SignedAuditEvent const& entry);

// Each reader replaces the whole record. Required members must be present;
// optional ones may be missing or null; unknown members are skipped and
// dropped; enumeration names outside their list fail the document.
[[nodiscard]] json::Read<void> read_json(json::ValueReader& reader, Actor& actor);
[[nodiscard]] json::Read<void> read_json(json::ValueReader& reader, Target& target);
[[nodiscard]] json::Read<void> read_json(json::ValueReader& reader, RedactionMarker& marker);
[[nodiscard]] json::Read<void> read_json(json::ValueReader& reader, AuditEvent& event);
[[nodiscard]] json::Read<void> read_json(json::ValueReader& reader, SignedAuditEvent& entry);

// Appends the bytes that are signed and hashed, the event's JSON in canonical
// form, to `out`. Cannot fail: an event's member names are fixed ASCII, so
// none collide after composition, and it holds no floating-point number.
void append_canonical_bytes(AuditEvent const& event, std::string& out);
// The same bytes in a string of their own. Never fails for an event; the
// result type is the one every canonical form shares.
[[nodiscard]] Expected<std::string, ContractError> event_canonical_bytes(AuditEvent const& event);
// BLAKE3 content hash of the canonical bytes, as the next chain entry links it.
[[nodiscard]] Expected<ContentHash, ContractError> event_content_hash(AuditEvent const& event);

// Appends the entry as a leaf of the audit log's Merkle tree: the canonical
// form of the whole entry, {"event":<the event's canonical bytes>,
// "sequence":<decimal>,"signature":"<128 hex digits>"}, so that the leaf
// holds the very bytes that were signed, the entry's number and its
// signature, and a reader can check the one from the other.
void append_leaf_bytes(SignedAuditEvent const& entry, std::string& out);

} // namespace quenmark
