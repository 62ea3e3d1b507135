#pragma once

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quenmark {

enum class HashAlgorithm : std::uint8_t { Blake3 = 0, Sha256 = 1 };

// An algorithm and a 32-byte digest; text form "blake3:" + 64 lowercase hex digits.
struct ContentHash {
    HashAlgorithm algorithm { HashAlgorithm::Blake3 };
    std::array<std::uint8_t, 32> digest {};

    // BLAKE3 (unkeyed, 32-byte output) of the bytes.
    static ContentHash of_bytes(std::span<std::uint8_t const> data);
    static ContentHash of_bytes(std::string_view data);

    // "algorithm:hex" with the messages of each rule, checked in order.
    [[nodiscard]] static Expected<ContentHash, ContractError> parse(std::string_view text);
    std::string to_text() const;
    void append_text(std::string& out) const;

    friend bool operator==(ContentHash const&, ContentHash const&) = default;
};

// SHA-256 of the bytes.
std::array<std::uint8_t, 32> sha256(std::string_view bytes);

} // namespace quenmark
