#include "quenmark/integrity/audit_chain.h"

#include "quenmark/json/read.h"

#include "chain_text.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using test_support::write_chain;

// The product of this system's events.
Slug product() { return *Slug::parse("corvella"); }

SigningKey key_from_byte(std::uint8_t fill)
{
    std::array<std::uint8_t, seed_size> seed {};
    seed.fill(fill);
    return SigningKey::from_seed(seed);
}

SigningKey test_key() { return key_from_byte(7); }

// A fixed event, so its canonical bytes can be written out by hand below.
AuditEvent fixed_event(std::string action)
{
    AuditEvent event;
    event.event_id = *Uuid::parse("8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01");
    event.product_id = product();
    event.actor = Actor { ActorType::System, std::nullopt, std::nullopt };
    event.target = Target { "certificate", std::nullopt };
    event.action = std::move(action);
    event.result = AuditResult::Denied;
    event.severity = Severity::Notice;
    event.category = AuditCategory::Security;
    event.occurred_at = *Timestamp::parse("2026-12-08T04:00:09Z");
    event.retention_class = RetentionClass::Security;
    return event;
}

constexpr std::string_view fixed_event_canonical
    = R"({"action":"training.certificate.verification_failed","actor":{"actor_type":"system"},)"
      R"("category":"security","event_id":"8f0c1f2e-5a47-4c1b-9a53-3f6a2b7d9e01",)"
      R"("occurred_at":"2026-12-08T04:00:09Z","product_id":"corvella","result":"denied",)"
      R"("retention_class":"security","severity":"notice","target":{"target_type":"certificate"}})";

SignedAuditEvent append(std::vector<SignedAuditEvent>& chain, SigningKey const& key, AuditEvent event)
{
    auto const head = derive_head(chain);
    EXPECT_TRUE(test_support::has_value(head));
    auto entry = link_event(*head, key, std::move(event));
    EXPECT_TRUE(test_support::has_value(entry));
    chain.push_back(*entry);
    return *entry;
}

AuditEvent numbered_event(std::size_t index)
{
    return build_audit_event(product(), Actor { ActorType::User, "operator", std::nullopt },
        Target { "training_assignment", std::to_string(index) }, "training.assignment.created",
        AuditResult::Success, AuditCategory::Policy, *Timestamp::parse("2026-12-08T04:00:09Z"));
}

std::vector<SignedAuditEvent> chain_of(std::size_t count, SigningKey const& key)
{
    std::vector<SignedAuditEvent> chain;
    for (std::size_t index = 0; index < count; ++index)
        append(chain, key, numbered_event(index));
    return chain;
}

// Many events linked at once, their signatures made on several threads, are
// the entries linked one by one, after an empty chain or a longer one.
TEST(AuditChain, LinkingManyAtOnceMakesTheEntriesOfLinkingOneByOne)
{
    SigningKey const key = test_key();
    std::vector<AuditEvent> events;
    std::vector<SignedAuditEvent> whole;
    for (std::size_t index = 0; index < 403; ++index) {
        events.push_back(numbered_event(index));
        append(whole, key, events.back());
    }
    for (std::size_t const before : { std::size_t { 0 }, std::size_t { 3 } }) {
        for (std::size_t const count : { std::size_t { 0 }, std::size_t { 1 }, std::size_t { 400 } }) {
            SCOPED_TRACE(testing::Message() << before << " then " << count);
            auto const first = static_cast<std::ptrdiff_t>(before);
            auto const end = static_cast<std::ptrdiff_t>(before + count);
            auto const head = derive_head(std::span(whole).first(before));
            ASSERT_TRUE(test_support::has_value(head));
            auto const linked
                = link_events(*head, key, std::vector<AuditEvent>(events.begin() + first, events.begin() + end));
            ASSERT_TRUE(test_support::has_value(linked));
            EXPECT_TRUE(*linked == std::vector<SignedAuditEvent>(whole.begin() + first, whole.begin() + end));
        }
    }
}

TEST(AuditChain, FirstEntryHasSequenceOneNoLinkAndSignsTheCanonicalBytes)
{
    SigningKey const key = test_key();
    auto const head = derive_head({});
    ASSERT_TRUE(test_support::has_value(head));
    EXPECT_EQ(*head, ChainHead {});

    std::vector<SignedAuditEvent> chain;
    SignedAuditEvent const entry = append(chain, key, fixed_event("training.certificate.verification_failed"));
    EXPECT_EQ(entry.sequence, 1U);
    EXPECT_FALSE(entry.event.previous_event_hash.has_value());
    EXPECT_TRUE(verify_bytes(key.verifying_key(), fixed_event_canonical, entry.signature));
    EXPECT_TRUE(test_support::has_value(verify_chain(chain, key.verifying_key())));
}

// The entry as a leaf of the log's Merkle tree, read back.
TEST(AuditChain, LeafIsTheWholeEntryInCanonicalFormAndOpensBack)
{
    SigningKey const key = test_key();
    std::vector<SignedAuditEvent> chain;
    SignedAuditEvent const entry = append(chain, key, fixed_event("training.certificate.verification_failed"));
    std::string leaf;
    append_leaf_bytes(entry, leaf);
    EXPECT_EQ(leaf, R"({"event":)" + std::string(fixed_event_canonical) + R"(,"sequence":1,"signature":")"
                        + entry.signature.to_text() + R"("})");
    auto const opened = open_leaf(leaf, key.verifying_key());
    ASSERT_TRUE(test_support::has_value(opened));
    EXPECT_EQ(*opened, entry);

    // What reading a leaf refuses is held by the end-to-end proof tests.
    EXPECT_EQ(test_support::error_text(open_leaf(leaf, key_from_byte(8).verifying_key())),
              "its entry's signature does not verify");
}

TEST(AuditChain, SecondEntryLinksToTheHashOfTheFirstEventsCanonicalBytes)
{
    SigningKey const key = test_key();
    std::vector<SignedAuditEvent> chain;
    append(chain, key, fixed_event("training.certificate.verification_failed"));
    SignedAuditEvent const second = append(chain, key, fixed_event("training.certificate.issued"));

    EXPECT_EQ(second.sequence, 2U);
    EXPECT_EQ(second.event.previous_event_hash, ContentHash::of_bytes(fixed_event_canonical));
    EXPECT_TRUE(test_support::has_value(verify_chain(chain, key.verifying_key())));

    auto const head = derive_head(chain);
    ASSERT_TRUE(test_support::has_value(head));
    EXPECT_EQ(head->last_sequence, 2U);
    EXPECT_EQ(head->last_hash, event_content_hash(second.event).value());
}

TEST(AuditChain, SequenceContinuesFromTheLastEntryAndSaturates)
{
    SigningKey const key = test_key();
    ContentHash const some_hash = ContentHash::of_bytes(std::string_view("x"));
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    struct Row {
        std::uint64_t last;
        std::uint64_t next;
    };
    for (Row const row : { Row { 7, 8 }, Row { max - 1, max }, Row { max, max } }) {
        auto const entry = link_event(ChainHead { row.last, some_hash }, key, fixed_event("a.b"));
        ASSERT_TRUE(test_support::has_value(entry));
        EXPECT_EQ(entry->sequence, row.next);
        EXPECT_EQ(entry->event.previous_event_hash, some_hash);
    }
}

TEST(AuditChain, VerificationReportsTheFirstBreak)
{
    using Chain = std::vector<SignedAuditEvent>;
    struct Row {
        std::string_view name;
        std::function<void(Chain&)> tamper;
        std::string_view expected;
    };
    constexpr std::string_view bad_signature = "signature verification failed";
    Row const rows[] = {
        { "untouched", [](Chain&) {}, "<value>" },
        { "edited action", [](Chain& chain) { chain[1].event.action = "training.assignment.deleted"; },
            bad_signature },
        { "edited first event", [](Chain& chain) { chain[0].event.actor.actor_id = "intruder"; }, bad_signature },
        { "flipped signature byte", [](Chain& chain) { chain[2].signature.bytes[0] ^= 1U; }, bad_signature },
        { "middle deleted", [](Chain& chain) { chain.erase(chain.begin() + 1); },
            "validation failed: audit chain broken at sequence 3: previous-hash link does not match the preceding "
            "event" },
        { "last two swapped", [](Chain& chain) { std::swap(chain[1], chain[2]); },
            "validation failed: audit chain broken at sequence 3: previous-hash link does not match the preceding "
            "event" },
        { "first deleted", [](Chain& chain) { chain.erase(chain.begin()); },
            "validation failed: audit chain broken at sequence 2: previous-hash link does not match the preceding "
            "event" },
        { "second renumbered", [](Chain& chain) { chain[1].sequence = 5; },
            "validation failed: audit chain sequence gap: expected 2, found 5" },
        { "first renumbered", [](Chain& chain) { chain[0].sequence = 10; },
            "validation failed: audit chain sequence gap: expected 11, found 2" },
        { "signature checked before sequence",
            [](Chain& chain) {
                chain[1].sequence = 9;
                chain[1].event.action = "x";
            },
            bad_signature },
        { "link checked before sequence",
            [](Chain& chain) {
                chain.erase(chain.begin() + 1);
                chain[1].sequence = 9;
            },
            "validation failed: audit chain broken at sequence 9: previous-hash link does not match the preceding "
            "event" },
        { "tail removed", [](Chain& chain) { chain.pop_back(); }, "<value>" },
        { "only the first left", [](Chain& chain) { chain.resize(1); }, "<value>" },
        { "emptied", [](Chain& chain) { chain.clear(); }, "<value>" },
    };
    SigningKey const key = test_key();
    Chain const original = chain_of(3, key);
    for (Row const& row : rows) {
        Chain chain = original;
        row.tamper(chain);
        EXPECT_EQ(test_support::error_text(verify_chain(chain, key.verifying_key())), row.expected) << row.name;
    }
}

TEST(AuditChain, DifferentKeyFailsAtTheFirstEntry)
{
    auto const chain = chain_of(2, test_key());
    EXPECT_EQ(test_support::error_text(verify_chain(chain, key_from_byte(8).verifying_key())),
        "signature verification failed");
}

TEST(AuditChain, TruncatedChainContinuesFromItsNewLastEntry)
{
    SigningKey const key = test_key();
    auto chain = chain_of(3, key);
    chain.pop_back();
    SignedAuditEvent const next = append(chain, key, fixed_event("a.b"));
    EXPECT_EQ(next.sequence, 3U);
    EXPECT_TRUE(test_support::has_value(verify_chain(chain, key.verifying_key())));
}

TEST(AuditChain, BreaksDeepInALongChainAreFoundInOrder)
{
    SigningKey const key = test_key();
    auto const original = chain_of(600, key);
    EXPECT_TRUE(test_support::has_value(verify_chain(original, key.verifying_key())));

    auto renumbered = original;
    renumbered[300].sequence = 1000;
    renumbered[500].event.action = "x";
    EXPECT_EQ(test_support::error_text(verify_chain(renumbered, key.verifying_key())),
        "validation failed: audit chain sequence gap: expected 301, found 1000");

    auto edited = original;
    edited[256].event.action = "x";
    edited[400].sequence = 1;
    EXPECT_EQ(test_support::error_text(verify_chain(edited, key.verifying_key())), "signature verification failed");
}

// The text followed by the JSON reader's padding.
std::string padded(std::string_view text) { return std::string(text) + std::string(json::read_padding, ' '); }

// Reads and verifies the chain file's text from a padded buffer.
Expected<ChainCheck, std::string> read_and_verify(std::string_view text, VerifyingKey const& key,
                                                  ChainQuery const& query = {})
{
    std::string const buffer = padded(text);
    return read_and_verify_padded_chain(buffer.data(), text.size(), key, query);
}

// Verifies the chain both as entries and as the chain file's text, which must
// agree, and returns the error text ("<value>" when it verifies).
std::string verified_both_ways(std::vector<SignedAuditEvent> const& chain, VerifyingKey const& key)
{
    std::string const from_entries = test_support::error_text(verify_chain(chain, key));
    std::string text;
    write_chain(chain, text);
    auto const check = read_and_verify(text, key);
    EXPECT_TRUE(test_support::has_value(check));
    if (!check)
        return "<unreadable>";
    EXPECT_EQ(check->entries, chain.size());
    EXPECT_EQ(test_support::error_text(check->verified), from_entries);
    return from_entries;
}

// Long enough that the signatures are checked on several threads and the file
// is read while they run, with a last block that is not full.
TEST(AuditChain, LongChainsBrokenInSeveralPlacesReportTheFirstBreak)
{
    using Chain = std::vector<SignedAuditEvent>;
    struct Row {
        std::string_view name;
        std::function<void(Chain&)> tamper;
        std::string_view expected;
    };
    constexpr std::string_view bad_signature = "signature verification failed";
    Row const rows[] = {
        { "untouched", [](Chain&) {}, "<value>" },
        { "signature early, gap and signature late",
            [](Chain& chain) {
                chain[70].signature.bytes[5] ^= 1U;
                chain[700].sequence = 5;
                chain[990].event.action = "x";
            },
            bad_signature },
        { "gap before signatures in later blocks",
            [](Chain& chain) {
                chain[300].sequence = 1000;
                chain[301].signature.bytes[0] ^= 1U;
                chain[999].event.action = "x";
            },
            "validation failed: audit chain sequence gap: expected 301, found 1000" },
        { "link before a signature",
            [](Chain& chain) {
                chain.erase(chain.begin() + 500);
                chain[800].event.action = "x";
            },
            "validation failed: audit chain broken at sequence 502: previous-hash link does not match the preceding "
            "event" },
        { "signature in the block before a link",
            [](Chain& chain) {
                chain[447].event.target.target_id = "intruder";
                chain.erase(chain.begin() + 449);
            },
            bad_signature },
        { "only the last entry",
            [](Chain& chain) { chain.back().sequence = 1; },
            "validation failed: audit chain sequence gap: expected 1000, found 1" },
        { "first entry renumbered",
            [](Chain& chain) { chain.front().sequence = 41; },
            "validation failed: audit chain sequence gap: expected 42, found 2" },
        { "tail removed", [](Chain& chain) { chain.resize(777); }, "<value>" },
        { "swapped across blocks",
            [](Chain& chain) { std::swap(chain[127], chain[128]); },
            "validation failed: audit chain broken at sequence 129: previous-hash link does not match the preceding "
            "event" },
    };
    SigningKey const key = test_key();
    Chain const original = chain_of(1000, key);
    for (Row const& row : rows) {
        Chain chain = original;
        row.tamper(chain);
        EXPECT_EQ(verified_both_ways(chain, key.verifying_key()), row.expected) << row.name;
    }
    EXPECT_EQ(verified_both_ways(original, key_from_byte(8).verifying_key()), bad_signature);
}

// Chains around the sizes where checking moves to several threads.
TEST(AuditChain, ChainsOfEveryBlockShapeVerify)
{
    using Chain = std::vector<SignedAuditEvent>;
    SigningKey const key = test_key();
    Chain const original = chain_of(260, key);
    for (std::size_t const size : { 0U, 1U, 2U, 63U, 64U, 65U, 128U, 129U, 130U, 192U, 259U, 260U }) {
        Chain chain(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(verified_both_ways(chain, key.verifying_key()), "<value>") << size;
        if (size < 2)
            continue;
        chain.back().signature.bytes[63] ^= 1U;
        EXPECT_EQ(verified_both_ways(chain, key.verifying_key()), "signature verification failed") << size;
    }
}

// Long chain files are read into a few entries used over and over; members
// that one entry has and the next lacks must not carry over, or the next
// entry's canonical bytes, and so its signature and link, would change.
TEST(AuditChain, OptionalMembersDoNotCarryOverBetweenEntriesOfALongChain)
{
    SigningKey const key = test_key();
    std::vector<SignedAuditEvent> chain;
    for (std::size_t index = 0; index < 1500; ++index) {
        AuditEvent event = build_audit_event(product(), Actor { ActorType::User, std::nullopt, std::nullopt },
            Target { "training_assignment", std::nullopt }, "training.assignment.created", AuditResult::Success,
            AuditCategory::Policy, *Timestamp::parse("2026-12-08T04:00:09Z"));
        // Every member that may be absent is present in some entries only,
        // on a rhythm that is not a multiple of any block size.
        if (index % 3 == 0)
            event.actor.actor_id = "operator with a name longer than a short string " + std::to_string(index);
        if (index % 5 == 1)
            event.target.target_id = std::to_string(index);
        if (index % 7 == 2)
            event.correlation_id = "correlation " + std::to_string(index);
        if (index % 11 == 3)
            event.received_at = *Timestamp::parse("2026-12-08T04:00:10Z");
        if (index % 13 == 4)
            event.redaction_markers.push_back(RedactionMarker { "actor.actor_id", RedactionReason::PersonalData,
                std::nullopt, std::nullopt, std::nullopt });
        if (index % 17 == 5)
            event.tenant_id = Uuid::mint();
        if (index % 19 == 6)
            event.metadata_encrypted = Bytes { 1, 2, 3 };
        append(chain, key, std::move(event));
    }
    EXPECT_EQ(verified_both_ways(chain, key.verifying_key()), "<value>");
    chain[1234].event.action = "x";
    EXPECT_EQ(verified_both_ways(chain, key.verifying_key()), "signature verification failed");
}

// What a checkpoint takes from a reading: the last entry and the entry at a
// chosen position, each with its sequence and the hash the next entry links
// to; both on the short path and on the long one that reads while it checks.
TEST(AuditChainFile, MarksTheLastAndTheChosenEntryOfAVerifiedChain)
{
    SigningKey const key = test_key();
    auto const long_chain = chain_of(1000, key);
    auto const mark_of = [](SignedAuditEvent const& entry) {
        return EntryMark { entry.sequence, *event_content_hash(entry.event) };
    };
    for (std::size_t const size : { 0U, 1U, 3U, 1000U }) {
        std::vector<SignedAuditEvent> const chain(long_chain.begin(), long_chain.begin() + static_cast<std::ptrdiff_t>(size));
        std::string text;
        write_chain(chain, text);
        for (std::size_t const position : { 0U, 1U, 63U, 64U, 998U, 999U, 1000U }) {
            SCOPED_TRACE(std::to_string(size) + " entries, position " + std::to_string(position));
            auto const check = read_and_verify(text, key.verifying_key(), { .marked_position = position });
            ASSERT_TRUE(test_support::has_value(check));
            ASSERT_TRUE(test_support::has_value(check->verified));
            EXPECT_EQ(check->last, size == 0 ? std::nullopt : std::optional(mark_of(chain.back())));
            EXPECT_EQ(check->marked, position < size ? std::optional(mark_of(chain[position])) : std::nullopt);
        }
        auto const unmarked = read_and_verify(text, key.verifying_key());
        ASSERT_TRUE(test_support::has_value(unmarked));
        EXPECT_EQ(unmarked->marked, std::nullopt);
    }
    // A chain that does not verify vouches for no entry.
    auto broken = long_chain;
    broken[500].event.action = "x";
    std::string text;
    write_chain(broken, text);
    auto const check = read_and_verify(text, key.verifying_key(), { .marked_position = 10 });
    ASSERT_TRUE(test_support::has_value(check));
    EXPECT_FALSE(check->verified);
    EXPECT_EQ(check->last, std::nullopt);
    EXPECT_EQ(check->marked, std::nullopt);
}

TEST(AuditChainFile, ReadingFaultsWinOverEarlierBreaks)
{
    SigningKey const key = test_key();
    auto chain = chain_of(400, key);
    chain[3].event.action = "x";
    std::string text;
    write_chain(chain, text);
    std::string const bad_tail = text.substr(0, text.size() - 1) + "}";
    std::string const bad_late_entry = text.substr(0, text.rfind("\"user\"")) + "\"robot\""
        + text.substr(text.rfind("\"user\"") + 6);
    std::string const bad_first_entry = text.substr(0, text.find("\"sequence\": 1")) + "\"sequence\": -1"
        + text.substr(text.find("\"sequence\": 1") + 13);
    for (std::string const& input : { bad_tail, bad_late_entry, bad_first_entry }) {
        auto const parsed = parse_chain(input);
        ASSERT_FALSE(parsed.has_value());
        auto const check = read_and_verify(input, key.verifying_key());
        ASSERT_FALSE(check.has_value());
        EXPECT_EQ(check.error(), parsed.error());
    }
}

TEST(AuditChainFile, WritesThePrettyArrayAndReadsItBack)
{
    SigningKey const key = test_key();
    auto const chain = chain_of(2, key);
    std::string text;
    write_chain(chain, text);
    EXPECT_THAT(text, StartsWith("[\n  {\n    \"event\": {\n      \"event_id\": \"" + chain[0].event.event_id.to_string()
                          + "\",\n      \"product_id\": \"corvella\",\n"));
    EXPECT_THAT(text, HasSubstr("\n    },\n    \"sequence\": 1,\n    \"signature\": \"" + chain[0].signature.to_text()
                          + "\"\n  },\n  {\n"));
    EXPECT_THAT(text, EndsWith("\n    },\n    \"sequence\": 2,\n    \"signature\": \"" + chain[1].signature.to_text()
                          + "\"\n  }\n]"));

    auto const parsed = parse_chain(text);
    ASSERT_TRUE(test_support::has_value(parsed));
    EXPECT_EQ(*parsed, chain);
}

TEST(AuditChainFile, UnknownMembersAreDroppedAndTakeNoPartInVerification)
{
    SigningKey const key = test_key();
    auto const chain = chain_of(2, key);
    std::string text;
    write_chain(chain, text);
    std::string with_extra = text;
    with_extra.replace(with_extra.find("\"action\""), 0, "\"note\": \"added by hand\", ");
    with_extra.replace(with_extra.find("\"sequence\": 2"), 0, "\"mirror\": [1, {\"a\": null}], ");

    auto const parsed = parse_chain(with_extra);
    ASSERT_TRUE(test_support::has_value(parsed));
    EXPECT_TRUE(test_support::has_value(verify_chain(*parsed, key.verifying_key())));
    std::string rewritten;
    write_chain(*parsed, rewritten);
    EXPECT_EQ(rewritten, text);
}

TEST(AuditChainFile, RefusesDocumentsThatAreNotArraysOfSignedEvents)
{
    auto const empty = parse_chain("[]");
    ASSERT_TRUE(test_support::has_value(empty));
    EXPECT_TRUE(empty->empty());

    SigningKey const key = test_key();
    std::string text;
    write_chain(chain_of(1, key), text);
    std::string const robot = text.substr(0, text.find("\"user\"")) + "\"robot\"" + text.substr(text.find("\"user\"") + 6);
    std::string const long_signature = text.substr(0, text.rfind("\"\n  }")) + "0\"\n  }\n]";

    struct Row {
        std::string_view name;
        std::string input;
        std::string_view message_start;
    };
    Row const rows[] = {
        { "object root", "{}", "" },
        { "empty text", "", "" },
        { "unknown actor type", robot, "unknown variant `robot`" },
        { "long signature", long_signature, "validation failed: ed25519 signature must be 128 hex characters, got 129" },
        { "missing sequence", "[{\"event\": {}, \"signature\": \"\"}]", "" },
    };
    for (Row const& row : rows) {
        auto const parsed = parse_chain(row.input);
        ASSERT_FALSE(parsed.has_value()) << row.name;
        EXPECT_EQ(parsed.error().substr(0, row.message_start.size()), row.message_start) << row.name;
        EXPECT_NE(parsed.error().find(" at line "), std::string::npos) << row.name << ": " << parsed.error();
    }
}

// A reading that trusts the entries of a checkpoint checks only those after
// them, linked to the last of them; it reports the leaves and the entry of
// the event asked for; both on the short path and on the long one.
TEST(AuditChainFile, TrustsACheckpointsEntriesAndReportsLeavesAndTheEventAskedFor)
{
    SigningKey const key = test_key();
    for (std::size_t const length : { std::size_t { 5 }, std::size_t { 1000 } }) {
        SCOPED_TRACE(length);
        auto const chain = chain_of(length, key);
        std::vector<MerkleHash> leaves;
        for (SignedAuditEvent const& entry : chain) {
            std::string leaf;
            append_leaf_bytes(entry, leaf);
            leaves.push_back(leaf_hash(leaf));
        }
        std::size_t const wanted = length - 2;
        auto const read = [&](std::vector<SignedAuditEvent> const& entries, std::size_t trusted) {
            std::string text;
            write_chain(entries, text);
            return read_and_verify(text, key.verifying_key(),
                                   { .trusted = trusted, .leaves = length, .wanted_event = chain[wanted].event.event_id });
        };
        for (std::size_t const trusted : { std::size_t { 0 }, std::size_t { 1 }, length / 2, length }) {
            SCOPED_TRACE(trusted);
            auto const check = read(chain, trusted);
            ASSERT_TRUE(test_support::has_value(check));
            EXPECT_TRUE(test_support::has_value(check->verified));
            EXPECT_EQ(check->leaves, leaves);
            ASSERT_TRUE(check->found.has_value());
            EXPECT_EQ(check->found->position, wanted);
            EXPECT_EQ(check->found->entry, chain[wanted]);
            EXPECT_EQ(check->last, (EntryMark { chain.back().sequence, *event_content_hash(chain.back().event) }));
        }

        // A trusted entry is not checked, but its leaf shows what changed.
        auto forged = chain;
        forged[1].signature.bytes[0] ^= 0x01U;
        auto const trusting = read(forged, length / 2);
        ASSERT_TRUE(test_support::has_value(trusting));
        EXPECT_TRUE(test_support::has_value(trusting->verified));
        EXPECT_NE(trusting->leaves[1], leaves[1]);
        EXPECT_EQ(test_support::error_text(read(forged, 0)->verified), "signature verification failed");

        // The first entry after the trusted ones must link to the last of them.
        auto cut = chain;
        cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(length / 2));
        EXPECT_EQ(test_support::error_text(read(cut, length / 2)->verified),
                  "validation failed: audit chain broken at sequence " + std::to_string(cut[length / 2].sequence)
                      + ": previous-hash link does not match the preceding event");
    }
}

// The reader tells how far it has come, in order and within the text, and
// hearing about it changes nothing in the result; a short chain, read at
// once, is not worth a word.
TEST(AuditChainFile, ProgressOfALongChainComesInOrderAndChangesNothing)
{
    SigningKey const key = test_key();
    struct Heard {
        std::size_t entries;
        std::size_t offset;
    };
    for (std::size_t const length : { std::size_t { 3 }, std::size_t { 600 } }) {
        SCOPED_TRACE(length);
        std::string text;
        write_chain(chain_of(length, key), text);
        std::string const buffer = padded(text);
        std::vector<Heard> heard;
        auto const check = read_and_verify_padded_chain(buffer.data(), text.size(), key.verifying_key(), {},
            [&heard](std::size_t entries, std::size_t offset) { heard.push_back({ entries, offset }); });
        ASSERT_TRUE(test_support::has_value(check));
        EXPECT_TRUE(test_support::has_value(check->verified));
        EXPECT_EQ(check->entries, length);
        if (length == 3) {
            EXPECT_TRUE(heard.empty());
            continue;
        }
        ASSERT_FALSE(heard.empty());
        for (std::size_t index = 0; index < heard.size(); ++index) {
            EXPECT_LE(heard[index].entries, length);
            EXPECT_LT(heard[index].offset, text.size());
            if (index > 0) {
                EXPECT_GT(heard[index].entries, heard[index - 1].entries);
                EXPECT_GT(heard[index].offset, heard[index - 1].offset);
            }
        }
    }
}

} // namespace
} // namespace quenmark
