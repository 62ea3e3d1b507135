#pragma once

// Text encodings of bytes that other systems read: base58btc (the Bitcoin
// alphabet) and base64 (RFC 4648, with padding).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {

// Leading zero bytes become leading '1's, as every base58btc reader expects.
std::string base58btc_encode(std::span<std::uint8_t const> bytes);
// Nothing when a character is outside the alphabet.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> base58btc_decode(std::string_view text);

std::string base64_encode(std::span<std::uint8_t const> bytes);
// Standard alphabet with padding, length a multiple of four; nothing otherwise.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

} // namespace quenmark
