#include "progress.h"

#include "scratch_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using corvellactl::ProgressLine;
using corvellactl::ProgressSettings;
using test_support::read_file;
using test_support::ScratchDirectory;

constexpr std::size_t mebibyte = std::size_t { 1 } << 20U;

// One step of a run: the clock moves on by `after`, then the line is told
// `done` items and `bytes` read (or finished, when `finish` is set), and the
// bytes drawn by that step are `drawn`.
struct Step {
    std::chrono::milliseconds after;
    std::size_t done;
    std::size_t bytes;
    std::string drawn;
    bool finish { false };
};

struct Scenario {
    std::string name;
    std::size_t total_bytes;
    std::size_t columns;
    std::string first; // drawn on construction
    std::vector<Step> steps;
    std::string at_end; // drawn when the line goes away
};

TEST(ProgressLine, DrawsInPlaceAtMostOncePerIntervalAndErasesItself)
{
    std::vector<Scenario> const runs {
        { "smaller than the minimum: nothing at all", 16 * mebibyte - 1, 80, "",
          { { 1000ms, 500, mebibyte, "" }, { 1000ms, 900, 2 * mebibyte, "" } }, "" },
        { "at the minimum: a first line at once, then one per interval, the rate from the first update", 16 * mebibyte,
          80, "\rverifying audit chain (16.0 MiB)...\033[K",
          {
              { 100ms, 100, mebibyte, "" },
              { 150ms, 1000, 4 * mebibyte, "\rverifying audit chain: 1000 of ~4000 events (25%), 6000 events/s\033[K" },
              { 249ms, 1500, 6 * mebibyte, "" },
              { 1ms, 2000, 8 * mebibyte, "\rverifying audit chain: 2000 of ~4000 events (50%), 4750 events/s\033[K" },
              { 0ms, 0, 0, "\r\033[K", true },
          },
          "" },
        { "no bytes known yet: the count and the rate only", 20 * mebibyte, 80,
          "\rverifying audit chain (20.0 MiB)...\033[K",
          { { 500ms, 64, 0, "" }, { 500ms, 192, 0, "\rverifying audit chain: 192 events, 256 events/s\033[K" } },
          "\r\033[K" },
        { "a narrow terminal: cut to one column less than its width", 3 * (std::size_t { 1 } << 30U), 24,
          "\rverifying audit chain (\033[K",
          { { 0ms, 0, 0, "" }, { 2000ms, 3, 1024, "\rverifying audit chain: \033[K" } }, "\r\033[K" },
    };
    for (auto const& run : runs) {
        SCOPED_TRACE(run.name);
        ScratchDirectory directory;
        auto const path = directory / "terminal";
        int const descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(descriptor, 0);
        auto now = std::chrono::steady_clock::time_point {};
        std::size_t written = 0;
        // The bytes drawn since the last look.
        auto const drawn = [&] {
            std::string const all = read_file(path);
            std::string fresh = all.substr(written);
            written = all.size();
            return fresh;
        };
        {
            ProgressLine line("verifying audit chain", "events", run.total_bytes,
                              ProgressSettings { .descriptor = descriptor,
                                                 .columns = run.columns,
                                                 .now = [&now] { return now; } });
            EXPECT_EQ(line.active(), !run.first.empty());
            EXPECT_EQ(drawn(), run.first);
            for (auto const& step : run.steps) {
                now += step.after;
                if (step.finish)
                    line.finished();
                else
                    line.advanced(step.done, step.bytes);
                EXPECT_EQ(drawn(), step.drawn) << step.done;
            }
        }
        EXPECT_EQ(drawn(), run.at_end);
        ::close(descriptor);
    }
}

TEST(ProgressLine, OffUnlessStandardErrorIsATerminal)
{
    // Without enable_progress_on_terminal(), and with a pipe, nothing is drawn.
    EXPECT_FALSE(ProgressLine("loading state file", "records", 16 * mebibyte).active());
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    corvellactl::enable_progress_on_terminal(pipe_ends[1]);
    ProgressLine const line("loading state file", "records", 16 * mebibyte);
    EXPECT_FALSE(line.active());
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
}

// Draws the first line of a big piece of work on standard error, then erases it.
void draw_on_standard_error(std::string_view task)
{
    ProgressLine const line(task, "events", 16 * mebibyte, ProgressSettings { .descriptor = STDERR_FILENO });
}

TEST(ProgressLine, ABackgroundJobDrawsNothingOnItsTerminal)
{
    int terminal = -1;
    pid_t const child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child leads a session on the pseudo-terminal and its process
        // group is the foreground one; a group of its own child's is not.
        draw_on_standard_error("in the foreground");
        pid_t const job = ::fork();
        if (job == 0) {
            ::setpgid(0, 0);
            draw_on_standard_error("in the background");
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(job, &status, 0);
        ::_exit(0);
    }
    std::string seen;
    for (;;) {
        char buffer[256];
        ssize_t const count = ::read(terminal, buffer, sizeof buffer);
        if (count > 0)
            seen.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break; // EIO once the session has ended
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    EXPECT_EQ(seen, "\rin the foreground (16.0 MiB)...\033[K\r\033[K");
}

} // namespace
