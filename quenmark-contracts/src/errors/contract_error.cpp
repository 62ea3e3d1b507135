#include "quenmark/errors/contract_error.h"

#include <utility>

namespace quenmark {

ContractError::ContractError(Kind kind, std::string first, std::string second)
    : m_kind(kind)
    , m_first(std::move(first))
    , m_second(std::move(second))
{
}

ContractError ContractError::invalid_identifier(std::string_view kind, std::string reason)
{
    // The kind is copied: a caller's text need not outlive the error.
    return ContractError(Kind::InvalidIdentifier, std::move(reason), std::string(kind));
}

ContractError ContractError::canonical_serialization(std::string message)
{
    return ContractError(Kind::CanonicalSerialization, std::move(message));
}

ContractError ContractError::signature_verification() { return ContractError(Kind::SignatureVerification); }

ContractError ContractError::unknown_algorithm(std::string name)
{
    return ContractError(Kind::UnknownAlgorithm, std::move(name));
}

ContractError ContractError::validation_failed(std::string message)
{
    return ContractError(Kind::ValidationFailed, std::move(message));
}

std::string ContractError::text() const
{
    switch (m_kind) {
    case Kind::InvalidIdentifier:
        return "invalid " + m_second + " identifier: " + m_first;
    case Kind::CanonicalSerialization:
        return "canonical serialization failed: " + m_first;
    case Kind::SignatureVerification:
        return "signature verification failed";
    case Kind::UnknownAlgorithm:
        return "unknown or rejected algorithm: " + m_first;
    case Kind::ValidationFailed:
        return "validation failed: " + m_first;
    }
    __builtin_unreachable();
}

} // namespace quenmark
