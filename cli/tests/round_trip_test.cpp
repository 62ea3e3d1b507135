// Whatever the tool reads it writes back in a form it reads as the same
// records: the state file and the audit chain, over generated records full of
// edge values, over hand-written odd spellings of every value, and the
// refusal of the one kind of value that could not be written back.

#include "store/state.h"

#include "chain_text.h"
#include "test_support.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/enums.h"
#include "corvella/records.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/json/read.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenmark::Timestamp;

// Random records whose every value is drawn often from the edges of its
// type: the limits of integers, the ends of the writable time range, text
// with control characters, escapes, combining marks and four-byte
// characters, absent and present optionals, empty and full lists.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : m_random(seed) { }

    bool chance(unsigned percent) { return below(100) < percent; }
    std::uint64_t below(std::uint64_t bound) { return std::uniform_int_distribution<std::uint64_t>(0, bound - 1)(m_random); }

    template<typename T>
    T integer()
    {
        constexpr T max = std::numeric_limits<T>::max();
        std::array<T, 4> const edges { 0, 1, static_cast<T>(max - 1), max };
        if (chance(40))
            return edges[below(edges.size())];
        return static_cast<T>(m_random());
    }

    template<typename Enum>
    Enum pick(std::size_t count)
    {
        return static_cast<Enum>(below(count));
    }

    quenmark::Uuid uuid()
    {
        // The nil UUID, all bits set, or random bytes of no particular version.
        quenmark::Uuid uuid;
        auto const kind = below(10);
        for (auto& byte : uuid.bytes)
            byte = kind == 0 ? 0x00 : kind == 1 ? 0xff : static_cast<std::uint8_t>(m_random());
        return uuid;
    }

    template<typename Id>
    Id id()
    {
        return Id::from_uuid(uuid());
    }

    // Whole seconds from 0000-01-01T00:00:00Z to 9999-12-31T23:59:59Z.
    Timestamp instant()
    {
        std::int64_t const first = Timestamp::earliest_text_writable().unix_seconds();
        std::int64_t const last = Timestamp::parse("9999-12-31T23:59:59Z")->unix_seconds();
        std::array<std::int64_t, 5> const edges { first, last, 0, -1, 951825600 /* 2000-02-29T12:00:00Z */ };
        if (chance(30))
            return Timestamp::from_unix_seconds(edges[below(edges.size())]);
        return Timestamp::from_unix_seconds(first + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(last - first) + 1)));
    }

    std::optional<Timestamp> maybe_instant() { return chance(50) ? std::optional(instant()) : std::nullopt; }

    std::string text()
    {
        // Code points from every encoded length and every escape class.
        static constexpr std::array<char32_t, 22> edges {
            U'\0', U'\x01', U'\b', U'\t', U'\n', U'\f', U'\r', U'\x1f', U'"', U'\\', U'/', U'\x7f', U'\u00e9',
            U'\u0301', U'\u00a0', U'\u2028', U'\u2029', U'\ufeff', U'\uffff', U'\U0001f600', U'\U0010ffff', U' ',
        };
        std::string out;
        std::uint64_t const length = chance(10) ? 0 : below(12);
        for (std::uint64_t index = 0; index < length; ++index) {
            char32_t code_point = edges[below(edges.size())];
            if (chance(50))
                code_point = chance(60) ? static_cast<char32_t>(0x20 + below(0x5f)) : scalar();
            append_utf8(out, code_point);
        }
        return out;
    }

    std::optional<std::string> maybe_text() { return chance(50) ? std::optional(text()) : std::nullopt; }

    quenmark::Bytes bytes()
    {
        quenmark::Bytes out(below(6));
        for (auto& byte : out)
            byte = integer<std::uint8_t>();
        return out;
    }

    std::optional<quenmark::Bytes> maybe_bytes() { return chance(50) ? std::optional(bytes()) : std::nullopt; }

    quenmark::Slug slug()
    {
        std::array<std::string_view, 4> const edges { "corvella", "a", "0-z",
                                                      "abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz01" };
        return *quenmark::Slug::parse(edges[below(edges.size())]);
    }

    quenmark::ContentHash content_hash()
    {
        quenmark::ContentHash hash;
        hash.algorithm = chance(50) ? quenmark::HashAlgorithm::Blake3 : quenmark::HashAlgorithm::Sha256;
        for (auto& byte : hash.digest)
            byte = static_cast<std::uint8_t>(m_random());
        return hash;
    }

    quenmark::Signature signature()
    {
        quenmark::Signature signature;
        for (auto& byte : signature.bytes)
            byte = integer<std::uint8_t>();
        return signature;
    }

    corvellactl::Store store()
    {
        corvellactl::Store store;
        for (auto count = below(3); count > 0; --count)
            store.assessments.push_back(assessment());
        for (auto count = below(3); count > 0; --count)
            store.assignments.push_back(assignment());
        for (auto count = below(3); count > 0; --count)
            store.attempts.push_back(attempt());
        for (auto count = below(3); count > 0; --count)
            store.completions.push_back(completion());
        for (auto count = below(3); count > 0; --count)
            store.certificates.push_back(certificate());
        return store;
    }

    std::vector<quenmark::SignedAuditEvent> chain()
    {
        std::vector<quenmark::SignedAuditEvent> entries(below(4));
        for (auto& entry : entries) {
            entry.event = event();
            entry.sequence = integer<std::uint64_t>();
            entry.signature = signature();
        }
        return entries;
    }

private:
    // Any Unicode scalar value: no surrogates.
    char32_t scalar()
    {
        for (;;) {
            auto const value = static_cast<char32_t>(below(0x110000));
            if (value < 0xd800 || value > 0xdfff)
                return value;
        }
    }

    static void append_utf8(std::string& out, char32_t code_point)
    {
        auto const put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
        auto const value = static_cast<std::uint32_t>(code_point);
        if (value < 0x80) {
            put(value);
        } else if (value < 0x800) {
            put(0xc0 | (value >> 6U));
            put(0x80 | (value & 0x3fU));
        } else if (value < 0x10000) {
            put(0xe0 | (value >> 12U));
            put(0x80 | ((value >> 6U) & 0x3fU));
            put(0x80 | (value & 0x3fU));
        } else {
            put(0xf0 | (value >> 18U));
            put(0x80 | ((value >> 12U) & 0x3fU));
            put(0x80 | ((value >> 6U) & 0x3fU));
            put(0x80 | (value & 0x3fU));
        }
    }

    corvella::AssessmentDefinition assessment()
    {
        corvella::AssessmentDefinition definition;
        definition.id = id<corvella::AssessmentId>();
        definition.course_id = id<corvella::CourseId>();
        definition.title = text();
        definition.version = integer<std::uint32_t>();
        definition.status = pick<corvella::AssessmentStatus>(3);
        definition.passing_rule = { integer<std::uint32_t>(), integer<std::uint32_t>() };
        for (auto count = below(3); count > 0; --count) {
            corvella::Question question { id<corvella::QuestionId>(), text(), {}, integer<std::uint64_t>() };
            for (auto choices = below(4); choices > 0; --choices)
                question.choices.push_back(text());
            definition.questions.push_back(std::move(question));
        }
        definition.attempt_limit = integer<std::uint32_t>();
        return definition;
    }

    corvella::TrainingAssignment assignment()
    {
        return { id<corvella::AssignmentId>(), id<corvella::TenantId>(), id<corvella::WorkspaceId>(),
                 id<corvella::IdentityId>(), id<corvella::CourseId>(), id<corvella::AssessmentId>(),
                 pick<corvella::AssignmentReason>(4), maybe_instant(), pick<corvella::AssignmentStatus>(4),
                 instant(), instant(), maybe_instant() };
    }

    corvella::KnowledgeCheckAttempt attempt()
    {
        return { id<corvella::AttemptId>(), id<corvella::TenantId>(), id<corvella::WorkspaceId>(),
                 id<corvella::IdentityId>(), id<corvella::AssessmentId>(), integer<std::uint32_t>(),
                 chance(50) ? std::optional(id<corvella::AssignmentId>()) : std::nullopt, integer<std::uint32_t>(),
                 pick<corvella::AttemptStatus>(2), pick<corvella::ScoreBand>(3), pick<corvella::SafeFeedback>(3),
                 instant(), instant() };
    }

    corvella::CompletionRecord completion()
    {
        return { id<corvella::CompletionRecordId>(), id<corvella::TenantId>(), id<corvella::WorkspaceId>(),
                 id<corvella::IdentityId>(), chance(50) ? std::optional(id<corvella::AssignmentId>()) : std::nullopt,
                 id<corvella::AssessmentId>(), integer<std::uint32_t>(), id<corvella::AttemptId>(),
                 pick<corvella::ScoreBand>(3), instant(), maybe_instant(), maybe_text() };
    }

    corvella::Certificate certificate()
    {
        corvella::CertificatePayload payload { id<corvella::CertificationId>(), id<corvella::TenantId>(),
                                               id<corvella::WorkspaceId>(), id<corvella::IdentityId>(),
                                               id<corvella::CourseId>(), id<corvella::AssessmentId>(),
                                               integer<std::uint32_t>(), id<corvella::CompletionRecordId>(),
                                               pick<corvella::ScoreBand>(3), instant(), instant() };
        return { payload, signature() };
    }

    quenmark::AuditEvent event()
    {
        quenmark::AuditEvent event;
        event.event_id = uuid();
        event.tenant_id = chance(50) ? std::optional(uuid()) : std::nullopt;
        event.workspace_id = chance(50) ? std::optional(uuid()) : std::nullopt;
        event.product_id = slug();
        event.source_node_id = chance(50) ? std::optional(uuid()) : std::nullopt;
        event.actor = { pick<quenmark::ActorType>(8), maybe_text(), maybe_bytes() };
        event.target = { text(), maybe_text() };
        event.action = text();
        event.result = pick<quenmark::AuditResult>(7);
        event.severity = pick<quenmark::Severity>(5);
        event.category = pick<quenmark::AuditCategory>(15);
        event.occurred_at = instant();
        event.received_at = maybe_instant();
        event.correlation_id = maybe_text();
        event.metadata_encrypted = maybe_bytes();
        event.retention_class = pick<quenmark::RetentionClass>(8);
        for (auto count = below(3); count > 0; --count) {
            event.redaction_markers.push_back({ text(), pick<quenmark::RedactionReason>(8),
                                                chance(50) ? std::optional(uuid()) : std::nullopt, maybe_instant(),
                                                chance(50) ? std::optional(uuid()) : std::nullopt });
        }
        event.previous_event_hash = chance(70) ? std::optional(content_hash()) : std::nullopt;
        return event;
    }

    std::mt19937_64 m_random;
};

quenmark::Expected<corvellactl::Store, std::string> read_state(std::string text)
{
    std::size_t const size = text.size();
    text.append(quenmark::json::read_padding, '\0');
    return corvellactl::parse_store(text.data(), size);
}

std::string written(corvellactl::Store const& store)
{
    std::string text;
    corvellactl::write_store(store, text);
    return text;
}

std::string written(std::vector<quenmark::SignedAuditEvent> const& entries)
{
    std::string text;
    test_support::write_chain(entries, text);
    return text;
}

// Reads the text, writes what it read, and reads that again: both reads give
// the same records, and writing them again gives the same bytes.
void expect_state_round_trip(std::string const& text)
{
    auto const first = read_state(text);
    ASSERT_TRUE(first.has_value()) << first.error() << "\n" << text;
    std::string const once = written(*first);
    auto const second = read_state(once);
    ASSERT_TRUE(second.has_value()) << second.error() << "\n" << once;
    EXPECT_TRUE(*second == *first) << once;
    EXPECT_EQ(written(*second), once);
}

void expect_chain_round_trip(std::string const& text)
{
    auto const first = quenmark::parse_chain(text);
    ASSERT_TRUE(first.has_value()) << first.error() << "\n" << text;
    std::string const once = written(*first);
    auto const second = quenmark::parse_chain(once);
    ASSERT_TRUE(second.has_value()) << second.error() << "\n" << once;
    EXPECT_TRUE(*second == *first) << once;
    EXPECT_EQ(written(*second), once);
}

TEST(RoundTrip, GeneratedStatesAndChainsReadBackAsWritten)
{
    constexpr std::uint64_t cases = 400;
    for (std::uint64_t seed = 0; seed < cases; ++seed) {
        SCOPED_TRACE(seed);
        Generator generate(seed);
        auto const store = generate.store();
        auto const state_text = written(store);
        auto const state = read_state(state_text);
        ASSERT_TRUE(state.has_value()) << state.error() << "\n" << state_text;
        EXPECT_TRUE(*state == store) << state_text;
        expect_state_round_trip(state_text);

        auto const chain = generate.chain();
        auto const chain_text = written(chain);
        auto const read = quenmark::parse_chain(chain_text);
        ASSERT_TRUE(read.has_value()) << read.error() << "\n" << chain_text;
        EXPECT_TRUE(*read == chain) << chain_text;
        expect_chain_round_trip(chain_text);
    }
}

// Every spelling the readers accept besides the written one: other UUID
// shapes and cases, instants with offsets, fractions and other separators,
// escapes, null for an absent optional or the member left out, members in
// another order, unknown members, hex in capitals or with plus signs.
TEST(RoundTrip, OddSpellingsReadBackAsTheSameRecords)
{
    std::string const upper_signature = "+A" + std::string(126, 'F');
    std::string const signature = std::string(126, '0') + "+f";
    std::vector<std::string> const states {
        "{}",
        R"({"extra":{"nested":[1,2.5,null,"\u0000"]},"assessments":[{"attempt_limit":4294967295,"questions":[)"
        R"({"choices":[],"correct_index":18446744073709551615,"prompt":"\t\u00E9\ud83d\ude00\/\"","id":)"
        R"("{33333333-3333-4333-8333-333333333333}"}],"passing_rule":{"minimum_correct":{"total_questions":0,)"
        R"("min_correct":4294967295}},"status":"retired","version":-0,"title":"e\u0301","course_id":)"
        R"("urn:uuid:22222222-2222-4222-8222-222222222222","id":"AAAAAAAAAAAA4AAA8AAAAAAAAAAAAAAA"}]})",
        R"({"assignments":[{"id":"urn:uuid:5a5a5a5a-5a5a-4a5a-8a5a-5a5a5a5a5a5a","tenant_id":)"
        R"("7E7E7E7E-7E7E-4E7E-8E7E-7E7E7E7E7E7E","workspace_id":"57575757-5757-4757-8757-575757575757",)"
        R"("principal_id":"9a9a9a9a-9a9a-4a9a-8a9a-9a9a9a9a9a9a","course_id":"cccccccc-cccc-4ccc-8ccc-cccccccccccc",)"
        R"("assessment_id":"aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa","assignment_reason":"security_remediation",)"
        R"("status":"cancelled","created_at":"0000-01-01T01:00:00+01:00","updated_at":"9999-12-31 23:59:59.999z",)"
        R"("completed_at":null}],"attempts":[{"id":"a7a7a7a7-a7a7-4a7a-8a7a-a7a7a7a7a7a7","tenant_id":)"
        R"("7e7e7e7e-7e7e-4e7e-8e7e-7e7e7e7e7e7e","workspace_id":"57575757-5757-4757-8757-575757575757",)"
        R"("principal_id":"9a9a9a9a-9a9a-4a9a-8a9a-9a9a9a9a9a9a","assessment_id":)"
        R"("aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa","assessment_version":0,"attempt_number":4294967295,)"
        R"("status":"failed","score_band":"distinction","safe_feedback":"attempt_limit_reached",)"
        R"("started_at":"2024-05-01T12:30:45.5-23:59","completed_at":"1969-12-31T23:59:59Z"}],)"
        R"("completions":[{"id":"c0c0c0c0-c0c0-4c0c-8c0c-c0c0c0c0c0c0","tenant_id":)"
        R"("7e7e7e7e-7e7e-4e7e-8e7e-7e7e7e7e7e7e","workspace_id":"57575757-5757-4757-8757-575757575757",)"
        R"("principal_id":"9a9a9a9a-9a9a-4a9a-8a9a-9a9a9a9a9a9a","assignment_id":null,"assessment_id":)"
        R"("aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa","assessment_version":7,"attempt_id":)"
        R"("a7a7a7a7-a7a7-4a7a-8a7a-a7a7a7a7a7a7","score_band":"fail","completed_at":"2000-02-29T00:00:00Z"}],)"
        R"("certificates":[{"signature":")"
            + upper_signature
            + R"(","payload":{"certificate_id":"c1c1c1c1-c1c1-4c1c-8c1c-c1c1c1c1c1c1","tenant_id":)"
              R"("7e7e7e7e-7e7e-4e7e-8e7e-7e7e7e7e7e7e","workspace_id":"57575757-5757-4757-8757-575757575757",)"
              R"("principal_id":"9a9a9a9a-9a9a-4a9a-8a9a-9a9a9a9a9a9a","course_id":)"
              R"("cccccccc-cccc-4ccc-8ccc-cccccccccccc","assessment_id":"aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa",)"
              R"("assessment_version":1,"completion_record_id":"c0c0c0c0-c0c0-4c0c-8c0c-c0c0c0c0c0c0",)"
              R"("score_band":"pass","issued_at":"2026-01-01T00:00:00+00:00","expires_at":"2027-01-01T00:00:00-00:00",)"
              R"("note":"dropped"}}]})",
    };
    for (auto const& state : states) {
        SCOPED_TRACE(state);
        expect_state_round_trip(state);
    }

    std::string const hash_digest = "+A" + std::string(62, 'b');
    std::vector<std::string> const chains {
        "[]",
        R"([{"sequence":18446744073709551615,"signature":")" + signature
            + R"(","extra":1,"event":{"retention_class":"legal_hold","occurred_at":"0000-01-01T00:00:00Z",)"
              R"("category":"privacy","severity":"critical","result":"partial","action":"",)"
              R"("target":{"target_type":"\u2028","target_id":null},"actor":{"actor_type":"federation_peer",)"
              R"("actor_id":"\"\\","display_name_encrypted":[0,255]},"product_id":"a","event_id":)"
              R"("{00000000-0000-0000-0000-000000000000}","tenant_id":null,"received_at":"2024-05-01T12:30:45+02:00",)"
              R"("metadata_encrypted":[],"redaction_markers":[{"field_path":"x","reason":"oversized",)"
              R"("applied_at":"9999-12-31T23:59:59Z","redaction_policy_id":null,"unknown":[{}]}],)"
              R"("previous_event_hash":"sha256:)"
            + hash_digest + R"("}},{"sequence":0,"signature":")" + upper_signature
            + R"(","event":{"event_id":"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF","product_id":"corvella","actor":)"
              R"({"actor_type":"unknown"},"target":{"target_type":"t"},"action":"a","result":"unknown",)"
              R"("severity":"info","category":"system","occurred_at":"1970-01-01T00:00:00.000000001Z",)"
              R"("retention_class":"debug","redaction_markers":[],"correlation_id":"\ud800\udc00"}}])",
    };
    for (auto const& chain : chains) {
        SCOPED_TRACE(chain);
        expect_chain_round_trip(chain);
    }
}

// The one value the readers accepted but the writers could not give back:
// an instant that an offset moves before year 0, which the text form writes
// as Unix seconds. Every timestamp member refuses it on reading, with the
// value and its position.
TEST(RoundTrip, InstantsBeforeYearZeroAreRefusedInEveryTimestampMember)
{
    // One record of each kind, each instant distinct so its text names one member.
    corvellactl::Store store;
    std::int64_t second = 1'700'000'000;
    auto const next = [&second] { return Timestamp::from_unix_seconds(second++); };
    corvella::TrainingAssignment assignment;
    assignment.due_at = next();
    assignment.created_at = next();
    assignment.updated_at = next();
    assignment.completed_at = next();
    store.assignments.push_back(assignment);
    corvella::KnowledgeCheckAttempt attempt;
    attempt.started_at = next();
    attempt.completed_at = next();
    store.attempts.push_back(attempt);
    corvella::CompletionRecord completion;
    completion.completed_at = next();
    completion.expires_at = next();
    store.completions.push_back(completion);
    corvella::Certificate certificate;
    certificate.payload.issued_at = next();
    certificate.payload.expires_at = next();
    store.certificates.push_back(certificate);
    std::vector<quenmark::SignedAuditEvent> chain(1);
    chain[0].event.product_id = corvella::product_id();
    chain[0].event.occurred_at = next();
    chain[0].event.received_at = next();
    chain[0].event.redaction_markers.push_back({ "field", quenmark::RedactionReason::Secret, std::nullopt, next(),
                                                 std::nullopt });

    std::string const state_text = written(store);
    std::string const chain_text = written(chain);
    std::string const bad = "0000-01-01T00:30:00+01:00";
    std::string const message = "validation failed: invalid RFC 3339 timestamp \"" + bad
        + "\": the instant converted to UTC lies before 0000-01-01T00:00:00Z at line ";
    for (std::int64_t member = 1'700'000'000; member < second; ++member) {
        std::string const instant = '"' + Timestamp::from_unix_seconds(member).to_text() + '"';
        bool const in_state = state_text.find(instant) != std::string::npos;
        std::string text = in_state ? state_text : chain_text;
        auto const position = text.find(instant);
        ASSERT_NE(position, std::string::npos) << instant;
        text.replace(position, instant.size(), '"' + bad + '"');
        SCOPED_TRACE(text.substr(text.rfind('\n', position) + 1, 60));
        std::string const error = in_state ? test_support::error_text(read_state(text))
                                           : test_support::error_text(quenmark::parse_chain(text));
        EXPECT_EQ(error.substr(0, message.size()), message);
        // The position is that of the refused value.
        auto const line = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(position), '\n') + 1;
        EXPECT_EQ(error.substr(message.size(), error.find(' ', message.size()) - message.size()),
                  std::to_string(line));
    }
}

} // namespace
