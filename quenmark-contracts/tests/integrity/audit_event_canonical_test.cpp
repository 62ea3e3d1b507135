// Canonical bytes of audit events. The member tables give the members in
// canonical order, so the writer sorts nothing; the same writer given the
// members in written order must sort them into the same bytes.

#include "quenmark/integrity/audit_event.h"

#include "quenmark/json/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {
namespace {

// The event described in written order (as the files hold it) to the
// canonical writer, which then sorts every object's members itself.
std::string sorted_by_the_writer(AuditEvent const& event)
{
    std::string out;
    json::CanonicalWriter writer(out);
    write_json(static_cast<json::Sink&>(writer), event);
    EXPECT_TRUE(test_support::has_value(writer.status()));
    return out;
}

// Builds events whose every member is drawn at random, strings from pieces
// that exercise composition and escaping.
class EventMaker {
public:
    explicit EventMaker(std::uint32_t seed) : m_random(seed) { }

    AuditEvent event()
    {
        AuditEvent event;
        event.event_id = uuid();
        event.tenant_id = maybe([&] { return uuid(); });
        event.workspace_id = maybe([&] { return uuid(); });
        event.product_id = *Slug::parse(pick(std::array<std::string_view, 3> { "corvella", "a", "x-9" }));
        event.source_node_id = maybe([&] { return uuid(); });
        event.actor.actor_type = enumerator<ActorType>(8);
        event.actor.actor_id = maybe([&] { return text(); });
        event.actor.display_name_encrypted = maybe([&] { return bytes(); });
        event.target.target_type = text();
        event.target.target_id = maybe([&] { return text(); });
        event.action = text();
        event.result = enumerator<AuditResult>(7);
        event.severity = enumerator<Severity>(5);
        event.category = enumerator<AuditCategory>(15);
        event.occurred_at = instant();
        event.received_at = maybe([&] { return instant(); });
        event.correlation_id = maybe([&] { return text(); });
        event.metadata_encrypted = maybe([&] { return bytes(); });
        event.retention_class = enumerator<RetentionClass>(8);
        for (std::size_t count = below(4); count != 0; --count) {
            RedactionMarker marker;
            marker.field_path = text();
            marker.reason = enumerator<RedactionReason>(8);
            marker.redaction_policy_id = maybe([&] { return uuid(); });
            marker.applied_at = maybe([&] { return instant(); });
            marker.applied_by = maybe([&] { return uuid(); });
            event.redaction_markers.push_back(std::move(marker));
        }
        event.previous_event_hash = maybe([&] {
            ContentHash hash;
            for (auto& byte : hash.digest)
                byte = static_cast<std::uint8_t>(below(256));
            return hash;
        });
        return event;
    }

private:
    std::size_t below(std::size_t bound)
    {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(m_random);
    }

    template<typename T, std::size_t N>
    T pick(std::array<T, N> const& choices)
    {
        return choices[below(N)];
    }

    template<typename E>
    E enumerator(std::size_t count)
    {
        return static_cast<E>(below(count));
    }

    template<typename F>
    auto maybe(F make) -> std::optional<decltype(make())>
    {
        if (below(2) == 0)
            return std::nullopt;
        return make();
    }

    Uuid uuid()
    {
        Uuid id;
        for (auto& byte : id.bytes)
            byte = static_cast<std::uint8_t>(below(256));
        return id;
    }

    // Whole seconds across the text-writable range, and a few instants before
    // year 0, which are written as Unix seconds.
    Timestamp instant()
    {
        auto const seconds = std::uniform_int_distribution<std::int64_t>(-62'167'219'200 - 1'000'000,
            253'402'300'799)(m_random);
        return Timestamp::from_unix_seconds(seconds);
    }

    Bytes bytes()
    {
        Bytes out(below(5));
        for (auto& byte : out)
            byte = static_cast<std::uint8_t>(below(256));
        return out;
    }

    std::string text()
    {
        static constexpr std::array<std::string_view, 22> pieces {
            "training.assignment.created",
            "a",
            "e\xCC\x81",             // e + combining acute: composes
            "A\xCC\x8A",             // A + ring above: composes
            "Y\xCC\x88",             // Y + diaeresis: not in the table
            "e\xCC\x81\xCC\x81",     // second mark stays
            "A\xCC\x84",             // macron: not in the table
            "\xCC\x81",              // a mark with no base letter
            "\xC3\xA9",              // precomposed
            "\xE6\x97\xA5\xE6\x9C\xAC", // CJK
            "\xF0\x9F\x98\x80",      // outside the BMP
            "\"",
            "\\",
            "/",
            "\n",
            "\t",
            std::string_view("\x00", 1),
            "\x01",
            "\x1f",
            "\x7f",
            "z",
            "s\xCC\x8C",             // s + caron: composes
        };
        std::string out;
        for (std::size_t count = below(7); count != 0; --count)
            out.append(pick(pieces));
        return out;
    }

    std::mt19937 m_random;
};

TEST(AuditEventCanonical, TableOrderAndSortedWrittenOrderGiveTheSameBytesOnRandomEvents)
{
    EventMaker maker(/*seed=*/20261208);
    std::string const prefix = "kept";
    for (int round = 0; round < 3000; ++round) {
        AuditEvent const event = maker.event();
        std::string const expected = sorted_by_the_writer(event);
        auto const bytes = event_canonical_bytes(event);
        ASSERT_TRUE(test_support::has_value(bytes));
        ASSERT_EQ(*bytes, expected) << "round " << round;

        std::string appended = prefix;
        append_canonical_bytes(event, appended);
        ASSERT_EQ(appended, prefix + expected) << "round " << round;
    }
}

// Every member present, written out by hand: members sorted bytewise at every
// level, markers in their list order, strings composed and escaped.
TEST(AuditEventCanonical, FullEventHasEveryMemberInByteOrder)
{
    AuditEvent event;
    event.event_id = *Uuid::parse("8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01");
    event.product_id = *Slug::parse("corvella");
    event.tenant_id = *Uuid::parse("11111111-2222-4333-8444-555555555555");
    event.workspace_id = *Uuid::parse("66666666-7777-4888-9999-aaaaaaaaaaaa");
    event.source_node_id = *Uuid::parse("0b7e9c2d-3f41-4e6a-8b5c-7d9e0f1a2b3c");
    event.actor = Actor { ActorType::FederationPeer, "gr\"a\\der", Bytes { 0, 255 } };
    event.target = Target { "certificate", "c\n1" };
    event.action = "caf" "e\xCC\x81";
    event.result = AuditResult::Denied;
    event.severity = Severity::Notice;
    event.category = AuditCategory::KeyManagement;
    event.occurred_at = *Timestamp::parse("2026-12-08T04:00:09Z");
    event.received_at = *Timestamp::parse("2026-12-08T04:00:10Z");
    event.correlation_id = "";
    event.metadata_encrypted = Bytes {};
    event.retention_class = RetentionClass::PrivacySensitive;
    event.redaction_markers.push_back(RedactionMarker { "target.target_id", RedactionReason::Oversized, {}, {}, {} });
    event.redaction_markers.push_back(RedactionMarker { "actor.actor_id", RedactionReason::PersonalData,
        *Uuid::parse("3c4d5e6f-7a8b-4c9d-8e0f-1a2b3c4d5e6f"), *Timestamp::parse("2026-12-09T00:00:00Z"),
        *Uuid::parse("9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d") });
    event.previous_event_hash
        = *ContentHash::parse("blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");

    std::string const expected = "{\"action\":\"caf\xC3\xA9\","
                                 R"("actor":{"actor_id":"gr\"a\\der","actor_type":"federation_peer",)"
                                 R"("display_name_encrypted":[0,255]},)"
                                 R"("category":"key_management","correlation_id":"",)"
                                 R"("event_id":"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01","metadata_encrypted":[],)"
                                 R"("occurred_at":"2026-12-08T04:00:09Z",)"
                                 R"("previous_event_hash":"blake3:)"
                                 R"(af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262",)"
                                 R"("product_id":"corvella","received_at":"2026-12-08T04:00:10Z",)"
                                 R"("redaction_markers":[{"field_path":"target.target_id","reason":"oversized"},)"
                                 R"({"applied_at":"2026-12-09T00:00:00Z",)"
                                 R"("applied_by":"9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d",)"
                                 R"("field_path":"actor.actor_id","reason":"personal_data",)"
                                 R"("redaction_policy_id":"3c4d5e6f-7a8b-4c9d-8e0f-1a2b3c4d5e6f"}],)"
                                 R"("result":"denied","retention_class":"privacy_sensitive","severity":"notice",)"
                                 R"("source_node_id":"0b7e9c2d-3f41-4e6a-8b5c-7d9e0f1a2b3c",)"
                                 R"("target":{"target_id":"c\n1","target_type":"certificate"},)"
                                 R"("tenant_id":"11111111-2222-4333-8444-555555555555",)"
                                 R"("workspace_id":"66666666-7777-4888-9999-aaaaaaaaaaaa"})";
    auto const bytes = event_canonical_bytes(event);
    ASSERT_TRUE(test_support::has_value(bytes));
    EXPECT_EQ(*bytes, expected);
    EXPECT_EQ(*bytes, sorted_by_the_writer(event));
}

} // namespace
} // namespace quenmark
