// What a terminal sees. Progress lines: drawn on standard error when it is
// a terminal and the input is big, never otherwise. Each command runs twice,
// once with standard error on a pipe and once on a pseudo-terminal; standard
// output goes to a pipe both times. And printed text, escaped.

#include "workflow_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <pty.h>
#include <string>
#include <termios.h>
#include <vector>

namespace {

using e2e::read_file;
using e2e::run;
using e2e::RunResult;
using e2e::ScratchDirectory;
using e2e::write_file;

// Runs the binary with standard error (or standard output) on a
// pseudo-terminal in raw mode (so the bytes arrive as written, with no
// line-feed translation) of 100 columns; `err` (or `out`) holds what the
// terminal received.
RunResult run_on_terminal(std::filesystem::path const& directory, std::vector<std::string> const& arguments,
                          bool output_on_terminal = false)
{
    int terminal = -1;
    int device = -1;
    winsize size {};
    size.ws_col = 100;
    size.ws_row = 24;
    if (::openpty(&terminal, &device, nullptr, nullptr, &size) != 0)
        std::abort();
    termios mode {};
    ::tcgetattr(device, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(device, TCSANOW, &mode);
    int out_pipe[2];
    if (::pipe(out_pipe) != 0)
        std::abort();
    pid_t const child = output_on_terminal ? e2e::start(directory, arguments, device, out_pipe[1])
                                           : e2e::start(directory, arguments, out_pipe[1], device);
    ::close(out_pipe[1]);
    ::close(device);

    RunResult result;
    std::array<pollfd, 2> fds { pollfd { out_pipe[0], POLLIN, 0 }, pollfd { terminal, POLLIN, 0 } };
    std::array<std::string*, 2> sinks { &result.out, &result.err };
    if (output_on_terminal)
        std::swap(sinks[0], sinks[1]);
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::abort();
        }
        for (std::size_t index = 0; index < fds.size(); ++index) {
            if (fds[index].fd < 0 || fds[index].revents == 0)
                continue;
            char buffer[4096];
            ssize_t const count = ::read(fds[index].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[index]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                // The terminal reports EIO once the program's end is closed.
                ::close(fds[index].fd);
                fds[index].fd = -1;
                --open_count;
            }
        }
    }
    result.status = e2e::wait_for(child);
    return result;
}

constexpr std::size_t padding = std::size_t { 16 } << 20U;

// The file with `padding` blanks after its opening bracket: the same JSON
// value, big enough to be worth a progress line.
void pad(std::filesystem::path const& path)
{
    std::string const text = read_file(path);
    write_file(path, text.substr(0, 1) + std::string(padding, ' ') + text.substr(1));
}

// A published assessment and one assignment of it, hence a chain of one event.
void make_files(std::filesystem::path const& directory)
{
    write_file(directory / e2e::state_file,
               "{\"assessments\": [" + e2e::fixture_assessment_json("published", 3) + "]}");
    ASSERT_EQ(run(directory, { "assign", "--assessment-id", e2e::fixture_assessment }).status, 0);
}

constexpr char const* state_line = "\rloading state file (16.0 MiB)...\033[K\r\033[K";
constexpr char const* chain_line = "\rverifying audit chain (16.0 MiB)...\033[K\r\033[K";

TEST(Progress, OnlyATerminalSeesItAndOnlyForBigFiles)
{
    struct Row {
        std::vector<std::string> arguments;
        bool pad_state;
        bool pad_chain;
        bool break_state;
        // What the terminal shows before the bytes a pipe gets.
        std::string progress;
    };
    std::vector<Row> const rows {
        { { "assessment", "list" }, true, false, false, state_line },
        { { "report", "readiness" }, true, true, false, state_line },
        { { "audit", "verify" }, true, true, false, chain_line },
        { { "doctor" }, true, true, false, std::string(state_line) + chain_line },
        { { "assign", "--assessment-id", e2e::fixture_assessment, "--due-in-days", "3" }, true, false, false,
          state_line },
        // A failure prints its one line after the progress line is erased.
        { { "assessment", "list" }, true, false, true, state_line },
        { { "doctor" }, true, true, true, std::string(state_line) + chain_line },
        // Small files draw nothing.
        { { "doctor" }, false, false, false, "" },
        { { "audit", "verify" }, false, false, false, "" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.arguments.front() + (row.pad_state ? " padded state" : "")
                     + (row.pad_chain ? " padded chain" : "") + (row.break_state ? " broken" : ""));
        ScratchDirectory directory;
        make_files(directory.path());
        // The same run on files of normal size, as scripts see it today.
        ScratchDirectory small;
        std::filesystem::copy(directory.path(), small.path(), std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        if (row.break_state) {
            write_file(directory / e2e::state_file, read_file(directory / e2e::state_file) + "x");
            write_file(small / e2e::state_file, read_file(small / e2e::state_file) + "x");
        }
        if (row.pad_state)
            pad(directory / e2e::state_file);
        if (row.pad_chain)
            pad(directory / e2e::audit_file);
        ScratchDirectory big_copy;
        std::filesystem::copy(directory.path(), big_copy.path(), std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);

        auto const on_pipe = run(directory.path(), row.arguments);
        auto const on_terminal = run_on_terminal(big_copy.path(), row.arguments);
        auto const today = run(small.path(), row.arguments);

        // Nothing but the progress bytes differs, and only on the terminal.
        EXPECT_EQ(on_pipe.status, today.status);
        EXPECT_EQ(on_terminal.status, today.status);
        if (row.arguments.front() == "assign") {
            // A new assignment id each run: compare the line's shape.
            EXPECT_EQ(on_pipe.out.substr(0, 19), today.out.substr(0, 19));
            EXPECT_EQ(on_terminal.out.size(), today.out.size());
        } else {
            EXPECT_EQ(on_pipe.out, today.out);
            EXPECT_EQ(on_terminal.out, today.out);
        }
        if (row.break_state) {
            // The reader's position differs with the padding, not the rest.
            EXPECT_NE(on_pipe.err.find("json error: "), std::string::npos) << on_pipe.err;
        } else {
            EXPECT_EQ(on_pipe.err, today.err);
        }
        EXPECT_EQ(on_terminal.err, row.progress + on_pipe.err);
    }
}

// Text is stored and printed to a pipe as given; a terminal sees its
// control characters and bidirectional overrides escaped.
TEST(Terminal, SeesControlCharactersOfPrintedTextEscaped)
{
    ScratchDirectory directory;
    std::string const title = "X\x1b]0;owned\x07Y\u009b2J\u202eZ";
    ASSERT_EQ(run(directory.path(), { "assessment", "create", "--title", title, "--min-correct", "1", "--questions",
                                      e2e::example_questions().string() }).status, 0);
    auto const on_pipe = run(directory.path(), { "assessment", "list" });
    auto const on_terminal = run_on_terminal(directory.path(), { "assessment", "list" }, /*output_on_terminal=*/true);
    auto expected = on_pipe.out;
    ASSERT_NE(expected.find(title), std::string::npos) << on_pipe.out;
    expected.replace(expected.find(title), title.size(), "X\\u001b]0;owned\\u0007Y\\u009b2J\\u202eZ");
    EXPECT_EQ(on_terminal.out, expected);
}

} // namespace
