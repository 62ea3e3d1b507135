#include "store/files.h"

#include "scratch_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

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

    // Larger than the pieces the writer hands to the system at once.
    std::string const large = test_support::patterned((std::size_t { 20 } << 20U) + 3);
    ASSERT_TRUE(has_value(corvellactl::replace_file(path.string(), large)));
    EXPECT_TRUE(test_support::read_file(path) == large);

    auto replacement = corvellactl::FileReplacement::begin(path.string());
    ASSERT_TRUE(has_value(replacement));
    ASSERT_TRUE(has_value(replacement->write("new ")));
    ASSERT_TRUE(has_value(replacement->write("")));
    ASSERT_TRUE(has_value(replacement->write("content")));
    EXPECT_TRUE(test_support::read_file(path) == large);
    EXPECT_EQ(test_support::entries(directory.path()).size(), 2u);
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

} // namespace
