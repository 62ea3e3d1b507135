// corvellactl: parse the command line, run one command, report its outcome.

#include "cli.h"
#include "progress.h"

#include <cstdio>
#include <iostream>
#include <span>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace corvellactl;
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
        std::string const line = "Error: " + result.error().text() + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        return exit_failure;
    }
    return exit_success;
}
