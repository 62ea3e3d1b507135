// The command layer's file operations, exercised directly: command error
// texts, the state store, the key file, the chain file and the directory lock.

#include "run_support.h"
#include "test_support.h"

#include "context.h"
#include "store/chain_file.h"
#include "store/files.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/errors.h"
#include "quenmark/audit_chain.h"
#include "quenmark/audit_event.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

using corvellactl::CommandError;
using e2e::Names;
using e2e::ScratchDirectory;
using test_support::error_text;
using test_support::has_value;

TEST(CommandError, EachVariantShowsItsText)
{
    struct Row {
        CommandError error;
        CommandError::Kind kind;
        std::string text;
    };
    auto const training = corvella::TrainingError::non_positive_validity(0);
    std::vector<Row> const rows {
        { CommandError::io(ENOENT), CommandError::Kind::Io, "io error: No such file or directory" },
        { CommandError::io("stream did not contain valid UTF-8"), CommandError::Kind::Io,
          "io error: stream did not contain valid UTF-8" },
        { CommandError::json("EOF while parsing a value at line 1 column 1"), CommandError::Kind::Json,
          "json error: EOF while parsing a value at line 1 column 1" },
        { training, CommandError::Kind::Training, training.text() },
        { corvella::TrainingValidationError::empty_field(corvella::TextField::Title), CommandError::Kind::Validation,
          "title must not be empty" },
        { quenmark::ContractError::signature_verification(), CommandError::Kind::Platform,
          "signature verification failed" },
        { CommandError::not_found("assessment 11111111-1111-4111-8111-111111111111"), CommandError::Kind::NotFound,
          "not found: assessment 11111111-1111-4111-8111-111111111111" },
        { CommandError::message("3 problem(s) found"), CommandError::Kind::Message, "3 problem(s) found" },
    };
    for (auto const& row : rows) {
        EXPECT_EQ(row.error.kind(), row.kind) << row.text;
        EXPECT_EQ(row.error.text(), row.text);
    }
}

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
    EXPECT_EQ(e2e::entries(directory.path()), Names {});

    ASSERT_TRUE(has_value(corvellactl::save_store(path, *store)));
    EXPECT_EQ(e2e::read_file(path), empty_state);
    EXPECT_EQ(e2e::entries(directory.path()), Names { "state.json" });
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
    auto const found = corvellactl::find_assessment(store, id);
    ASSERT_TRUE(has_value(found));
    EXPECT_EQ((*found)->title, "first");

    auto const missing_assessment = corvella::AssessmentId::mint();
    auto const missing_assignment = corvella::AssignmentId::mint();
    auto const missing_completion = corvella::CompletionRecordId::mint();
    auto const missing_certificate = corvella::CertificationId::mint();
    EXPECT_EQ(error_text(corvellactl::find_assessment(store, missing_assessment)),
              "not found: assessment " + missing_assessment.to_string());
    EXPECT_EQ(error_text(corvellactl::find_assignment(store, missing_assignment)),
              "not found: assignment " + missing_assignment.to_string());
    EXPECT_EQ(error_text(corvellactl::find_completion(store, missing_completion)),
              "not found: completion record " + missing_completion.to_string());
    EXPECT_EQ(error_text(corvellactl::find_certificate(store, missing_certificate)),
              "not found: certificate " + missing_certificate.to_string());
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

// RFC 8032 section 7.1, test 1.
constexpr char const* rfc8032_seed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::array<std::uint8_t, 32> rfc8032_public_key {
    0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9, 0x64, 0x07, 0x3a,
    0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a,
};

TEST(KeyFile, AcceptedSpellingsOfTheSeedLoad)
{
    std::string const upper = "9D61B19DEFFD5A60BA844AF492EC2CC44449C5697B326919703BAC031CAE7F60";
    for (std::string const& content : { std::string(rfc8032_seed), std::string(rfc8032_seed) + "\n", upper,
                                       " \r\n\t" + std::string(rfc8032_seed) + "\r\n" }) {
        ScratchDirectory directory;
        auto const path = (directory / "key.hex").string();
        e2e::write_file(path, content);
        auto const key = corvellactl::load_or_create_key(path);
        ASSERT_TRUE(has_value(key)) << content;
        EXPECT_EQ(key->verifying_key().bytes, rfc8032_public_key);
        EXPECT_EQ(e2e::read_file(path), content);
    }
}

TEST(KeyFile, BadKeyFilesAreReportedAndNeverOverwritten)
{
    std::string const seed = rfc8032_seed;
    struct Row {
        std::string content;
        bool not_hex; // otherwise an input/output error
        std::string io_text;
    };
    std::vector<Row> const rows {
        { seed.substr(0, 63), true, "" },
        { seed + "0", true, "" },
        { "g" + seed.substr(1), true, "" },
        { "", true, "" },
        { "\xff" + seed.substr(1), false, "io error: stream did not contain valid UTF-8" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const path = (directory / "key.hex").string();
        e2e::write_file(path, row.content);
        auto const key = corvellactl::load_or_create_key(path);
        SCOPED_TRACE(row.content);
        EXPECT_EQ(error_text(key), row.not_hex ? "signing key file " + path + " is not valid hex" : row.io_text);
        EXPECT_EQ(e2e::read_file(path), row.content);
        EXPECT_EQ(e2e::entries(directory.path()), Names { "key.hex" });
    }

    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "key.hex");
    EXPECT_EQ(error_text(corvellactl::load_or_create_key((directory / "key.hex").string())),
              "io error: Is a directory");
}

TEST(KeyFile, MissingKeyIsCreatedOwnerOnlyAndReadBackTheSame)
{
    ScratchDirectory directory;
    auto const path = (directory / "key.hex").string();
    auto const created = corvellactl::load_or_create_key(path);
    ASSERT_TRUE(has_value(created));

    std::string const content = e2e::read_file(path);
    EXPECT_EQ(content.size(), 64u);
    EXPECT_EQ(content.find_first_not_of("0123456789abcdef"), std::string::npos) << content;
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(e2e::entries(directory.path()), Names { "key.hex" });

    auto const loaded = corvellactl::load_or_create_key(path);
    ASSERT_TRUE(has_value(loaded));
    EXPECT_EQ(loaded->verifying_key(), created->verifying_key());
    EXPECT_EQ(e2e::read_file(path), content);

    EXPECT_EQ(error_text(corvellactl::load_or_create_key((directory / "missing" / "key.hex").string())),
              "io error: No such file or directory");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "key.hex" });
}

TEST(Files, ExclusiveCreationNeverReplacesAFile)
{
    ScratchDirectory directory;
    auto const path = (directory / "key.hex").string();
    e2e::write_file(path, "theirs");
    auto const outcome = corvellactl::create_file_exclusively(path, "mine", 0600);
    ASSERT_TRUE(has_value(outcome));
    EXPECT_EQ(*outcome, corvellactl::CreateOutcome::AlreadyExists);
    EXPECT_EQ(e2e::read_file(path), "theirs");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "key.hex" });
}

TEST(Files, FailedReplacementLeavesNoTemporaryFile)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "target");
    EXPECT_EQ(error_text(corvellactl::replace_file((directory / "target").string(), "x")), "io error: Is a directory");
    EXPECT_EQ(error_text(corvellactl::replace_file((directory / "missing" / "x.json").string(), "x")),
              "io error: No such file or directory");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "target" });
}

// Whether another process could take the lock on the directory right now.
bool lock_is_free(std::filesystem::path const& directory)
{
    pid_t const child = ::fork();
    if (child == 0) {
        int const descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
        ::_exit(::flock(descriptor, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    return e2e::wait_for(child) == 0;
}

TEST(Files, DirectoryLockHoldsEveryDirectoryUntilReleased)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "other");
    auto const state = (directory / "state.json").string();
    auto const audit = (directory / "other" / "audit.json").string();
    {
        auto const lock = corvellactl::DirectoryLock::acquire({ state, audit, state });
        ASSERT_TRUE(has_value(lock));
        EXPECT_FALSE(lock_is_free(directory.path()));
        EXPECT_FALSE(lock_is_free(directory / "other"));
    }
    EXPECT_TRUE(lock_is_free(directory.path()));
    EXPECT_TRUE(lock_is_free(directory / "other"));
    EXPECT_TRUE(has_value(corvellactl::DirectoryLock::acquire({ (directory / "none" / "x").string() })));
    EXPECT_EQ(e2e::entries(directory.path()), Names { "other" });
}

quenmark::AuditEvent sample_event(std::string action)
{
    quenmark::Actor actor;
    actor.actor_type = quenmark::ActorType::User;
    quenmark::Target target;
    target.target_type = "assessment";
    return quenmark::build_audit_event(quenmark::corvella_product_id(), std::move(actor), std::move(target),
                                       std::move(action),
                                       quenmark::AuditResult::Success, quenmark::AuditCategory::Configuration,
                                       quenmark::Timestamp::from_unix_seconds(1'800'000'000));
}

quenmark::SigningKey fixed_key(std::uint8_t fill)
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(fill);
    return quenmark::SigningKey::from_seed(seed);
}

TEST(ChainFile, MissingChainIsEmptyAndCreatesNothing)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    auto const entries = corvellactl::load_chain(path);
    ASSERT_TRUE(has_value(entries));
    EXPECT_TRUE(entries->empty());
    auto const count = corvellactl::verify_chain_file(path, fixed_key(1).verifying_key());
    ASSERT_TRUE(has_value(count));
    EXPECT_EQ(*count, 0u);
    EXPECT_EQ(e2e::entries(directory.path()), Names {});
}

TEST(ChainFile, AppendsLinkAndNumberEntries)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    auto const key = fixed_key(1);
    ASSERT_TRUE(has_value(corvellactl::append_event(path, key, sample_event("training.assignment.created"))));
    ASSERT_TRUE(has_value(corvellactl::append_event(path, key, sample_event("training.assignment.completed"))));

    auto const text = e2e::read_file(path);
    EXPECT_EQ(text.substr(0, 5), "[\n  {");
    EXPECT_EQ(text.back(), ']');
    auto const entries = corvellactl::load_chain(path);
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
    EXPECT_EQ(*count, 2u);
    EXPECT_EQ(error_text(corvellactl::verify_chain_file(path, fixed_key(2).verifying_key())),
              "audit chain verification failed: signature verification failed");
    EXPECT_EQ(e2e::entries(directory.path()), Names { "audit.json" });
}

TEST(ChainFile, UnreadableChainIsReportedAndKept)
{
    ScratchDirectory directory;
    auto const path = (directory / "audit.json").string();
    e2e::write_file(path, "{");
    auto const appended = corvellactl::append_event(path, fixed_key(1), sample_event("training.assignment.created"));
    EXPECT_EQ(error_text(appended).rfind("json error: ", 0), 0u) << error_text(appended);
    EXPECT_EQ(e2e::read_file(path), "{");
    EXPECT_EQ(error_text(corvellactl::verify_chain_file(path, fixed_key(1).verifying_key())), error_text(appended));
    EXPECT_EQ(e2e::entries(directory.path()), Names { "audit.json" });
}

} // namespace
