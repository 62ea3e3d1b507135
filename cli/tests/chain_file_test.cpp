#include "store/chain_file.h"

#include "chain_reference.h"
#include "chain_text.h"
#include "scratch_files.h"
#include "test_support.h"

#include "corvella/ids/ids.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using test_support::error_text;
using test_support::has_value;
using test_support::Names;
using test_support::ScratchDirectory;

// An event with nothing random in it, so two runs sign the same bytes.
quenmark::AuditEvent fixed_event(std::string action, std::string_view event_id)
{
    quenmark::Actor actor;
    actor.actor_type = quenmark::ActorType::User;
    actor.actor_id = "learner";
    quenmark::Target target;
    target.target_type = "assessment";
    auto event = quenmark::build_audit_event(corvella::product_id(), std::move(actor), std::move(target),
                                             std::move(action), quenmark::AuditResult::Success,
                                             quenmark::AuditCategory::Configuration,
                                             quenmark::Timestamp::from_unix_seconds(1'800'000'000));
    event.event_id = *quenmark::Uuid::parse(event_id);
    return event;
}

quenmark::AuditEvent first_event()
{
    return fixed_event("training.assignment.created", "11111111-1111-4111-8111-111111111111");
}
quenmark::AuditEvent second_event()
{
    return fixed_event("training.assignment.completed", "22222222-2222-4222-8222-222222222222");
}

quenmark::SigningKey fixed_key(std::uint8_t fill = 3)
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(fill);
    return quenmark::SigningKey::from_seed(seed);
}

TEST(ChainFile, MissingChainIsEmptyAndCreatesNothing)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    auto const entries = test_support::load_chain(path);
    ASSERT_TRUE(has_value(entries));
    EXPECT_TRUE(entries->empty());
    auto const count = corvellactl::verify_chain_file(path, fixed_key(1).verifying_key());
    ASSERT_TRUE(has_value(count));
    EXPECT_EQ(count->entries, 0u);
    EXPECT_EQ(test_support::entries(directory.path()), Names {});
}

TEST(ChainFile, AppendsLinkAndNumberEntries)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    auto const key = fixed_key(1);
    ASSERT_TRUE(has_value(test_support::append_event(path, key, first_event())));
    ASSERT_TRUE(has_value(test_support::append_event(path, key, second_event())));

    auto const text = test_support::read_file(path);
    EXPECT_EQ(text.substr(0, 5), "[\n  {");
    EXPECT_EQ(text.back(), ']');
    auto const entries = test_support::load_chain(path);
    ASSERT_TRUE(has_value(entries));
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].sequence, 1u);
    EXPECT_FALSE((*entries)[0].event.previous_event_hash.has_value());
    EXPECT_EQ((*entries)[1].sequence, 2u);
    auto const first_hash = quenmark::event_content_hash((*entries)[0].event);
    ASSERT_TRUE(has_value(first_hash));
    EXPECT_EQ((*entries)[1].event.previous_event_hash, *first_hash);

    auto const count = corvellactl::verify_chain_file(path, key.verifying_key());
    ASSERT_TRUE(has_value(count));
    EXPECT_EQ(count->entries, 2u);
    EXPECT_EQ(error_text(corvellactl::verify_chain_file(path, fixed_key(2).verifying_key())),
              "audit chain verification failed: signature verification failed");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "audit.json" });
}

TEST(ChainFile, UnreadableChainIsReportedAndKept)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    test_support::write_file(path, "{");
    auto const appended = test_support::append_event(path, fixed_key(1), first_event());
    EXPECT_EQ(error_text(appended).rfind("json error: ", 0), 0u) << error_text(appended);
    EXPECT_EQ(test_support::read_file(path), "{");
    EXPECT_EQ(error_text(corvellactl::verify_chain_file(path, fixed_key(1).verifying_key())), error_text(appended));
    EXPECT_EQ(test_support::entries(directory.path()), Names { "audit.json" });
}

// The plain append: read and parse the whole chain, link the event to the
// last entry, and write the whole list again.
void plain_append(std::filesystem::path const& path, quenmark::AuditEvent event)
{
    auto entries = test_support::load_chain(path.string());
    ASSERT_TRUE(has_value(entries));
    auto const head = quenmark::derive_head(*entries);
    ASSERT_TRUE(has_value(head));
    auto entry = quenmark::link_event(*head, fixed_key(), std::move(event));
    ASSERT_TRUE(has_value(entry));
    entries->push_back(std::move(*entry));
    std::string text;
    test_support::write_chain(*entries, text);
    test_support::write_file(path, text);
}

// A one-entry chain as the tool writes it.
std::string tool_written_chain()
{
    ScratchDirectory directory;
    plain_append(directory / "audit.json", first_event());
    return test_support::read_file(directory / "audit.json");
}

// The same text with every line break and the indentation after it removed;
// the tool's strings hold no line breaks.
std::string compacted(std::string const& text)
{
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '\n') {
            out += text[index];
            continue;
        }
        while (index + 1 < text.size() && text[index + 1] == ' ')
            ++index;
    }
    return out;
}

std::string with_inserted(std::string text, std::string const& after, std::string const& insertion)
{
    auto const position = text.find(after);
    EXPECT_NE(position, std::string::npos) << after;
    return text.insert(position + after.size(), insertion);
}

TEST(ChainAppender, AppendsWriteNothingUntilSavedAndThenTheFileOfThePlainAppends)
{
    std::string const tool_chain = tool_written_chain();
    std::string const unknown_members = with_inserted(
        with_inserted(tool_chain, "[\n  {", "\n    \"note\": \"dropped\","),
        "\"event\": {", "\n      \"extra\": [1, {\"nested\": null}],");
    // Two entries as the tool writes them, then a member unknown to the
    // event model in the second: the first is kept as it stands.
    std::string two_entries;
    {
        ScratchDirectory directory;
        test_support::write_file(directory / "audit.json", tool_chain);
        plain_append(directory / "audit.json", second_event());
        two_entries = test_support::read_file(directory / "audit.json");
        two_entries.insert(two_entries.rfind(",\n  {") + 5, "\n    \"note\": \"dropped\",");
    }
    struct Start {
        char const* name;
        std::optional<std::string> content;
        std::size_t entries;
    };
    std::vector<Start> const starts {
        { "missing file", std::nullopt, 0 },
        { "empty array", "[]", 0 },
        { "chain written by the tool", tool_chain, 1 },
        { "chain written by the tool, then a line feed", tool_chain + "\n", 1 },
        { "members unknown to the event model", unknown_members, 1 },
        { "compact layout with unknown members", compacted(unknown_members), 1 },
        { "a member unknown to the event model in the second entry", two_entries, 2 },
    };
    for (auto const& start : starts) {
        SCOPED_TRACE(start.name);
        ScratchDirectory plain_directory;
        ScratchDirectory kept_directory;
        auto const plain = plain_directory / "audit.json";
        auto const kept = kept_directory / "audit.json";
        if (start.content) {
            test_support::write_file(plain, *start.content);
            test_support::write_file(kept, *start.content);
        }
        auto const before = test_support::entries(kept_directory.path());

        corvellactl::ChainAppender appender(kept.string());
        ASSERT_TRUE(has_value(appender.append(fixed_key(), first_event())));
        ASSERT_TRUE(has_value(appender.append(fixed_key(), second_event())));
        EXPECT_EQ(test_support::entries(kept_directory.path()), before);
        if (start.content) {
            EXPECT_EQ(test_support::read_file(kept), *start.content);
        }
        ASSERT_TRUE(has_value(appender.save()));
        plain_append(plain, first_event());
        plain_append(plain, second_event());
        EXPECT_EQ(test_support::read_file(kept), test_support::read_file(plain));

        auto const text = test_support::read_file(kept);
        EXPECT_EQ(text.find("dropped"), std::string::npos);
        EXPECT_EQ(text.find("nested"), std::string::npos);
        auto const count = corvellactl::verify_chain_file(kept.string(), fixed_key().verifying_key());
        ASSERT_TRUE(has_value(count));
        EXPECT_EQ(count->entries, start.entries + 2);
        EXPECT_EQ(test_support::entries(kept_directory.path()), Names { "audit.json" });
    }
}

TEST(ChainAppender, SavingWithoutAppendsWritesTheChainAsItWasRead)
{
    std::string const tool_chain = tool_written_chain();
    for (std::string const& content : { std::string("[]"), tool_chain }) {
        ScratchDirectory directory;
        auto const path = directory / "audit.json";
        test_support::write_file(path, content);
        corvellactl::ChainAppender appender(path.string());
        ASSERT_TRUE(has_value(appender.save()));
        EXPECT_EQ(test_support::read_file(path), content);
    }
}

// A chain of 1,500 entries as the tool writes it: over 1 MiB, so it is
// mapped and may be read ahead.
std::string big_chain()
{
    std::vector<quenmark::AuditEvent> events(1'500, first_event());
    auto const linked = quenmark::link_events(*quenmark::derive_head({}), fixed_key(), std::move(events));
    EXPECT_TRUE(has_value(linked));
    std::string whole;
    if (linked)
        test_support::write_chain(*linked, whole);
    return whole;
}

// A big chain is mapped, and its bytes are written again from the mapping:
// cut by another program meanwhile, it is refused as a reading refuses it,
// and nothing is put in its place.
TEST(ChainAppender, AChainCutWhileHeldIsRefusedAsChangedWhileRead)
{
    std::string const whole = big_chain();
    ASSERT_GT(whole.size(), std::size_t { 1 } << 20U);
    ScratchDirectory directory;
    auto const path = directory / "audit.json";
    test_support::write_file(path, whole);
    corvellactl::ChainAppender appender(path.string());
    ASSERT_TRUE(has_value(appender.append(fixed_key(), second_event())));
    std::filesystem::resize_file(path, whole.size() / 2);
    EXPECT_EQ(error_text(appender.save()), "io error: " + path.string() + " changed while it was read");
    EXPECT_EQ(std::filesystem::file_size(path), whole.size() / 2);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "audit.json" });
}

// A big chain read ahead gives what reading it at the first append gives:
// the same file after the appends, or the same error, and the file kept.
TEST(ChainAppender, AChainReadAheadIsTheChainReadWhenNeeded)
{
    std::string const whole = big_chain();
    ASSERT_GT(whole.size(), std::size_t { 1 } << 20U);
    // The last entry's sequence number made negative.
    std::string const broken = std::string(whole).insert(whole.rfind("\"sequence\": ") + 12, "-");
    for (std::string const* content : { &whole, &broken }) {
        std::vector<std::string> outcomes;
        for (bool const ahead : { false, true }) {
            SCOPED_TRACE(ahead ? "read ahead" : "read when needed");
            ScratchDirectory directory;
            auto const path = directory / "audit.json";
            test_support::write_file(path, *content);
            corvellactl::ChainAppender appender(path.string());
            if (ahead)
                appender.read_ahead();
            auto const appended = appender.append(fixed_key(), second_event());
            if (appended)
                EXPECT_TRUE(has_value(appender.save()));
            else
                EXPECT_EQ(test_support::read_file(path), *content);
            outcomes.push_back(appended ? test_support::read_file(path) : error_text(appended));
            EXPECT_EQ(test_support::entries(directory.path()), Names { "audit.json" });
        }
        EXPECT_EQ(outcomes[0], outcomes[1]);
        EXPECT_EQ(outcomes[0].rfind("json error: ", 0) == 0, content == &broken) << outcomes[0].substr(0, 200);
    }
}

TEST(ChainAppender, InvalidChainFailsEveryAppendAndIsKept)
{
    ScratchDirectory directory;
    auto const path = directory / "audit.json";
    test_support::write_file(path, "[{\"sequence\": 1}]");
    corvellactl::ChainAppender appender(path.string());
    auto const first = appender.append(fixed_key(), first_event());
    EXPECT_EQ(error_text(first).rfind("json error: missing field `event`", 0), 0u) << error_text(first);
    EXPECT_EQ(error_text(appender.append(fixed_key(), second_event())), error_text(first));
    EXPECT_EQ(test_support::read_file(path), "[{\"sequence\": 1}]");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "audit.json" });
}

} // namespace

namespace {

TEST(ChainFile, BigChainReadsEntryByEntryAsTheWholeReadingDoes)
{
    // Big enough to be streamed; an edit near the end makes the streamed
    // reading give up after most entries, which are then not handed again.
    // Entries that differ, so that entries handed out of order would show.
    std::vector<quenmark::AuditEvent> events;
    for (std::size_t index = 0; index < 16'000; ++index) {
        events.push_back(first_event());
        events.back().action += '.' + std::to_string(index);
    }
    auto const linked = quenmark::link_events(*quenmark::derive_head({}), fixed_key(), std::move(events));
    ASSERT_TRUE(has_value(linked));
    std::vector<quenmark::SignedAuditEvent> const& written = *linked;
    std::string whole;
    test_support::write_chain(written, whole);
    ASSERT_GT(whole.size(), std::size_t { 8 } << 20U);

    struct Edit {
        std::string_view what;
        std::string_view find;
        std::string_view replacement;
        // Made at the first place after the middle of the chain, where a
        // search in pieces cuts it, instead of at the last place.
        bool mid_way { false };
    };
    Edit const edits[] = {
        { "none", "", "" },
        { "a blank before the last entry", ",\n  {", ",\n   {" },
        { "an entry indented as the chain's", ",\n    \"sequence\"", ",\n  {\"sequence\"" },
        { "a bad value in the last entry", "\"sequence\": 1", "\"sequence\": -1" },
        { "text after the chain", "\n]", "\n]]" },
        { "a blank before an entry mid-way", ",\n  {", ",\n   {", true },
        { "an entry mid-way indented as the chain's", ",\n    \"sequence\"", ",\n  {\"sequence\"", true },
        { "a bad value mid-way", "\"sequence\": 1", "\"sequence\": -1", true },
    };
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    for (auto const& [what, find, replacement, mid_way] : edits) {
        std::string text = whole;
        if (!find.empty()) {
            auto const at = mid_way ? text.find(find, text.size() / 2) : text.rfind(find);
            ASSERT_NE(at, std::string::npos) << what;
            text.replace(at, find.size(), replacement);
        }
        test_support::write_file(path, text);
        auto const reference = test_support::load_chain(path);
        std::vector<quenmark::SignedAuditEvent> handed;
        auto const read = corvellactl::read_chain_entries(
            path, [&handed](quenmark::SignedAuditEvent&& event) { handed.push_back(std::move(event)); });
        ASSERT_EQ(read.has_value(), reference.has_value()) << what;
        // Searched in pieces on two threads, the chain gives the same entries or error.
        auto const searched
            = corvellactl::ChainSearch(path, [](quenmark::SignedAuditEvent const&) { return true; }).result();
        ASSERT_EQ(searched.has_value(), reference.has_value()) << what;
        if (reference) {
            EXPECT_TRUE(handed == *reference) << what;
            EXPECT_TRUE(*searched == *reference) << what;
        } else {
            EXPECT_EQ(error_text(read), error_text(reference)) << what;
            EXPECT_EQ(error_text(searched), error_text(reference)) << what;
        }
    }
}

} // namespace
