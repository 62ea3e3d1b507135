// ref_noop: does nothing, but links the same libraries as corvellactl and
// keeps them linked (the parser and the dispatcher are referenced from a
// branch that never runs), so its run time is the start-up floor of the tool.

#include "cli.h"

#include <iostream>
#include <span>

int main(int argc, char** argv)
{
    // Never true in the benchmark.
    if (argc > 1000) {
        std::span<char const* const> const arguments(argv + 1, static_cast<std::size_t>(argc - 1));
        auto const cli = corvellactl::parse_command_line(arguments, std::cout, std::cerr);
        if (!cli)
            return cli.error().status;
        return corvellactl::run_command(*cli) ? 0 : 1;
    }
    return 0;
}
