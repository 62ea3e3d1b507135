#include "quenmark/contract_error.h"

#include <utility>

namespace quenmark {

ContractError::ContractError(Kind kind, std::string first, std::string second, std::string third)
    : m_kind(kind)
    , m_first(std::move(first))
    , m_second(std::move(second))
    , m_third(std::move(third))
{
}

ContractError ContractError::invalid_identifier(std::string_view kind, std::string reason)
{
    // The kind is copied: a caller's text need not outlive the error.
    return ContractError(Kind::InvalidIdentifier, std::move(reason), std::string(kind));
}

ContractError ContractError::unsupported_contract_version(std::string found, std::string oldest, std::string newest)
{
    return ContractError(Kind::UnsupportedContractVersion, std::move(found), std::move(oldest), std::move(newest));
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

ContractError ContractError::envelope_expired(std::string instant)
{
    return ContractError(Kind::EnvelopeExpired, std::move(instant));
}

ContractError ContractError::envelope_not_yet_valid(std::string instant)
{
    return ContractError(Kind::EnvelopeNotYetValid, std::move(instant));
}

ContractError ContractError::encryption_failed() { return ContractError(Kind::EncryptionFailed); }

ContractError ContractError::decryption_failed() { return ContractError(Kind::DecryptionFailed); }

ContractError ContractError::validation_failed(std::string message)
{
    return ContractError(Kind::ValidationFailed, std::move(message));
}

ContractError ContractError::unknown_product(std::string name)
{
    return ContractError(Kind::UnknownProduct, std::move(name));
}

std::string ContractError::text() const
{
    switch (m_kind) {
    case Kind::InvalidIdentifier:
        return "invalid " + m_second + " identifier: " + m_first;
    case Kind::UnsupportedContractVersion:
        return "unsupported contract version: " + m_first + " (supported " + m_second + "..=" + m_third + ")";
    case Kind::CanonicalSerialization:
        return "canonical serialization failed: " + m_first;
    case Kind::SignatureVerification:
        return "signature verification failed";
    case Kind::UnknownAlgorithm:
        return "unknown or rejected algorithm: " + m_first;
    case Kind::EnvelopeExpired:
        return "envelope expired at " + m_first;
    case Kind::EnvelopeNotYetValid:
        return "envelope is not yet valid until " + m_first;
    case Kind::EncryptionFailed:
        return "encryption failed";
    case Kind::DecryptionFailed:
        return "decryption failed";
    case Kind::ValidationFailed:
        return "validation failed: " + m_first;
    case Kind::UnknownProduct:
        return "unknown product: " + m_first;
    }
    __builtin_unreachable();
}

} // namespace quenmark
