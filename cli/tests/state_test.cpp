#include "store/state.h"

#include "store/commit.h"

#include "scratch_files.h"
#include "test_support.h"

#include "corvella/ids/ids.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/json/read.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using test_support::error_text;
using test_support::has_value;
using test_support::Names;
using test_support::ScratchDirectory;

constexpr char const* empty_state = "{\n"
                                    "  \"assessments\": [],\n"
                                    "  \"assignments\": [],\n"
                                    "  \"attempts\": [],\n"
                                    "  \"completions\": [],\n"
                                    "  \"certificates\": []\n"
                                    "}";

TEST(Store, EmptyObjectReadsAsEmptyAndWritesAllFiveLists)
{
    std::string text = "{}";
    text.append(quenmark::json::read_padding, '\0');
    auto const store = corvellactl::parse_store(text.data(), 2);
    ASSERT_TRUE(store.has_value()) << store.error();
    std::string written;
    corvellactl::write_store(*store, written);
    EXPECT_EQ(written, empty_state);
}

TEST(Store, MissingStateFileIsEmptyAndSavingCreatesIt)
{
    ScratchDirectory directory;
    auto const path = (directory / "state.json").string();
    auto const store = corvellactl::load_store(path);
    ASSERT_TRUE(has_value(store));
    EXPECT_TRUE(store->assessments.empty());
    EXPECT_EQ(test_support::entries(directory.path()), Names {});

    ASSERT_TRUE(has_value(corvellactl::save_store(path, *store)));
    EXPECT_EQ(test_support::read_file(path), empty_state);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "state.json" });
}

TEST(Store, FindsTheFirstMatchOrNamesTheMissingRecord)
{
    corvellactl::Store store;
    auto const id = corvella::AssessmentId::mint();
    for (std::string const title : { "first", "second" }) {
        corvella::AssessmentDefinition definition;
        definition.id = id;
        definition.title = title;
        store.assessments.push_back(definition);
    }
    auto const found = corvellactl::find(store, id);
    ASSERT_TRUE(has_value(found));
    EXPECT_EQ((*found)->title, "first");
    (*found)->title = "changed";
    corvellactl::Store const& read_only = store;
    auto const found_const = corvellactl::find(read_only, id);
    ASSERT_TRUE(has_value(found_const));
    EXPECT_EQ((*found_const)->title, "changed");

    auto const missing_assessment = corvella::AssessmentId::mint();
    auto const missing_assignment = corvella::AssignmentId::mint();
    auto const missing_completion = corvella::CompletionRecordId::mint();
    auto const missing_certificate = corvella::CertificationId::mint();
    EXPECT_EQ(error_text(corvellactl::find(store, missing_assessment)),
              "not found: assessment " + missing_assessment.to_string());
    EXPECT_EQ(error_text(corvellactl::find(store, missing_assignment)),
              "not found: assignment " + missing_assignment.to_string());
    EXPECT_EQ(error_text(corvellactl::find(store, missing_completion)),
              "not found: completion record " + missing_completion.to_string());
    EXPECT_EQ(error_text(corvellactl::find(read_only, missing_certificate)),
              "not found: certificate " + missing_certificate.to_string());
}

TEST(Store, FindsEachKindOfRecordByItsIdentifier)
{
    corvellactl::Store store;
    store.assignments.resize(2);
    store.assignments[1].id = corvella::AssignmentId::mint();
    store.completions.resize(2);
    store.completions[1].id = corvella::CompletionRecordId::mint();
    store.certificates.resize(2);
    store.certificates[1].payload.certificate_id = corvella::CertificationId::mint();

    auto const assignment = corvellactl::find(store, store.assignments[1].id);
    ASSERT_TRUE(has_value(assignment));
    EXPECT_EQ(*assignment, &store.assignments[1]);
    auto const completion = corvellactl::find(store, store.completions[1].id);
    ASSERT_TRUE(has_value(completion));
    EXPECT_EQ(*completion, &store.completions[1]);
    auto const certificate = corvellactl::find(store, store.certificates[1].payload.certificate_id);
    ASSERT_TRUE(has_value(certificate));
    EXPECT_EQ(*certificate, &store.certificates[1]);
}

corvella::TrainingAssignment assignment_with_fresh_id()
{
    corvella::TrainingAssignment assignment;
    assignment.id = corvella::AssignmentId::mint();
    return assignment;
}

TEST(Store, ReplaceAssignmentOverwritesInPlaceOrAppends)
{
    corvellactl::Store store;
    auto first = assignment_with_fresh_id();
    auto const second = assignment_with_fresh_id();
    store.assignments = { first, second };

    first.status = corvella::AssignmentStatus::Completed;
    corvellactl::replace_assignment(store, first);
    ASSERT_EQ(store.assignments.size(), 2u);
    EXPECT_EQ(store.assignments[0], first);

    auto const third = assignment_with_fresh_id();
    corvellactl::replace_assignment(store, third);
    ASSERT_EQ(store.assignments.size(), 3u);
    EXPECT_EQ(store.assignments[2], third);
}

TEST(Store, SavedInChunksEqualsTheWholeFileFormAndReadsBackAsTheWholeReadingDoes)
{
    // Several times the chunk the save hands to the file at once, with
    // records that straddle the chunk boundaries; big enough to be read
    // back streamed on both cores, with the split inside the assessments.
    corvellactl::Store store;
    for (std::size_t index = 0; index < 1500; ++index) {
        corvella::AssessmentDefinition definition;
        definition.id = corvella::AssessmentId::mint();
        definition.title = test_support::patterned(5000 + index);
        definition.questions.push_back({ .id = corvella::QuestionId::mint(), .prompt = "Why?", .choices = { "a", "b" } });
        store.assessments.push_back(std::move(definition));
    }
    store.assignments.push_back(assignment_with_fresh_id());
    std::string whole;
    corvellactl::write_store(store, whole);
    ASSERT_GT(whole.size(), std::size_t { 8 } << 20U);

    ScratchDirectory directory;
    auto const path = (directory / "state.json").string();
    ASSERT_TRUE(has_value(corvellactl::save_store(path, store)));
    EXPECT_TRUE(test_support::read_file(path) == whole);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "state.json" });

    auto const loaded = corvellactl::load_store(path);
    ASSERT_TRUE(has_value(loaded));
    EXPECT_TRUE(*loaded == store);
    auto expected = store;
    expected.assignments.clear();
    expected.not_kept.assignments = 1;
    for (auto& assessment : expected.assessments) {
        expected.titles.add(assessment.id, assessment.title);
        expected.answer_keys.push_back({ assessment.questions.front().correct_index });
        assessment.questions.clear();
    }
    auto const partial = corvellactl::load_store(
        path, nullptr, { .questions = false, .assignments = false, .titles = true, .answer_keys = true });
    ASSERT_TRUE(has_value(partial));
    EXPECT_TRUE(*partial == expected);

    // Edited, the file reads exactly as the whole reading reads it: laid
    // out otherwise but valid, or refused in the same words.
    struct Edit {
        std::string_view what;
        std::string_view find;
        std::string_view replacement;
    };
    Edit const edits[] = {
        { "a blank before a record", ",\n    {", ",\n     {" },
        { "a record's member indented as a record", ",\n      \"title\"", ",\n    {\"title\"" },
        { "a bad value in the last record", "\"prompt\": \"Why?\"", "\"prompt\": 7" },
        { "a list that ends early", "\n  ],\n  \"assignments\"", "\n  ]],\n  \"assignments\"" },
        { "a separator after the last record", "\n  ],\n  \"assignments\"", ",\n    {\n  ],\n  \"assignments\"" },
    };
    for (auto const& [what, find, replacement] : edits) {
        std::string text = whole;
        auto const at = text.rfind(find);
        ASSERT_NE(at, std::string::npos) << what;
        text.replace(at, find.size(), replacement);
        test_support::write_file(path, text);
        text.append(quenmark::json::read_padding, '\0');
        auto const whole_reading = corvellactl::parse_store(text.data(), text.size() - quenmark::json::read_padding);
        auto const edited = corvellactl::load_store(path);
        ASSERT_EQ(edited.has_value(), whole_reading.has_value()) << what;
        if (whole_reading)
            EXPECT_TRUE(*edited == *whole_reading) << what;
        else
            EXPECT_EQ(error_text(edited), corvellactl::CommandError::json(whole_reading.error()).text()) << what;
    }
}

// A big store is written beside the chain while the chain is read and
// extended; what is put in place, and the error said when a step fails, are
// those of doing it all in turn: the chain's first, then the state's.
TEST(Store, ABigStoreIsCommittedWithTheChainAsInTurn)
{
    corvellactl::Store store;
    for (std::size_t index = 0; index < 5000; ++index)
        store.assignments.push_back(assignment_with_fresh_id());
    std::string written;
    corvellactl::write_store(store, written);
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    auto const key = quenmark::SigningKey::from_seed(seed);
    auto const event = quenmark::build_audit_event(corvella::product_id(), {}, {}, "training.assignment.created",
                                                   quenmark::AuditResult::Success, quenmark::AuditCategory::Policy,
                                                   quenmark::Timestamp::from_unix_seconds(1'800'000'000));
    constexpr char const* invalid_chain = "[{\"sequence\": 1}]";
    struct Case {
        char const* name;
        bool chain_reads;
        bool state_writes;
    };
    Case const cases[] = {
        { "both written", true, true },
        { "a chain that does not read", false, true },
        { "a state file that cannot be written", true, false },
        { "neither", false, false },
    };
    for (auto const& [name, chain_reads, state_writes] : cases) {
        SCOPED_TRACE(name);
        ScratchDirectory directory;
        auto const audit = (directory / "audit.json").string();
        auto const state = (directory / (state_writes ? "state.json" : "missing/state.json")).string();
        if (!chain_reads)
            test_support::write_file(audit, invalid_chain);
        corvellactl::ChainAppender chain(audit);
        auto const committed = corvellactl::commit_chain_and_store(
            chain, [&] { return chain.append(key, event); }, state, corvellactl::Store(store));
        if (chain_reads && state_writes) {
            ASSERT_TRUE(has_value(committed));
            EXPECT_TRUE(test_support::read_file(state) == written);
            auto const verified = corvellactl::verify_chain_file(audit, key.verifying_key());
            ASSERT_TRUE(has_value(verified));
            EXPECT_EQ(verified->entries, 1U);
            continue;
        }
        auto const expected = !chain_reads ? error_text(corvellactl::ChainAppender(audit).append(key, event))
                                           : error_text(corvellactl::prepare_store(state, store));
        EXPECT_EQ(error_text(committed), expected);
        EXPECT_EQ(test_support::entries(directory.path()), chain_reads ? Names {} : Names { "audit.json" });
    }
}

} // namespace
