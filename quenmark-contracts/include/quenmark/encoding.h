#pragma once

// Text encodings of keys and signatures that other systems read: base58btc
// (the Bitcoin alphabet), base64 (RFC 4648, with padding), and the Ed25519
// public key as a multibase multikey and a did:key identifier.

#include "quenmark/expected.h"
#include "quenmark/signing.h"

#include <array>
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

// "z" + base58btc(0xed 0x01 + the 32 key bytes): the key as a multibase
// Ed25519 multikey.
std::string multikey(VerifyingKey const& key);
// "did:key:" + multikey(key).
std::string did_key(VerifyingKey const& key);
// The key of a multikey; nothing when the text is not "z", base58btc, the
// Ed25519 prefix and exactly 32 key bytes.
[[nodiscard]] std::optional<VerifyingKey> key_of_multikey(std::string_view text);
// The key of "did:key:" + multikey; nothing otherwise.
[[nodiscard]] std::optional<VerifyingKey> key_of_did_key(std::string_view text);

// SHA-256 of the bytes.
std::array<std::uint8_t, 32> sha256(std::string_view bytes);

} // namespace quenmark
