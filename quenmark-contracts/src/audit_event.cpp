#include "quenmark/audit_event.h"

#include "quenmark/text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace quenmark {

namespace {

// Stored names of each enumeration, in declaration order.
template<typename E>
struct EnumNames;

template<>
struct EnumNames<ActorType> {
    static constexpr std::array<std::string_view, 8> names {
        "user", "administrator", "device", "service", "product", "federation_peer", "system", "unknown",
    };
    static constexpr ActorType last = ActorType::Unknown;
};

template<>
struct EnumNames<AuditResult> {
    static constexpr std::array<std::string_view, 7> names {
        "success", "failure", "denied", "cancelled", "expired", "partial", "unknown",
    };
    static constexpr AuditResult last = AuditResult::Unknown;
};

template<>
struct EnumNames<Severity> {
    static constexpr std::array<std::string_view, 5> names { "info", "notice", "warning", "error", "critical" };
    static constexpr Severity last = Severity::Critical;
};

template<>
struct EnumNames<AuditCategory> {
    static constexpr std::array<std::string_view, 15> names {
        "authentication", "authorization", "configuration", "key_management", "device_management",
        "data_access", "service_lifecycle", "network_exposure", "backup", "restore",
        "federation", "policy", "security", "privacy", "system",
    };
    static constexpr AuditCategory last = AuditCategory::System;
};

template<>
struct EnumNames<RetentionClass> {
    static constexpr std::array<std::string_view, 8> names {
        "ephemeral", "operational", "security", "compliance",
        "privacy_sensitive", "debug", "user_controlled", "legal_hold",
    };
    static constexpr RetentionClass last = RetentionClass::LegalHold;
};

template<>
struct EnumNames<RedactionReason> {
    static constexpr std::array<std::string_view, 8> names {
        "personal_data", "secret", "location", "user_content",
        "policy_required", "subject_request", "audience_restricted", "oversized",
    };
    static constexpr RedactionReason last = RedactionReason::Oversized;
};

template<typename E>
constexpr bool names_cover_enum = static_cast<std::size_t>(EnumNames<E>::last) + 1 == EnumNames<E>::names.size();
static_assert(names_cover_enum<ActorType> && names_cover_enum<AuditResult> && names_cover_enum<Severity>
              && names_cover_enum<AuditCategory> && names_cover_enum<RetentionClass>
              && names_cover_enum<RedactionReason>);

template<typename E>
std::string_view enum_name(E value)
{
    return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

// Member names of each record, in written order. The writers and readers
// index these tables, so a name is spelled once.
enum class ActorMember : std::size_t { ActorType, ActorId, DisplayNameEncrypted };
constexpr std::array<std::string_view, 3> actor_members { "actor_type", "actor_id", "display_name_encrypted" };
constexpr std::uint64_t actor_required = 1U << 0;

enum class TargetMember : std::size_t { TargetType, TargetId };
constexpr std::array<std::string_view, 2> target_members { "target_type", "target_id" };
constexpr std::uint64_t target_required = 1U << 0;

enum class MarkerMember : std::size_t { FieldPath, Reason, RedactionPolicyId, AppliedAt, AppliedBy };
constexpr std::array<std::string_view, 5> marker_members {
    "field_path", "reason", "redaction_policy_id", "applied_at", "applied_by",
};
constexpr std::uint64_t marker_required = (1U << 0) | (1U << 1);

enum class EventMember : std::size_t {
    EventId,
    TenantId,
    WorkspaceId,
    ProductId,
    SourceNodeId,
    Actor,
    Target,
    Action,
    Result,
    Severity,
    Category,
    OccurredAt,
    ReceivedAt,
    CorrelationId,
    MetadataEncrypted,
    RetentionClass,
    RedactionMarkers,
    PreviousEventHash,
};
constexpr std::array<std::string_view, 18> event_members {
    "event_id", "tenant_id", "workspace_id", "product_id", "source_node_id", "actor",
    "target", "action", "result", "severity", "category", "occurred_at",
    "received_at", "correlation_id", "metadata_encrypted", "retention_class", "redaction_markers",
    "previous_event_hash",
};

constexpr std::uint64_t bit(EventMember member) { return std::uint64_t { 1 } << static_cast<std::size_t>(member); }

constexpr std::uint64_t event_required = bit(EventMember::EventId) | bit(EventMember::ProductId)
    | bit(EventMember::Actor) | bit(EventMember::Target) | bit(EventMember::Action) | bit(EventMember::Result)
    | bit(EventMember::Severity) | bit(EventMember::Category) | bit(EventMember::OccurredAt)
    | bit(EventMember::RetentionClass);

enum class EntryMember : std::size_t { Event, Sequence, Signature };
constexpr std::array<std::string_view, 3> entry_members { "event", "sequence", "signature" };
constexpr std::uint64_t entry_required = (1U << 0) | (1U << 1) | (1U << 2);

template<typename Member, std::size_t N>
std::string_view name_of(std::array<std::string_view, N> const& names, Member member)
{
    return names[static_cast<std::size_t>(member)];
}

// Writing values. Every member goes through one of these overloads.

void write_value(json::Sink& sink, std::string const& text) { sink.string(text); }
void write_value(json::Sink& sink, Uuid const& id) { sink.string(id.to_string()); }
void write_value(json::Sink& sink, Slug const& slug) { sink.string(slug.text()); }
void write_value(json::Sink& sink, Timestamp const& instant) { sink.string(instant.to_text()); }
void write_value(json::Sink& sink, ContentHash const& hash) { sink.string(hash.to_text()); }
void write_value(json::Sink& sink, Signature const& signature) { sink.string(signature.to_text()); }
void write_value(json::Sink& sink, std::uint64_t number) { sink.unsigned_integer(number); }

void write_value(json::Sink& sink, Bytes const& bytes)
{
    sink.begin_array();
    for (std::uint8_t const byte : bytes)
        sink.unsigned_integer(byte);
    sink.end_array();
}

template<typename E>
    requires std::is_enum_v<E>
void write_value(json::Sink& sink, E value)
{
    sink.string(enum_name(value));
}

template<typename Record>
    requires requires(json::Sink& sink, Record const& record) { write_json(sink, record); }
void write_value(json::Sink& sink, Record const& record)
{
    write_json(sink, record);
}

void write_value(json::Sink& sink, std::vector<RedactionMarker> const& markers)
{
    sink.begin_array();
    for (RedactionMarker const& marker : markers)
        write_json(sink, marker);
    sink.end_array();
}

template<typename T>
void write_member(json::Sink& sink, std::string_view name, T const& value)
{
    sink.key(name);
    write_value(sink, value);
}

// Absent optional members are left out, not written as null.
template<typename T>
void write_member(json::Sink& sink, std::string_view name, std::optional<T> const& value)
{
    if (value)
        write_member(sink, name, *value);
}

// Reading values. Parsers of the platform's text forms report their own
// messages as the reading error.

json::Read<void> read_value(json::ValueReader& reader, std::string& text)
{
    text = TRY(reader.string());
    return {};
}

json::Read<void> read_value(json::ValueReader& reader, Uuid& id)
{
    auto const text = TRY(reader.string_view());
    auto parsed = Uuid::parse(text);
    if (!parsed)
        return unexpected(reader.error("UUID parsing failed: " + parsed.error()));
    id = *parsed;
    return {};
}

template<typename T>
json::Read<void> read_contract_text(json::ValueReader& reader, T& out)
{
    auto const text = TRY(reader.string_view());
    auto parsed = T::parse(text);
    if (!parsed)
        return unexpected(reader.error(parsed.error().text()));
    out = std::move(*parsed);
    return {};
}

json::Read<void> read_value(json::ValueReader& reader, Slug& slug) { return read_contract_text(reader, slug); }
json::Read<void> read_value(json::ValueReader& reader, Timestamp& instant)
{
    // Read instants are written back; one the text form cannot hold is refused.
    auto const text = TRY(reader.string_view());
    auto const parsed = Timestamp::parse_stored(text);
    if (!parsed)
        return unexpected(reader.error(parsed.error().text()));
    instant = *parsed;
    return {};
}
json::Read<void> read_value(json::ValueReader& reader, ContentHash& hash) { return read_contract_text(reader, hash); }
json::Read<void> read_value(json::ValueReader& reader, Signature& signature)
{
    return read_contract_text(reader, signature);
}

json::Read<void> read_value(json::ValueReader& reader, std::uint64_t& number)
{
    number = TRY(reader.u64());
    return {};
}

json::Read<void> read_value(json::ValueReader& reader, Bytes& bytes)
{
    bytes.clear();
    return reader.array([&](json::ValueReader& element) -> json::Read<void> {
        bytes.push_back(TRY(element.u8()));
        return {};
    });
}

template<typename E>
    requires std::is_enum_v<E>
json::Read<void> read_value(json::ValueReader& reader, E& value)
{
    std::size_t const index = TRY(reader.enumeration(EnumNames<E>::names));
    value = static_cast<E>(index);
    return {};
}

template<typename Record>
    requires requires(json::ValueReader& reader, Record& record) { read_json(reader, record); }
json::Read<void> read_value(json::ValueReader& reader, Record& record)
{
    return read_json(reader, record);
}

// A null or missing list is empty.
json::Read<void> read_value(json::ValueReader& reader, std::vector<RedactionMarker>& markers)
{
    markers.clear();
    if (TRY(reader.is_null()))
        return {};
    return reader.array([&](json::ValueReader& element) -> json::Read<void> {
        RedactionMarker marker;
        TRY(read_json(element, marker));
        markers.push_back(std::move(marker));
        return {};
    });
}

// Null reads as absent, like a missing member.
template<typename T>
json::Read<void> read_value(json::ValueReader& reader, std::optional<T>& out)
{
    if (TRY(reader.is_null())) {
        out.reset();
        return {};
    }
    T value {};
    TRY(read_value(reader, value));
    out = std::move(value);
    return {};
}

// The canonical form, written directly. An event's canonical bytes are those
// of its JSON value after canonicalisation: strings composed, members in
// ascending byte order of their names, no white space. Every member name here
// is fixed ASCII that needs no escape, so composition leaves the names alone,
// no two can collide, and their order is known in advance (checked at compile
// time below). The writer therefore emits the members in that order straight
// into the output, with no value tree and no sorting.

// Room for one event of this system, so the buffer rarely grows.
constexpr std::size_t canonical_event_capacity = 768;

constexpr bool is_plain_name(std::string_view name)
{
    for (char const character : name) {
        auto const byte = static_cast<unsigned char>(character);
        if (byte < 0x20U || byte >= 0x80U || character == '"' || character == '\\')
            return false;
    }
    return !name.empty();
}

// True when `order` lists every member once, in strictly ascending byte order
// of the names, and every name is written as it stands.
template<std::size_t N, typename Member, std::size_t M>
constexpr bool is_canonical_order(std::array<std::string_view, N> const& names, std::array<Member, M> const& order)
{
    if (M != N)
        return false;
    for (std::size_t index = 0; index < M; ++index) {
        auto const position = static_cast<std::size_t>(order[index]);
        if (position >= N || !is_plain_name(names[position]))
            return false;
        if (index != 0 && !(names[static_cast<std::size_t>(order[index - 1])] < names[position]))
            return false;
    }
    return true;
}

constexpr std::array<ActorMember, 3> actor_canonical_order {
    ActorMember::ActorId, ActorMember::ActorType, ActorMember::DisplayNameEncrypted,
};
constexpr std::array<TargetMember, 2> target_canonical_order { TargetMember::TargetId, TargetMember::TargetType };
constexpr std::array<MarkerMember, 5> marker_canonical_order {
    MarkerMember::AppliedAt, MarkerMember::AppliedBy, MarkerMember::FieldPath,
    MarkerMember::Reason, MarkerMember::RedactionPolicyId,
};
constexpr std::array<EventMember, 18> event_canonical_order {
    EventMember::Action, EventMember::Actor, EventMember::Category, EventMember::CorrelationId,
    EventMember::EventId, EventMember::MetadataEncrypted, EventMember::OccurredAt, EventMember::PreviousEventHash,
    EventMember::ProductId, EventMember::ReceivedAt, EventMember::RedactionMarkers, EventMember::Result,
    EventMember::RetentionClass, EventMember::Severity, EventMember::SourceNodeId, EventMember::Target,
    EventMember::TenantId, EventMember::WorkspaceId,
};
static_assert(is_canonical_order(actor_members, actor_canonical_order));
static_assert(is_canonical_order(target_members, target_canonical_order));
static_assert(is_canonical_order(marker_members, marker_canonical_order));
static_assert(is_canonical_order(event_members, event_canonical_order));

bool is_ascii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char character) {
        return static_cast<unsigned char>(character) < 0x80U;
    });
}

// Text that may hold anything: composed (only non-ASCII text can change) and
// escaped as every canonical string is.
void write_canonical_text(std::string& out, std::string_view text)
{
    if (is_ascii(text))
        json::append_string(out, text);
    else
        json::append_string(out, json::compose(text));
}

// The text forms of identifiers, instants, hashes and enumerations are made of
// ASCII letters, digits and punctuation that is never escaped, so they are
// written between quotes as they stand.
template<typename AppendText>
void write_quoted(std::string& out, AppendText append_text)
{
    out.push_back('"');
    append_text();
    out.push_back('"');
}

void write_canonical(std::string& out, std::string const& text) { write_canonical_text(out, text); }
void write_canonical(std::string& out, Slug const& slug) { write_canonical_text(out, slug.text()); }
void write_canonical(std::string& out, Uuid const& id) { write_quoted(out, [&] { id.append_to(out); }); }
void write_canonical(std::string& out, Timestamp const& instant) { write_quoted(out, [&] { instant.append_text(out); }); }
void write_canonical(std::string& out, ContentHash const& hash) { write_quoted(out, [&] { hash.append_text(out); }); }

template<typename E>
    requires std::is_enum_v<E>
void write_canonical(std::string& out, E value)
{
    write_quoted(out, [&] { out.append(enum_name(value)); });
}

void write_canonical(std::string& out, Bytes const& bytes)
{
    out.push_back('[');
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index != 0)
            out.push_back(',');
        append_decimal(out, std::uint64_t { bytes[index] });
    }
    out.push_back(']');
}

void write_canonical(std::string& out, Actor const& actor);
void write_canonical(std::string& out, Target const& target);
void write_canonical(std::string& out, std::vector<RedactionMarker> const& markers);

// Opens an object on construction and writes its members' names with the
// separators between them; close() ends it.
class CanonicalObject {
public:
    explicit CanonicalObject(std::string& out) : m_out(out) { m_out.push_back('{'); }

    template<typename T>
    void member(std::string_view name, T const& value)
    {
        if (!m_first)
            m_out.push_back(',');
        m_first = false;
        m_out.push_back('"');
        m_out.append(name);
        m_out.append("\":");
        write_canonical(m_out, value);
    }

    // Absent optional members are not part of the canonical form.
    template<typename T>
    void member(std::string_view name, std::optional<T> const& value)
    {
        if (value)
            member(name, *value);
    }

    void close() { m_out.push_back('}'); }

private:
    std::string& m_out;
    bool m_first { true };
};

void write_canonical(std::string& out, Actor const& actor)
{
    CanonicalObject object(out);
    for (ActorMember const member : actor_canonical_order) {
        std::string_view const name = name_of(actor_members, member);
        switch (member) {
        case ActorMember::ActorType:
            object.member(name, actor.actor_type);
            break;
        case ActorMember::ActorId:
            object.member(name, actor.actor_id);
            break;
        case ActorMember::DisplayNameEncrypted:
            object.member(name, actor.display_name_encrypted);
            break;
        }
    }
    object.close();
}

void write_canonical(std::string& out, Target const& target)
{
    CanonicalObject object(out);
    for (TargetMember const member : target_canonical_order) {
        std::string_view const name = name_of(target_members, member);
        switch (member) {
        case TargetMember::TargetType:
            object.member(name, target.target_type);
            break;
        case TargetMember::TargetId:
            object.member(name, target.target_id);
            break;
        }
    }
    object.close();
}

void write_canonical(std::string& out, RedactionMarker const& marker)
{
    CanonicalObject object(out);
    for (MarkerMember const member : marker_canonical_order) {
        std::string_view const name = name_of(marker_members, member);
        switch (member) {
        case MarkerMember::FieldPath:
            object.member(name, marker.field_path);
            break;
        case MarkerMember::Reason:
            object.member(name, marker.reason);
            break;
        case MarkerMember::RedactionPolicyId:
            object.member(name, marker.redaction_policy_id);
            break;
        case MarkerMember::AppliedAt:
            object.member(name, marker.applied_at);
            break;
        case MarkerMember::AppliedBy:
            object.member(name, marker.applied_by);
            break;
        }
    }
    object.close();
}

void write_canonical(std::string& out, std::vector<RedactionMarker> const& markers)
{
    out.push_back('[');
    for (std::size_t index = 0; index < markers.size(); ++index) {
        if (index != 0)
            out.push_back(',');
        write_canonical(out, markers[index]);
    }
    out.push_back(']');
}

void write_canonical(std::string& out, AuditEvent const& event)
{
    CanonicalObject object(out);
    for (EventMember const member : event_canonical_order) {
        std::string_view const name = name_of(event_members, member);
        switch (member) {
        case EventMember::EventId:
            object.member(name, event.event_id);
            break;
        case EventMember::TenantId:
            object.member(name, event.tenant_id);
            break;
        case EventMember::WorkspaceId:
            object.member(name, event.workspace_id);
            break;
        case EventMember::ProductId:
            object.member(name, event.product_id);
            break;
        case EventMember::SourceNodeId:
            object.member(name, event.source_node_id);
            break;
        case EventMember::Actor:
            object.member(name, event.actor);
            break;
        case EventMember::Target:
            object.member(name, event.target);
            break;
        case EventMember::Action:
            object.member(name, event.action);
            break;
        case EventMember::Result:
            object.member(name, event.result);
            break;
        case EventMember::Severity:
            object.member(name, event.severity);
            break;
        case EventMember::Category:
            object.member(name, event.category);
            break;
        case EventMember::OccurredAt:
            object.member(name, event.occurred_at);
            break;
        case EventMember::ReceivedAt:
            object.member(name, event.received_at);
            break;
        case EventMember::CorrelationId:
            object.member(name, event.correlation_id);
            break;
        case EventMember::MetadataEncrypted:
            object.member(name, event.metadata_encrypted);
            break;
        case EventMember::RetentionClass:
            object.member(name, event.retention_class);
            break;
        case EventMember::RedactionMarkers:
            // An empty list is left out, as in the file form.
            if (!event.redaction_markers.empty())
                object.member(name, event.redaction_markers);
            break;
        case EventMember::PreviousEventHash:
            object.member(name, event.previous_event_hash);
            break;
        }
    }
    object.close();
}

} // namespace

std::string_view stored_name(ActorType value) { return enum_name(value); }
std::string_view stored_name(AuditResult value) { return enum_name(value); }
std::string_view stored_name(Severity value) { return enum_name(value); }
std::string_view stored_name(AuditCategory value) { return enum_name(value); }
std::string_view stored_name(RetentionClass value) { return enum_name(value); }
std::string_view stored_name(RedactionReason value) { return enum_name(value); }

Slug corvella_product_id()
{
    static Slug const product = [] {
        auto slug = Slug::parse(corvella_product_slug);
        if (!slug)
            fail_internal("the built-in product identifier is not a valid slug");
        return std::move(*slug);
    }();
    return product;
}

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

void write_json(json::Sink& sink, Actor const& actor)
{
    sink.begin_object();
    write_member(sink, name_of(actor_members, ActorMember::ActorType), actor.actor_type);
    write_member(sink, name_of(actor_members, ActorMember::ActorId), actor.actor_id);
    write_member(sink, name_of(actor_members, ActorMember::DisplayNameEncrypted), actor.display_name_encrypted);
    sink.end_object();
}

void write_json(json::Sink& sink, Target const& target)
{
    sink.begin_object();
    write_member(sink, name_of(target_members, TargetMember::TargetType), target.target_type);
    write_member(sink, name_of(target_members, TargetMember::TargetId), target.target_id);
    sink.end_object();
}

void write_json(json::Sink& sink, RedactionMarker const& marker)
{
    sink.begin_object();
    write_member(sink, name_of(marker_members, MarkerMember::FieldPath), marker.field_path);
    write_member(sink, name_of(marker_members, MarkerMember::Reason), marker.reason);
    write_member(sink, name_of(marker_members, MarkerMember::RedactionPolicyId), marker.redaction_policy_id);
    write_member(sink, name_of(marker_members, MarkerMember::AppliedAt), marker.applied_at);
    write_member(sink, name_of(marker_members, MarkerMember::AppliedBy), marker.applied_by);
    sink.end_object();
}

void write_json(json::Sink& sink, AuditEvent const& event)
{
    auto const name = [](EventMember member) { return name_of(event_members, member); };
    sink.begin_object();
    write_member(sink, name(EventMember::EventId), event.event_id);
    write_member(sink, name(EventMember::TenantId), event.tenant_id);
    write_member(sink, name(EventMember::WorkspaceId), event.workspace_id);
    write_member(sink, name(EventMember::ProductId), event.product_id);
    write_member(sink, name(EventMember::SourceNodeId), event.source_node_id);
    write_member(sink, name(EventMember::Actor), event.actor);
    write_member(sink, name(EventMember::Target), event.target);
    write_member(sink, name(EventMember::Action), event.action);
    write_member(sink, name(EventMember::Result), event.result);
    write_member(sink, name(EventMember::Severity), event.severity);
    write_member(sink, name(EventMember::Category), event.category);
    write_member(sink, name(EventMember::OccurredAt), event.occurred_at);
    write_member(sink, name(EventMember::ReceivedAt), event.received_at);
    write_member(sink, name(EventMember::CorrelationId), event.correlation_id);
    write_member(sink, name(EventMember::MetadataEncrypted), event.metadata_encrypted);
    write_member(sink, name(EventMember::RetentionClass), event.retention_class);
    if (!event.redaction_markers.empty())
        write_member(sink, name(EventMember::RedactionMarkers), event.redaction_markers);
    write_member(sink, name(EventMember::PreviousEventHash), event.previous_event_hash);
    sink.end_object();
}

void write_json(json::Sink& sink, SignedAuditEvent const& entry)
{
    sink.begin_object();
    write_member(sink, name_of(entry_members, EntryMember::Event), entry.event);
    write_member(sink, name_of(entry_members, EntryMember::Sequence), entry.sequence);
    write_member(sink, name_of(entry_members, EntryMember::Signature), entry.signature);
    sink.end_object();
}

json::Read<void> read_json(json::ValueReader& reader, Actor& actor)
{
    actor = Actor {};
    TRY(reader.object(actor_members, actor_required, [&](std::size_t index, json::ValueReader& value) -> json::Read<void> {
        switch (static_cast<ActorMember>(index)) {
        case ActorMember::ActorType:
            return read_value(value, actor.actor_type);
        case ActorMember::ActorId:
            return read_value(value, actor.actor_id);
        case ActorMember::DisplayNameEncrypted:
            return read_value(value, actor.display_name_encrypted);
        }
        __builtin_unreachable();
    }));
    return {};
}

json::Read<void> read_json(json::ValueReader& reader, Target& target)
{
    target = Target {};
    TRY(reader.object(target_members, target_required,
        [&](std::size_t index, json::ValueReader& value) -> json::Read<void> {
            switch (static_cast<TargetMember>(index)) {
            case TargetMember::TargetType:
                return read_value(value, target.target_type);
            case TargetMember::TargetId:
                return read_value(value, target.target_id);
            }
            __builtin_unreachable();
        }));
    return {};
}

json::Read<void> read_json(json::ValueReader& reader, RedactionMarker& marker)
{
    marker = RedactionMarker {};
    TRY(reader.object(marker_members, marker_required,
        [&](std::size_t index, json::ValueReader& value) -> json::Read<void> {
            switch (static_cast<MarkerMember>(index)) {
            case MarkerMember::FieldPath:
                return read_value(value, marker.field_path);
            case MarkerMember::Reason:
                return read_value(value, marker.reason);
            case MarkerMember::RedactionPolicyId:
                return read_value(value, marker.redaction_policy_id);
            case MarkerMember::AppliedAt:
                return read_value(value, marker.applied_at);
            case MarkerMember::AppliedBy:
                return read_value(value, marker.applied_by);
            }
            __builtin_unreachable();
        }));
    return {};
}

json::Read<void> read_json(json::ValueReader& reader, AuditEvent& event)
{
    event = AuditEvent {};
    TRY(reader.object(event_members, event_required,
        [&](std::size_t index, json::ValueReader& value) -> json::Read<void> {
            switch (static_cast<EventMember>(index)) {
            case EventMember::EventId:
                return read_value(value, event.event_id);
            case EventMember::TenantId:
                return read_value(value, event.tenant_id);
            case EventMember::WorkspaceId:
                return read_value(value, event.workspace_id);
            case EventMember::ProductId:
                return read_value(value, event.product_id);
            case EventMember::SourceNodeId:
                return read_value(value, event.source_node_id);
            case EventMember::Actor:
                return read_value(value, event.actor);
            case EventMember::Target:
                return read_value(value, event.target);
            case EventMember::Action:
                return read_value(value, event.action);
            case EventMember::Result:
                return read_value(value, event.result);
            case EventMember::Severity:
                return read_value(value, event.severity);
            case EventMember::Category:
                return read_value(value, event.category);
            case EventMember::OccurredAt:
                return read_value(value, event.occurred_at);
            case EventMember::ReceivedAt:
                return read_value(value, event.received_at);
            case EventMember::CorrelationId:
                return read_value(value, event.correlation_id);
            case EventMember::MetadataEncrypted:
                return read_value(value, event.metadata_encrypted);
            case EventMember::RetentionClass:
                return read_value(value, event.retention_class);
            case EventMember::RedactionMarkers:
                return read_value(value, event.redaction_markers);
            case EventMember::PreviousEventHash:
                return read_value(value, event.previous_event_hash);
            }
            __builtin_unreachable();
        }));
    return {};
}

json::Read<void> read_json(json::ValueReader& reader, SignedAuditEvent& entry)
{
    entry.sequence = 0;
    entry.signature = Signature {};
    TRY(reader.object(entry_members, entry_required,
        [&](std::size_t index, json::ValueReader& value) -> json::Read<void> {
            switch (static_cast<EntryMember>(index)) {
            case EntryMember::Event:
                return read_json(value, entry.event);
            case EntryMember::Sequence:
                return read_value(value, entry.sequence);
            case EntryMember::Signature:
                return read_value(value, entry.signature);
            }
            __builtin_unreachable();
        }));
    return {};
}

void append_canonical_bytes(AuditEvent const& event, std::string& out)
{
    write_canonical(out, event);
}

Expected<std::string, ContractError> event_canonical_bytes(AuditEvent const& event)
{
    std::string out;
    out.reserve(canonical_event_capacity);
    write_canonical(out, event);
    return out;
}

Expected<ContentHash, ContractError> event_content_hash(AuditEvent const& event)
{
    std::string const bytes = TRY(event_canonical_bytes(event));
    return ContentHash::of_bytes(bytes);
}

} // namespace quenmark
