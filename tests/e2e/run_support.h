#pragma once

// Running the built corvellactl in a scratch directory and looking at what it
// left behind, for the end-to-end tests. Header-only: every test program
// includes it.

#include "scratch_files.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace e2e {

struct RunResult {
    std::string out;
    std::string err;
    int status { -1 };
    // The peak resident memory of the run, as the kernel counts it.
    std::size_t peak_bytes { 0 };
};

using test_support::entries;
using test_support::Names;
using test_support::read_file;
using test_support::ScratchDirectory;
using test_support::write_file;

// Starts the binary with the arguments in `directory`, with no input, and
// returns its process id; its output goes to the two descriptors (standard
// output is closed when `out_fd` is negative).
inline pid_t start(std::filesystem::path const& directory, std::vector<std::string> const& arguments, int out_fd,
                   int err_fd, int in_fd = -1)
{
    std::vector<char*> argv;
    std::string binary = CORVELLACTL_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies(arguments);
    for (auto& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t const child = ::fork();
    if (child == 0) {
        ::dup2(in_fd >= 0 ? in_fd : ::open("/dev/null", O_RDONLY), 0);
        if (out_fd >= 0)
            ::dup2(out_fd, 1);
        else
            ::close(1);
        ::dup2(err_fd, 2);
        if (::chdir(directory.c_str()) != 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

inline int wait_for(pid_t child, std::size_t* peak_bytes = nullptr)
{
    int status = 0;
    rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) { }
    if (peak_bytes != nullptr)
        *peak_bytes = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// For run(): standard output on a pipe, collected in `out`.
inline constexpr int piped_output = -2;

// Runs the binary with the arguments in `directory` and collects its
// standard output, standard error and exit status.
// Standard input is empty, or `input` when given; standard output goes to
// `out_fd` instead when given (closed when -1).
inline RunResult run(std::filesystem::path const& directory, std::vector<std::string> const& arguments,
                     std::string const* input = nullptr, int out_fd = piped_output)
{
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0)
        std::abort();
    int in_fd = -1;
    if (input != nullptr) {
        // Held in an unlinked file, so no pipe can fill up before the program reads.
        char name[] = "/tmp/corvella-input.XXXXXX";
        in_fd = ::mkstemp(name);
        if (in_fd < 0 || ::write(in_fd, input->data(), input->size()) != static_cast<ssize_t>(input->size())
            || ::lseek(in_fd, 0, SEEK_SET) != 0)
            std::abort();
        ::unlink(name);
    }
    pid_t const child = start(directory, arguments, out_fd == piped_output ? out_pipe[1] : out_fd, err_pipe[1], in_fd);
    if (in_fd >= 0)
        ::close(in_fd);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    RunResult result;
    std::array<pollfd, 2> fds { pollfd { out_pipe[0], POLLIN, 0 }, pollfd { err_pipe[0], POLLIN, 0 } };
    std::array<std::string*, 2> sinks { &result.out, &result.err };
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
                ::close(fds[index].fd);
                fds[index].fd = -1;
                --open_count;
            }
        }
    }
    result.status = wait_for(child, &result.peak_bytes);
    return result;
}

// The example questions file shipped with the sources.
inline std::filesystem::path example_questions()
{
    return std::filesystem::path(CORVELLA_SOURCE_DIR) / "examples" / "questions.json";
}

} // namespace e2e
