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
        CanonicalSerialization,
        SignatureVerification,
        UnknownAlgorithm,
        ValidationFailed,
    };

    static ContractError invalid_identifier(std::string_view kind, std::string reason);
    static ContractError canonical_serialization(std::string message);
    static ContractError signature_verification();
    static ContractError unknown_algorithm(std::string name);
    static ContractError validation_failed(std::string message);

    Kind kind() const { return m_kind; }

    std::string text() const;

    friend bool operator==(ContractError const&, ContractError const&) = default;

private:
    ContractError(Kind kind, std::string first = {}, std::string second = {});

    Kind m_kind;
    // The variant's message, reason or name; InvalidIdentifier keeps its
    // identifier kind in the second text.
    std::string m_first;
    std::string m_second;
};

} // namespace quenmark
