// The writing side of the data files: appends through one chain appender
// against the plain read, append and rewrite of the whole chain for each
// event; atomic replacement written in pieces; the state file saved in chunks.

#include "run_support.h"
#include "test_support.h"

#include "store/chain_file.h"
#include "store/files.h"
#include "store/state.h"

#include "quenmark/audit_chain.h"
#include "quenmark/audit_event.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using e2e::Names;
using e2e::ScratchDirectory;
using test_support::error_text;
using test_support::has_value;

// An event with nothing random in it, so two runs sign the same bytes.
quenmark::AuditEvent fixed_event(std::string action, std::string_view event_id)
{
    quenmark::Actor actor;
    actor.actor_type = quenmark::ActorType::User;
    actor.actor_id = "learner";
    quenmark::Target target;
    target.target_type = "assessment";
    auto event = quenmark::build_audit_event(quenmark::corvella_product_id(), std::move(actor), std::move(target),
                                             std::move(action), quenmark::AuditResult::Success,
                                             quenmark::AuditCategory::Configuration,
                                             quenmark::Timestamp::from_unix_seconds(1'800'000'000));
    event.event_id = *quenmark::Uuid::parse(event_id);
    return event;
}

quenmark::AuditEvent first_event() { return fixed_event("training.assignment.created", "11111111-1111-4111-8111-111111111111"); }
quenmark::AuditEvent second_event() { return fixed_event("training.assignment.completed", "22222222-2222-4222-8222-222222222222"); }
quenmark::AuditEvent third_event() { return fixed_event("training.certificate.issued", "33333333-3333-4333-8333-333333333333"); }

quenmark::SigningKey fixed_key()
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(3);
    return quenmark::SigningKey::from_seed(seed);
}

// The plain append: read and parse the whole chain, link the event to the
// last entry, and write the whole list again.
void plain_append(std::filesystem::path const& path, quenmark::AuditEvent event)
{
    auto entries = corvellactl::load_chain(path.string());
    ASSERT_TRUE(has_value(entries));
    auto const head = quenmark::derive_head(*entries);
    ASSERT_TRUE(has_value(head));
    auto entry = quenmark::link_event(*head, fixed_key(), std::move(event));
    ASSERT_TRUE(has_value(entry));
    entries->push_back(std::move(*entry));
    std::string text;
    quenmark::write_chain(*entries, text);
    e2e::write_file(path, text);
}

// A one-entry chain as the tool writes it.
std::string tool_written_chain()
{
    ScratchDirectory directory;
    plain_append(directory / "audit.json", first_event());
    return e2e::read_file(directory / "audit.json");
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

TEST(ChainAppender, TwoAppendsLeaveTheFilesOfThePlainAppendAfterEachStep)
{
    std::string const tool_chain = tool_written_chain();
    std::string const unknown_members = with_inserted(
        with_inserted(tool_chain, "[\n  {", "\n    \"note\": \"dropped\","),
        "\"event\": {", "\n      \"extra\": [1, {\"nested\": null}],");
    struct Start {
        char const* name;
        std::optional<std::string> content;
    };
    std::vector<Start> const starts {
        { "missing file", std::nullopt },
        { "empty array", "[]" },
        { "chain written by the tool", tool_chain },
        { "members unknown to the event model", unknown_members },
        { "compact layout with unknown members", compacted(unknown_members) },
    };
    for (auto const& start : starts) {
        SCOPED_TRACE(start.name);
        ScratchDirectory plain_directory;
        ScratchDirectory kept_directory;
        auto const plain = plain_directory / "audit.json";
        auto const kept = kept_directory / "audit.json";
        if (start.content) {
            e2e::write_file(plain, *start.content);
            e2e::write_file(kept, *start.content);
        }

        corvellactl::ChainAppender appender(kept.string());
        plain_append(plain, first_event());
        ASSERT_TRUE(has_value(appender.append(fixed_key(), first_event())));
        EXPECT_EQ(e2e::read_file(kept), e2e::read_file(plain));
        plain_append(plain, second_event());
        ASSERT_TRUE(has_value(appender.append(fixed_key(), second_event())));
        EXPECT_EQ(e2e::read_file(kept), e2e::read_file(plain));

        auto const text = e2e::read_file(kept);
        EXPECT_EQ(text.find("dropped"), std::string::npos);
        EXPECT_EQ(text.find("nested"), std::string::npos);
        auto const count = corvellactl::verify_chain_file(kept.string(), fixed_key().verifying_key());
        ASSERT_TRUE(has_value(count));
        EXPECT_EQ(e2e::entries(kept_directory.path()), Names { "audit.json" });
    }
}

TEST(ChainAppender, AfterAFailedAppendTheNextStartsFromTheFile)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "chain");
    auto const path = directory / "chain" / "audit.json";
    corvellactl::ChainAppender appender(path.string());
    ASSERT_TRUE(has_value(appender.append(fixed_key(), first_event())));

    std::filesystem::rename(directory / "chain", directory / "moved");
    EXPECT_EQ(error_text(appender.append(fixed_key(), second_event())), "io error: No such file or directory");

    // Another chain takes the place of the one the appender wrote.
    std::filesystem::create_directory(directory / "chain");
    std::string const other = tool_written_chain();
    e2e::write_file(path, other);
    ScratchDirectory plain_directory;
    e2e::write_file(plain_directory / "audit.json", other);
    plain_append(plain_directory / "audit.json", third_event());
    ASSERT_TRUE(has_value(appender.append(fixed_key(), third_event())));
    EXPECT_EQ(e2e::read_file(path), e2e::read_file(plain_directory / "audit.json"));
}

TEST(ChainAppender, InvalidChainFailsEveryAppendAndIsKept)
{
    ScratchDirectory directory;
    auto const path = directory / "audit.json";
    e2e::write_file(path, "[{\"sequence\": 1}]");
    corvellactl::ChainAppender appender(path.string());
    auto const first = appender.append(fixed_key(), first_event());
    EXPECT_EQ(error_text(first).rfind("json error: missing field `event`", 0), 0u) << error_text(first);
    EXPECT_EQ(error_text(appender.append(fixed_key(), second_event())), error_text(first));
    EXPECT_EQ(e2e::read_file(path), "[{\"sequence\": 1}]");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "audit.json" });
}

// Bytes that differ from one position to the next, so a piece written twice
// or left out shows.
std::string patterned(std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t index = 0; index < size; ++index)
        text[index] = static_cast<char>('a' + (index * 7 + index / 4099) % 26);
    return text;
}

TEST(FileReplacement, ContentGoesInWholeOnlyOnCommit)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    e2e::write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    // Larger than the pieces the writer hands to the system at once.
    std::string const large = patterned((std::size_t { 20 } << 20U) + 3);
    ASSERT_TRUE(has_value(corvellactl::replace_file(path.string(), large)));
    EXPECT_TRUE(e2e::read_file(path) == large);

    auto replacement = corvellactl::FileReplacement::begin(path.string());
    ASSERT_TRUE(has_value(replacement));
    ASSERT_TRUE(has_value(replacement->write("new ")));
    ASSERT_TRUE(has_value(replacement->write("")));
    ASSERT_TRUE(has_value(replacement->write("content")));
    EXPECT_TRUE(e2e::read_file(path) == large);
    EXPECT_EQ(e2e::entries(directory.path()).size(), 2u);
    ASSERT_TRUE(has_value(replacement->commit()));
    EXPECT_EQ(e2e::read_file(path), "new content");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(e2e::entries(directory.path()), Names { "state.json" });
}

TEST(FileReplacement, DroppedWithoutCommitLeavesTheTargetAndNoTemporaryFile)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    e2e::write_file(path, "old");
    {
        auto replacement = corvellactl::FileReplacement::begin(path.string());
        ASSERT_TRUE(has_value(replacement));
        ASSERT_TRUE(has_value(replacement->write("never seen")));
    }
    EXPECT_EQ(e2e::read_file(path), "old");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "state.json" });
    EXPECT_EQ(error_text(corvellactl::FileReplacement::begin((directory / "missing" / "x.json").string())),
              "io error: No such file or directory");
}

TEST(Store, SavedInChunksEqualsTheWholeFileForm)
{
    // Several times the chunk the save hands to the file at once, with
    // records that straddle the chunk boundaries.
    corvellactl::Store store;
    for (std::size_t index = 0; index < 1500; ++index) {
        corvella::AssessmentDefinition definition;
        definition.id = corvella::AssessmentId::mint();
        definition.title = patterned(1000 + index);
        store.assessments.push_back(std::move(definition));
    }
    std::string whole;
    corvellactl::write_store(store, whole);
    ASSERT_GT(whole.size(), std::size_t { 2 } << 20U);

    ScratchDirectory directory;
    auto const path = directory / "state.json";
    ASSERT_TRUE(has_value(corvellactl::save_store(path.string(), store)));
    EXPECT_TRUE(e2e::read_file(path) == whole);
    EXPECT_EQ(e2e::entries(directory.path()), Names { "state.json" });
}

} // namespace
