#pragma once

// The command-line grammar of corvellactl: the global file options, the
// command tree and each command's arguments, parsed into one Cli value.

#include "commands/args.h"
#include "context.h"

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>

namespace corvellactl {

struct Cli;

// Runs one command with the arguments the command line gave it.
using CommandHandler = CommandResult<void> (*)(Cli const& cli);

struct Cli {
    CommandContext context;
    // The handler of the command the line selected.
    CommandHandler handler { nullptr };
    AssessmentCreateArgs create;
    AssessmentIdArgs assessment_id;
    AssignArgs assign;
    AttemptArgs attempt;
    CertifyArgs certify;
    VerifyArgs verify;
    RevokeArgs revoke;
    CredentialExportArgs credential_export;
    CredentialVerifyArgs credential_verify;
    AuditCheckpointArgs audit_checkpoint;
    AuditVerifyArgs audit_verify;
};

inline constexpr std::string_view program_name = "corvellactl";
inline constexpr std::string_view program_version = "0.1.0";

// Exit statuses of the front end.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

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

// Calls the handler of the selected command.
[[nodiscard]] CommandResult<void> run_command(Cli const& cli);

} // namespace corvellactl
