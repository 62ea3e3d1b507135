// corvellactl: parse the command line, run one command, report its outcome.

#include "cli.h"
#include "output.h"
#include "progress.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <span>
#include <string>
#include <unistd.h>

namespace {

// A standard stream that the caller closed is held open on /dev/null the
// wrong way round: writing to it still fails as writing to a closed stream
// does, but no file the command opens can take its number and receive lines
// meant for the stream.
void hold_closed_standard_streams()
{
    for (int const descriptor : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO }) {
        // The lower numbers are open, so open() gives this one.
        if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace corvellactl;
    hold_closed_standard_streams();
    std::span<char const* const> const arguments(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
    auto cli = parse_command_line(arguments, std::cout, std::cerr);
    if (!cli)
        return cli.error().status;

    // Long work shows its progress on standard error, and only on a terminal.
    enable_progress_on_terminal(STDERR_FILENO);
    auto const result = run_command(*cli);
    std::cout.flush();
    std::fflush(stdout);
    if (!result) {
        // Nothing is left to report a failure to when standard error fails.
        static_cast<void>(print_to_stderr("Error: " + result.error().text() + "\n"));
        return result.error().kind() == CommandError::Kind::Stored ? exit_stored_unprinted : exit_failure;
    }
    return exit_success;
}
