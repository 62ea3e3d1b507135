#pragma once

// The command line of corvellactl: the global file options and the command
// tree of commands/table.cpp, parsed into the one command to run.

#include "command.h"
#include "context.h"

#include <iosfwd>
#include <memory>
#include <span>
#include <string_view>

namespace corvellactl {

// The command a command line selected, with its arguments filled in.
struct Cli {
    CommandContext context;
    std::unique_ptr<Command> command;
};

inline constexpr std::string_view program_name = "corvellactl";
inline constexpr std::string_view program_version = "0.1.0";

// Exit statuses of the front end.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;
// The command stored its change, but printing its result failed afterwards.
inline constexpr int exit_stored_unprinted = 3;

// Parsing ended the process's work: help or version was shown (status 0), or
// the command line was refused with a usage message (status 2).
struct ParseExit {
    int status { exit_usage };
};

// Parses the arguments after the program name. Help and version go to `out`,
// usage errors to `err`. Text that is not valid UTF-8 is refused as a usage
// error before anything else, so it can never reach a file.
[[nodiscard]] quenmark::Expected<Cli, ParseExit> parse_command_line(std::span<char const* const> arguments,
                                                                   std::ostream& out, std::ostream& err);

// Runs the selected command.
[[nodiscard]] CommandResult<void> run_command(Cli const& cli);

} // namespace corvellactl
