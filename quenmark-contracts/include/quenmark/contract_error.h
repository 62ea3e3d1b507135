#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenmark {

// The single error type of the platform contracts. Each variant carries the
// values its message names; text() renders the user-visible message.
class ContractError {
public:
    enum class Kind : std::uint8_t {
        InvalidIdentifier,
        UnsupportedContractVersion,
        CanonicalSerialization,
        SignatureVerification,
        UnknownAlgorithm,
        EnvelopeExpired,
        EnvelopeNotYetValid,
        EncryptionFailed,
        DecryptionFailed,
        ValidationFailed,
        UnknownProduct,
    };

    static ContractError invalid_identifier(std::string_view kind, std::string reason);
    static ContractError unsupported_contract_version(std::string found, std::string oldest, std::string newest);
    static ContractError canonical_serialization(std::string message);
    static ContractError signature_verification();
    static ContractError unknown_algorithm(std::string name);
    static ContractError envelope_expired(std::string instant);
    static ContractError envelope_not_yet_valid(std::string instant);
    static ContractError encryption_failed();
    static ContractError decryption_failed();
    static ContractError validation_failed(std::string message);
    static ContractError unknown_product(std::string name);

    Kind kind() const { return m_kind; }
    // The main message of the variants that carry one (reason, message,
    // name, instant, found).
    std::string const& message() const { return m_first; }

    std::string text() const;

    friend bool operator==(ContractError const&, ContractError const&) = default;

private:
    ContractError(Kind kind, std::string first = {}, std::string second = {}, std::string third = {});

    Kind m_kind;
    // InvalidIdentifier keeps its identifier kind in the second text.
    std::string m_first;
    std::string m_second;
    std::string m_third;
};

} // namespace quenmark
