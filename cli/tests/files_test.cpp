#include "store/lock.h"
#include "store/read.h"
#include "store/replace.h"

#include "fault_plan.h"
#include "scratch_files.h"
#include "test_support.h"

#include "quenmark/json/read.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <array>
#include <map>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <algorithm>

namespace {

using test_support::error_text;
using test_support::has_value;
using test_support::Names;
using test_support::ScratchDirectory;

TEST(Files, ExclusiveCreationNeverReplacesAFile)
{
    ScratchDirectory directory;
    auto const path = (directory / "key.hex").string();
    test_support::write_file(path, "theirs");
    auto const outcome = corvellactl::create_file_exclusively(path, "mine", 0600);
    ASSERT_TRUE(has_value(outcome));
    EXPECT_EQ(*outcome, corvellactl::CreateOutcome::AlreadyExists);
    EXPECT_EQ(test_support::read_file(path), "theirs");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "key.hex" });
}

TEST(Files, ExclusiveCreationWritesTheContentWithTheGivenPermissions)
{
    ScratchDirectory directory;
    auto const path = (directory / "key.hex").string();
    auto const outcome = corvellactl::create_file_exclusively(path, "mine", 0600);
    ASSERT_TRUE(has_value(outcome));
    EXPECT_EQ(*outcome, corvellactl::CreateOutcome::Created);
    EXPECT_EQ(test_support::read_file(path), "mine");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "key.hex" });
}

TEST(Files, FailedReplacementLeavesNoTemporaryFile)
{
    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "target");
    EXPECT_EQ(error_text(corvellactl::replace_file((directory / "target").string(), "x")), "io error: Is a directory");
    EXPECT_EQ(error_text(corvellactl::replace_file((directory / "missing" / "x.json").string(), "x")),
              "io error: No such file or directory");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "target" });
}

// Whether another process could take the lock on the directory right now.
bool lock_is_free(std::filesystem::path const& directory)
{
    pid_t const child = ::fork();
    if (child == 0) {
        int const descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
        ::_exit(::flock(descriptor, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    EXPECT_EQ(test_support::entries(directory.path()), Names { "other" });
}

TEST(Files, DirectoryLockMovesWithItsValueAndFailsOnAnUnreadableDirectory)
{
    ScratchDirectory directory;
    auto const state = (directory / "state.json").string();
    {
        auto acquired = corvellactl::DirectoryLock::acquire({ state });
        ASSERT_TRUE(has_value(acquired));
        auto const moved = std::move(*acquired);
        EXPECT_FALSE(lock_is_free(directory.path()));
    }
    EXPECT_TRUE(lock_is_free(directory.path()));

    // A directory that exists but cannot be opened is an error, and nothing
    // stays locked.
    std::filesystem::create_directory(directory / "closed");
    ASSERT_EQ(::chmod((directory / "closed").c_str(), 0), 0);
    if (::geteuid() != 0) {
        auto const refused
            = corvellactl::DirectoryLock::acquire({ state, (directory / "closed" / "audit.json").string() });
        EXPECT_EQ(error_text(refused), "io error: Permission denied");
        EXPECT_TRUE(lock_is_free(directory.path()));
    }
    ASSERT_EQ(::chmod((directory / "closed").c_str(), 0700), 0);
}

TEST(FileReplacement, ContentGoesInWholeOnlyOnCommit)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    test_support::write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    // Larger than the pieces of 256 KiB the writer hands to the system at
    // once: for a bigger write the kernel takes bigger blocks of memory for
    // the file's cache.
    std::string const large = test_support::patterned((std::size_t { 20 } << 20U) + 3);
    fault_plan::Plan writes { .operation = corvellactl::FileOperation::Write };
    {
        fault_plan::Injected const counting(writes);
        ASSERT_TRUE(has_value(corvellactl::replace_file(path.string(), large)));
    }
    EXPECT_EQ(writes.seen, 81U);
    EXPECT_TRUE(test_support::read_file(path) == large);

    auto replacement = corvellactl::FileReplacement::begin(path.string());
    ASSERT_TRUE(has_value(replacement));
    ASSERT_TRUE(has_value(replacement->write("new ")));
    ASSERT_TRUE(has_value(replacement->write("")));
    ASSERT_TRUE(has_value(replacement->write("content")));
    EXPECT_TRUE(test_support::read_file(path) == large);
    // Until it is put in place the new content has no name, which a run
    // killed now would leave behind.
    EXPECT_EQ(test_support::entries(directory.path()), Names { "state.json" });
    ASSERT_TRUE(has_value(replacement->commit()));
    EXPECT_EQ(test_support::read_file(path), "new content");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "state.json" });
}

TEST(FileReplacement, DroppedWithoutCommitLeavesTheTargetAndNoTemporaryFile)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    test_support::write_file(path, "old");
    {
        auto replacement = corvellactl::FileReplacement::begin(path.string());
        ASSERT_TRUE(has_value(replacement));
        ASSERT_TRUE(has_value(replacement->write("never seen")));
    }
    EXPECT_EQ(test_support::read_file(path), "old");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "state.json" });
    EXPECT_EQ(error_text(corvellactl::FileReplacement::begin((directory / "missing" / "x.json").string())),
              "io error: No such file or directory");
}

// Only regular files are read. A FIFO without a writer is refused at once
// rather than waited on, and a device is never read (/dev/zero never ends).
TEST(Files, OnlyRegularFilesAreRead)
{
    ScratchDirectory directory;
    auto const fifo = (directory / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto const socket_path = (directory / "socket").string();
    int const listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr const*>(&address), sizeof address), 0);
    std::filesystem::create_directory(directory / "directory");
    test_support::write_file(directory / "file", "text");
    std::filesystem::create_symlink(directory / "file", directory / "link");
    std::filesystem::create_symlink(directory / "fifo", directory / "link-to-fifo");

    struct Row {
        std::string path;
        std::string expected;
    };
    std::vector<Row> const rows {
        { fifo, "io error: " + fifo + " is not a regular file" },
        { (directory / "link-to-fifo").string(), "io error: " + (directory / "link-to-fifo").string()
                                                     + " is not a regular file" },
        { socket_path, "io error: No such device or address" },
        { "/dev/zero", "io error: /dev/zero is not a regular file" },
        { "/dev/null", "io error: /dev/null is not a regular file" },
        { (directory / "directory").string(), "io error: Is a directory" },
        { (directory / "missing").string(), "io error: No such file or directory" },
        { (directory / "link").string(), "<value>" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(error_text(corvellactl::read_text(row.path)), row.expected) << row.path;
    ::close(listening);
}

// The file is read by the size it had when opened; one that grows or shrinks
// meanwhile is refused instead of read in part or without bound.
TEST(Files, AFileThatChangesWhileReadIsRefused)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    std::string const content = test_support::patterned(5000);
    for (std::string_view const change : { "grows", "shrinks" }) {
        test_support::write_file(path, content);
        fault_plan::Plan plan { .operation = fault_plan::FileOperation::Read,
                                .before = [&](std::uint64_t call) {
                                    if (call != 1)
                                        return;
                                    if (change == "grows")
                                        test_support::write_file(path, content + "more");
                                    else
                                        std::filesystem::resize_file(path, 10);
                                } };
        fault_plan::Injected const injected(plan);
        EXPECT_EQ(error_text(corvellactl::read_text(path.string())),
                  "io error: " + path.string() + " changed while it was read")
            << change;
    }
    test_support::write_file(path, "");
    EXPECT_EQ(error_text(corvellactl::read_text(path.string())), "<value>");
}

// A data file for the JSON reader reads the same mapped or copied, with
// zeroed padding after it either way; bytes that are not UTF-8 are refused
// as the copying reader refuses them, by whoever parses them.
TEST(Files, AMappedDataFileReadsAsACopiedOne)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    std::string const page(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), 'a');
    for (std::string const& content : { std::string(), std::string("{}"), page, page.substr(1), page + "\xff" }) {
        test_support::write_file(path, content);
        auto const mapped = corvellactl::read_json_text(path.string(), nullptr, corvellactl::Mapping::Always);
        auto const copied = corvellactl::read_json_text(path.string(), nullptr, corvellactl::Mapping::Never);
        ASSERT_TRUE(mapped.has_value());
        EXPECT_TRUE(mapped->mapped());
        EXPECT_EQ(mapped->view(), content);
        EXPECT_EQ(std::string_view(mapped->data() + content.size(), quenmark::json::read_padding),
                  std::string(quenmark::json::read_padding, '\0'));
        std::string const refusal = corvellactl::refused_json_text(*mapped, "x").text();
        if (content.ends_with("\xff")) {
            EXPECT_EQ(refusal, "io error: stream did not contain valid UTF-8");
            EXPECT_EQ(error_text(copied), refusal);
        } else {
            EXPECT_EQ(refusal, "json error: x");
            ASSERT_TRUE(copied.has_value());
            EXPECT_EQ(copied->view(), content);
        }
    }
}

// A mapped file that another program truncates under the reader ends the
// run with the error line a copied one gets, not a crash.
TEST(FilesDeathTest, AMappedFileTruncatedWhileReadEndsTheRunWithItsError)
{
    ScratchDirectory directory;
    auto const path = directory / "state.json";
    test_support::write_file(path, test_support::patterned(3 * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))));
    auto const mapped = corvellactl::read_json_text(path.string(), nullptr, corvellactl::Mapping::Always);
    ASSERT_TRUE(mapped.has_value() && mapped->mapped());
    EXPECT_EXIT(
        {
            std::filesystem::resize_file(path, 0);
            std::_Exit(mapped->data()[mapped->size() - 1] == 0 ? 2 : 3);
        },
        ::testing::ExitedWithCode(1), "^Error: io error: .*state.json changed while it was read\n$");
}

// Holding the lock proves that no other run uses the temporary files beside
// the guarded files, so those that killed runs left behind are removed; a
// name that only looks alike, or that is not a file, stays.
TEST(Files, TakingTheLockRemovesWhatKilledRunsLeftBeside)
{
    ScratchDirectory directory;
    test_support::write_file(directory / "state.json", "state");
    test_support::write_file(directory / "key.hex", "seed");
    Names const leftovers { ".state.json.Ab12Cd", ".state.json.000000", ".key.hex.zzzzzz" };
    Names const kept { ".state.json.Ab12C", ".state.json.Ab-2Cd", ".state.json.Ab12Cde", "state.json.Ab12Cd",
                       ".audit.json.Ab12Cd", ".state.json.Ab12Cd~" };
    for (auto const& name : kept)
        test_support::write_file(directory / name, "other");
    for (auto const& name : leftovers)
        test_support::write_file(directory / name, "left over");
    // A temporary key file that was already linked into place is the key
    // file itself under a second name: only that name goes.
    std::filesystem::remove(directory / ".key.hex.zzzzzz");
    std::filesystem::create_hard_link(directory / "key.hex", directory / ".key.hex.zzzzzz");
    std::filesystem::create_directory(directory / ".state.json.Dir123");
    std::filesystem::create_symlink(directory / "state.json", directory / ".state.json.Lnk123");

    {
        auto const lock = corvellactl::DirectoryLock::acquire(
            { (directory / "state.json").string(), (directory / "key.hex").string() });
        ASSERT_TRUE(has_value(lock));
    }
    Names expected = kept;
    for (auto const& name : { ".state.json.Dir123", ".state.json.Lnk123", "key.hex", "state.json" })
        expected.emplace_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test_support::entries(directory.path()), expected);
    EXPECT_EQ(test_support::read_file(directory / "key.hex"), "seed");
}

// Files replaced together: when a later one cannot be put in place, the
// earlier ones get their old content back, whether they existed or not.
TEST(FileReplacement, FilesReplacedTogetherAreUndoneWhenALaterOneFails)
{
    struct Row {
        char const* name;
        bool first_exists;
        bool second_is_directory; // the real file system refuses the rename
        std::uint64_t failing_rename;
        std::map<std::uint64_t, int> also_failing {};
        char const* first_after { "old chain" };
    };
    // Renames counted: the temporary names given to both new files (1, 2),
    // the second name kept for the old first file (3), the renames.
    std::vector<Row> const rows {
        { "second path now a directory", true, true, 0 },
        { "second path now a directory, first file new", false, true, 0 },
        { "naming a new file fails", true, false, 2 },
        { "keeping the old first file fails", true, false, 3 },
        { "first rename fails", true, false, 4 },
        { "second rename fails", true, false, 5 },
        { "second rename fails, first file new", false, false, 4 },
        // Without a second name for the old file the new one stays, whole.
        { "second rename fails, no hard links", true, false, 5, { { 3, EPERM } }, "new" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory directory;
        auto const first = directory / "audit.json";
        auto const second = directory / "state.json";
        if (row.first_exists)
            test_support::write_file(first, "old chain");
        test_support::write_file(second, "old state");
        auto const before = test_support::entries(directory.path());

        {
            std::array<corvellactl::FileReplacement, 2> files { *corvellactl::FileReplacement::begin(first.string()),
                                                                *corvellactl::FileReplacement::begin(second.string()) };
            for (auto& file : files) {
                ASSERT_TRUE(has_value(file.write("new")));
                ASSERT_TRUE(has_value(file.finish()));
            }
            if (row.second_is_directory) {
                std::filesystem::remove(second);
                std::filesystem::create_directory(second);
            }
            fault_plan::Plan plan { .operation = fault_plan::FileOperation::Rename, .nth = row.failing_rename,
                                    .error = EIO, .more = row.also_failing };
            fault_plan::Injected const injected(plan);
            EXPECT_NE(error_text(corvellactl::install_together(files)), "<value>");
        }
        if (row.first_exists) {
            EXPECT_EQ(test_support::read_file(first), row.first_after);
        }
        EXPECT_EQ(std::filesystem::exists(first), row.first_exists);
        if (!row.second_is_directory) {
            EXPECT_EQ(test_support::read_file(second), "old state");
        }
        EXPECT_EQ(test_support::entries(directory.path()), before);
    }
}

// Whatever step of creating the key file fails, no file is left that holds
// the seed: the key file exists whole, or not at all. The same where files
// cannot be made without a name, where the new key gets a temporary name
// first: one that cannot be removed is reported, never emptied.
TEST(Files, AFailedExclusiveCreationLeavesNoCopyOfTheSecret)
{
    for (bool const unnamed : { true, false }) {
        for (auto const operation : fault_plan::every_operation) {
            for (std::uint64_t nth = 1;; ++nth) {
                SCOPED_TRACE(std::string(unnamed ? "" : "named, ") + std::string(fault_plan::name(operation)) + " "
                             + std::to_string(nth));
                ScratchDirectory directory;
                auto const path = (directory / "key.hex").string();
                fault_plan::Plan plan { .operation = operation, .nth = nth,
                                        .error = fault_plan::typical_error(operation) };
                if (!unnamed)
                    plan.first_of[fault_plan::FileOperation::Open] = EOPNOTSUPP;
                auto const outcome = [&] {
                    fault_plan::Injected const injected(plan);
                    return corvellactl::create_file_exclusively(path, "secret seed", 0600);
                }();
                auto const left = test_support::entries(directory.path());
                if (has_value(outcome)) {
                    EXPECT_EQ(left, Names { "key.hex" });
                    EXPECT_EQ(test_support::read_file(path), "secret seed");
                } else if (operation == fault_plan::FileOperation::Remove) {
                    EXPECT_EQ(error_text(outcome), "io error: " + (directory / left.at(0)).string()
                                                       + " (a second name of " + path
                                                       + ") could not be removed: Device or resource busy");
                    EXPECT_EQ(test_support::read_file(path), "secret seed");
                } else {
                    EXPECT_EQ(left, Names {});
                }
                if (!plan.fired)
                    break;
            }
        }
    }
}

// An --output is standard output for "-", a new or regular file replaced
// atomically (through a link, the file it leads to), and nothing else, which
// is refused before and again when written, creating or changing nothing.
// Writing removes what killed runs left beside it.
TEST(Files, OutputIsAMissingOrRegularFileAndNothingElse)
{
    ScratchDirectory directory;
    auto const at = [&directory](std::string const& name) { return (directory / name).string(); };
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(at("directory"));
    test_support::write_file(at("file"), "old");
    test_support::write_file(at(".file.Ab12Cd"), "left over");
    for (auto const* link : { "file", "fifo", "directory", "missing" })
        std::filesystem::create_symlink(link, at(std::string("link-to-") + link));
    corvellactl::CommandContext const context { at("state.json"), at("key.hex"), at("audit.json") };
    auto const before = test_support::entries(directory.path());
    for (auto const& refused : { std::string("/dev/null"), at("fifo"), at("directory"), at("link-to-fifo"),
                                 at("link-to-directory"), at("link-to-missing") }) {
        std::string const text = "--output cannot replace " + refused + ": not a regular file; give - for standard output";
        EXPECT_EQ(error_text(corvellactl::output_file(context, refused)), text);
        EXPECT_EQ(error_text(corvellactl::write_output(refused, "new")), text);
    }
    EXPECT_EQ(error_text(corvellactl::output_file(context, at("state.json"))),
              "--output must not be the state, key or audit file: " + at("state.json"));
    EXPECT_EQ(test_support::entries(directory.path()), before);
    EXPECT_FALSE(corvellactl::output_file(context, std::string("-"))->has_value());

    ASSERT_TRUE(has_value(corvellactl::write_output(at("link-to-file"), "new")));
    EXPECT_TRUE(std::filesystem::is_symlink(at("link-to-file")));
    EXPECT_EQ(test_support::read_file(at("file")), "new");
    EXPECT_FALSE(std::filesystem::exists(at(".file.Ab12Cd")));

    // A file that receives standard output would lose what it holds.
    int const saved = ::dup(STDOUT_FILENO);
    int const appended = ::open(at("file").c_str(), O_WRONLY | O_APPEND);
    ::dup2(appended, STDOUT_FILENO);
    auto const refused = corvellactl::output_file(context, std::string("/dev/stdout"));
    ::dup2(saved, STDOUT_FILENO);
    ::close(appended);
    ::close(saved);
    EXPECT_EQ(error_text(refused),
              "--output cannot replace /dev/stdout: the command's own output goes there; give - for standard output");
}

} // namespace
