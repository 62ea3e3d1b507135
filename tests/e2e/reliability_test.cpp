// What the tool does with files it cannot use as data: paths that name a
// FIFO, a device or a directory are refused at once, a file system that runs
// out of space at any point leaves the old files or the new ones, a change
// whose result cannot be printed is still reported as stored, and no input
// takes memory out of proportion to its size.

#include "workflow_support.h"

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

// The sanitizers' own bookkeeping takes memory of its own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

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
        // An output file is replaced, which a device or a pipe must never be.
        { { "audit", "checkpoint", "--output", "/dev/null" },
          "Error: --output cannot replace /dev/null: not a regular file; give - for standard output\n" },
        { { "credential", "export", "--certificate-id", "x", "--output", "/dev/stdout" },
          "Error: --output cannot replace /dev/stdout: not a regular file; give - for standard output\n" },
        { { "audit", "prove", "--from-checkpoint", "old.note", "--output", "/dev/null" },
          "Error: --output cannot replace /dev/null: not a regular file; give - for standard output\n" },
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

// A change that is stored is not reported as a failed one when its result
// cannot be printed (standard output full or closed), or a script would make
// it again: status 3 and a line that says it was stored.
TEST(UnprintableResults, AStoredChangeIsNeverReportedAsFailed)
{
    struct Row {
        std::vector<std::string> arguments;
        std::string stored; // empty: nothing is stored, a plain failure
        Names changed;
    };
    Names const records { e2e::audit_file, e2e::key_file, e2e::state_file };
    std::vector<Row> const rows {
        { { "assessment", "publish", e2e::fixture_assessment }, "the change was stored", { e2e::state_file } },
        { { "assign", "--assessment-id", e2e::fixture_assessment }, "the change was stored", records },
        { { "batch", "assign", "--assessment-id", e2e::fixture_assessment, "cohort.csv" }, "the change was stored",
          records },
        { { "audit", "checkpoint", "--output", "note.txt" }, "note.txt was written", { e2e::key_file, "note.txt" } },
        { { "assessment", "list" }, "", {} },
    };
    for (auto const& row : rows) {
        for (bool const closed : { false, true }) {
            SCOPED_TRACE(row.arguments.front() + (closed ? ", standard output closed" : ", standard output full"));
            ScratchDirectory directory;
            e2e::write_file(directory / e2e::state_file, e2e::standard_state());
            e2e::write_file(directory / "cohort.csv", "principal_id\nnew\nnew\n");
            auto const before = e2e::snapshot(directory.path());
            int const full = ::open("/dev/full", O_WRONLY);
            auto const result = run(directory.path(), row.arguments, nullptr, closed ? -1 : full);
            ::close(full);
            std::string const why
                = std::string("io error: ") + (closed ? "Bad file descriptor" : "No space left on device");
            EXPECT_EQ(result.err, "Error: "
                                      + (row.stored.empty() ? why
                                                            : row.stored + ", but its result could not be printed: " + why)
                                      + "\n");
            EXPECT_EQ(result.status, row.stored.empty() ? 1 : 3);
            EXPECT_EQ(e2e::changed_files(before, e2e::snapshot(directory.path())), row.changed);
        }
    }
}

// No run takes more than three times the bytes it reads plus 64 MiB. Files
// small by nature (a key, a credential) are refused above their cap before a
// byte is read; a sparse file of 500 MB costs nothing to make.
TEST(BoundedMemory, NoInputTakesMemoryOutOfProportion)
{
    constexpr std::size_t mib = std::size_t { 1 } << 20U;
    struct Row {
        std::string file;
        // Up to `bytes` of `start`, then `item` again and again, then `end`:
        // the most values per byte. None: a sparse file of 500 MB.
        std::string_view start, item, end;
        std::size_t bytes;
        std::vector<std::string> arguments;
        std::string err; // the start of standard error
        bool read;       // whether the run reads the file
    };
    std::vector<Row> const rows {
        { "c.json", "[", "\"a\",", "\"a\"]", 8 * mib, { "credential", "verify", "c.json" },
          "Error: c.json is too large to be a credential: 8388605 bytes, at most 1048576\n", false },
        { "c.json", "[", "\"a\",", "\"a\"]", mib, { "credential", "verify", "c.json" },
          "Error: c.json is not a verifiable credential: ", true },
        { "p.txt", "", "", "", 0,
          { "audit", "verify-proof", "p.txt", "--public-key",
            "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a" },
          "Error: p.txt is too large to be a proof: 500000000 bytes, at most 1048576\n", false },
        { e2e::key_file, "", "", "", 0, { "audit", "verify" },
          "Error: corvella-signing-key.hex is too large to be a signing key file: 500000000 bytes, at most 4096\n",
          false },
        { "rows.csv", "principal_id\n", "a\n", "", mib,
          { "batch", "assign", "--assessment-id", e2e::fixture_assessment, "rows.csv" },
          "rows.csv:2: invalid IdentityId identifier: ", true },
    };
    int const null = ::open("/dev/null", O_WRONLY);
    for (auto const& row : rows) {
        ScratchDirectory directory;
        e2e::write_file(directory / e2e::state_file, e2e::standard_state());
        {
            // Made and freed before the run, whose count starts with this process's memory.
            std::string content(row.start);
            while (row.bytes > 0 && content.size() + row.item.size() + row.end.size() <= row.bytes)
                content += row.item;
            e2e::write_file(directory / row.file, content.append(row.end));
        }
        if (row.bytes == 0)
            std::filesystem::resize_file(directory / row.file, 500'000'000);
        auto const size = std::filesystem::file_size(directory / row.file);
        SCOPED_TRACE(row.file + " of " + std::to_string(size) + " bytes");

        auto const result = run(directory.path(), row.arguments, nullptr, null);
        auto const peak = result.peak_bytes;
        EXPECT_EQ(result.err.substr(0, row.err.size()), row.err);
        std::size_t const bound = 3 * ((row.read ? size : 0) + e2e::standard_state().size()) + 64 * mib;
        std::cout << "bounded memory: " << row.arguments[0] << " on " << size << " bytes: peak " << peak / 1024
                  << " KiB, at most " << bound / 1024 << " KiB\n";
        if (!sanitized) {
            EXPECT_LE(peak, bound);
        }
    }
    ::close(null);
}

} // namespace
