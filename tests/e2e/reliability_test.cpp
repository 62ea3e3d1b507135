// What the tool does with files it cannot use as data: paths that name a
// FIFO, a device or a directory are refused at once, and a file system that
// runs out of space at any point leaves the old files or the new ones.

#include "run_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <filesystem>
#include <map>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;

std::string first_word_after(std::string const& text, std::string const& prefix)
{
    auto const start = text.find(prefix);
    if (start == std::string::npos)
        return {};
    auto const from = start + prefix.size();
    return text.substr(from, text.find(' ', from) - from);
}

// A FIFO that nobody writes to would block a plain open for ever, and a
// device like /dev/zero never ends: each is refused before it is read, with
// one error line, and nothing is written.
TEST(NonRegularFiles, AreRefusedAtOnceByEveryCommandThatReadsThem)
{
    ScratchDirectory directory;
    ASSERT_EQ(::mkfifo((directory / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(directory / "dir");
    auto const questions = e2e::example_questions().string();
    struct Row {
        std::vector<std::string> arguments;
        std::string err;
    };
    std::vector<Row> const rows {
        { { "--state", "fifo", "assessment", "list" }, "Error: io error: fifo is not a regular file\n" },
        { { "--state", "/dev/zero", "report", "readiness" }, "Error: io error: /dev/zero is not a regular file\n" },
        { { "--state", "dir", "assessment", "create", "--title", "T", "--min-correct", "1", "--questions", questions },
          "Error: io error: Is a directory\n" },
        { { "assessment", "create", "--title", "T", "--min-correct", "1", "--questions", "fifo" },
          "Error: io error: fifo is not a regular file\n" },
        { { "assessment", "create", "--title", "T", "--min-correct", "1", "--questions", "/dev/full" },
          "Error: io error: /dev/full is not a regular file\n" },
        { { "--key", "fifo", "audit", "verify" }, "Error: io error: fifo is not a regular file\n" },
        { { "--key", "/dev/null", "audit", "verify" }, "Error: io error: /dev/null is not a regular file\n" },
        { { "--audit", "fifo", "audit", "verify" }, "Error: io error: fifo is not a regular file\n" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.arguments.back());
        auto const result = run(directory.path(), row.arguments);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.status, 1);
    }
    auto const doctor = run(directory.path(), { "--state", "fifo", "doctor" });
    EXPECT_EQ(doctor.err, "PROBLEM: state file: io error: fifo is not a regular file\nError: 1 problem(s) found\n");
    EXPECT_EQ(e2e::entries(directory.path()), (Names { "corvella-signing-key.hex", "dir", "fifo" }));
}

// A tmpfs of a fixed size, mounted for the length of a test.
class SmallFileSystem {
public:
    SmallFileSystem(std::filesystem::path path, std::string const& size) : m_path(std::move(path))
    {
        std::filesystem::create_directory(m_path);
        std::string const options = "size=" + size + ",mode=0700";
        if (::mount("tmpfs", m_path.c_str(), "tmpfs", 0, options.c_str()) == 0)
            m_mounted = true;
        else
            m_error = std::strerror(errno);
    }
    SmallFileSystem(SmallFileSystem const&) = delete;
    SmallFileSystem& operator=(SmallFileSystem const&) = delete;
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    std::string const& error() const { return m_error; }

private:
    std::filesystem::path m_path;
    bool m_mounted { false };
    std::string m_error;
};

// Takes all the space of the file system but `free_bytes`.
void fill_leaving(std::filesystem::path const& filler, std::size_t free_bytes)
{
    int const descriptor = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(descriptor, 0);
    std::string const block(1 << 16, 'f');
    std::size_t size = 0;
    for (;;) {
        ssize_t const written = ::write(descriptor, block.data(), block.size());
        if (written <= 0)
            break;
        size += static_cast<std::size_t>(written);
    }
    ASSERT_EQ(::ftruncate(descriptor, static_cast<off_t>(size > free_bytes ? size - free_bytes : 0)), 0);
    ::close(descriptor);
}

// With every amount of free space, from none up to enough, a passing attempt
// (two events and three changed records) either stores everything and says
// so, or fails with one line and leaves every file as it was.
TEST(FullFileSystem, EveryAmountOfFreeSpaceStoresAllOrNothing)
{
    ScratchDirectory directory;
    SmallFileSystem const small(directory / "small", "1m");
    if (!small.mounted())
        GTEST_SKIP() << "a small tmpfs cannot be mounted here (" << small.error() << "); run as root to include this test";
    auto const data = directory / "small";

    // A state and chain of some tens of kilobytes, made by the tool.
    auto const created = run(data, { "assessment", "create", "--title", "Full", "--min-correct", "2", "--questions",
                                     e2e::example_questions().string() });
    std::string const assessment = first_word_after(created.out, "created assessment ");
    ASSERT_EQ(run(data, { "assessment", "publish", assessment }).status, 0);
    std::string assignment;
    for (int index = 0; index < 30; ++index)
        assignment = first_word_after(run(data, { "assign", "--assessment-id", assessment }).out, "created assignment ");
    ASSERT_FALSE(assignment.empty());
    std::map<std::string, std::string> before;
    for (auto const& name : e2e::entries(data))
        before[name] = e2e::read_file(data / name);

    // The example's answer key: the attempt passes.
    std::string const answers = "1,1,0";

    bool stored = false;
    int refusals = 0;
    for (std::size_t free_bytes = 0; !stored; free_bytes += 4096) {
        SCOPED_TRACE(std::to_string(free_bytes) + " bytes free");
        ASSERT_LT(free_bytes, std::size_t { 1 } << 20U);
        for (auto const& [name, content] : before)
            e2e::write_file(data / name, content);
        fill_leaving(directory / "small" / "filler", free_bytes);
        auto const result = run(data, { "attempt", "--assignment-id", assignment, "--answers", answers });
        std::filesystem::remove(data / "filler");
        if (result.status == 0) {
            stored = true;
            std::string const attempt = first_word_after(result.out, "attempt ");
            EXPECT_NE(e2e::read_file(data / "corvella-state.json").find(attempt), std::string::npos);
            EXPECT_NE(e2e::read_file(data / "corvella-audit.json").find(attempt), std::string::npos);
            EXPECT_EQ(run(data, { "audit", "verify" }).status, 0);
        } else {
            ++refusals;
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: io error: No space left on device\n");
            for (auto const& [name, content] : before)
                EXPECT_TRUE(e2e::read_file(data / name) == content) << name << " changed";
        }
        Names expected;
        for (auto const& [name, content] : before)
            expected.push_back(name);
        EXPECT_EQ(e2e::entries(data), expected);
    }
    EXPECT_GT(refusals, 0);
    std::cout << "full file system: " << refusals << " refusals before the attempt fit\n";
}

} // namespace
