#include "context.h"

#include <cstring>
#include <utility>

namespace corvellactl {

CommandError::CommandError(Kind kind, std::string text)
    : m_kind(kind)
    , m_payload(std::move(text))
{
}

CommandError::CommandError(quenmark::ContractError error)
    : m_kind(Kind::Platform)
    , m_payload(std::move(error))
{
}

CommandError::CommandError(corvella::TrainingError error)
    : m_kind(Kind::Training)
    , m_payload(std::move(error))
{
}

CommandError::CommandError(corvella::TrainingValidationError error)
    : m_kind(Kind::Validation)
    , m_payload(std::move(error))
{
}

CommandError CommandError::io(int error_number) { return CommandError(Kind::Io, std::strerror(error_number)); }

CommandError CommandError::io(std::string system_text) { return CommandError(Kind::Io, std::move(system_text)); }

CommandError CommandError::json(std::string message) { return CommandError(Kind::Json, std::move(message)); }

CommandError CommandError::not_found(std::string what) { return CommandError(Kind::NotFound, std::move(what)); }

CommandError CommandError::message(std::string text) { return CommandError(Kind::Message, std::move(text)); }

CommandError CommandError::stored(std::string text) { return CommandError(Kind::Stored, std::move(text)); }

std::string CommandError::text() const
{
    switch (m_kind) {
    case Kind::Io:
        return "io error: " + std::get<std::string>(m_payload);
    case Kind::Json:
        return "json error: " + std::get<std::string>(m_payload);
    case Kind::Training:
        return std::get<corvella::TrainingError>(m_payload).text();
    case Kind::Validation:
        return std::get<corvella::TrainingValidationError>(m_payload).text();
    case Kind::Platform:
        return std::get<quenmark::ContractError>(m_payload).text();
    case Kind::NotFound:
        return "not found: " + std::get<std::string>(m_payload);
    case Kind::Message:
    case Kind::Stored:
        return std::get<std::string>(m_payload);
    }
    __builtin_unreachable();
}

} // namespace corvellactl
