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

// The three local files a command works on, copied from the global options.
// Holding paths only: each handler opens the files it needs itself.
struct CommandContext {
    std::string state_path;
    std::string key_path;
    std::string audit_path;
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
    };

    // The operating system's text for an errno value, after "io error: ".
    static CommandError io(int error_number);
    static CommandError io(std::string system_text);
    static CommandError json(std::string message);
    // `what` names the record: "assessment " + id, "assignment " + id, ...
    static CommandError not_found(std::string what);
    static CommandError message(std::string text);

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
