#pragma once

// What every command handler is given (the three file paths) and the one
// error type every handler returns.

#include "corvella/errors.h"
#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace corvellactl {

// Result lines as each command words them, or JSON Lines for scripts.
enum class OutputFormat : std::uint8_t { Text, JsonLines };

// The three local files a command works on and the form of its results,
// copied from the global options. Holding paths only: each handler opens the
// files it needs itself.
struct CommandContext {
    std::string state_path;
    std::string key_path;
    std::string audit_path;
    // How result lines are written (--json).
    OutputFormat format { OutputFormat::Text };
};

// The failure of a command. Wrapped errors keep their own text; the others
// carry their fixed prefix. The front end prints "Error: " + text().
class CommandError {
public:
    enum class Kind : std::uint8_t {
        Io,
        Json,
        Training,
        Validation,
        Platform,
        NotFound,
        Message,
        // The change was stored, but what followed it (printing its result)
        // failed: the command must not be taken for one that changed nothing.
        Stored,
    };

    // The operating system's text for an errno value, after "io error: ".
    static CommandError io(int error_number);
    static CommandError io(std::string system_text);
    static CommandError json(std::string message);
    // `what` names the record: "assessment " + id, "assignment " + id, ...
    static CommandError not_found(std::string what);
    static CommandError message(std::string text);
    // A complete message saying what was stored and what failed after it.
    static CommandError stored(std::string text);

    // Implicit, so TRY carries a library error into a handler's result.
    CommandError(quenmark::ContractError error);
    CommandError(corvella::TrainingError error);
    CommandError(corvella::TrainingValidationError error);

    Kind kind() const { return m_kind; }
    std::string text() const;

private:
    CommandError(Kind kind, std::string text);

    Kind m_kind;
    std::variant<std::string, quenmark::ContractError, corvella::TrainingError, corvella::TrainingValidationError>
        m_payload;
};

template<typename T>
using CommandResult = quenmark::Expected<T, CommandError>;

} // namespace corvellactl
