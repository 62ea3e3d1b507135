#pragma once

#include "quenmark/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/json.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quenmark {

inline constexpr std::size_t seed_size = 32;       // crypto_sign_SEEDBYTES
inline constexpr std::size_t public_key_size = 32; // crypto_sign_PUBLICKEYBYTES
inline constexpr std::size_t signature_size = 64;  // crypto_sign_BYTES

// A 64-byte Ed25519 signature; text form 128 lowercase hex digits.
struct Signature {
    std::array<std::uint8_t, signature_size> bytes {};

    // Checks, in order: 128 bytes long, groups on character boundaries, each
    // group a hex number ("+" prefix and either case accepted).
    [[nodiscard]] static Expected<Signature, ContractError> parse(std::string_view text);
    std::string to_text() const;
    void append_text(std::string& out) const;

    friend bool operator==(Signature const&, Signature const&) = default;
};

struct VerifyingKey {
    std::array<std::uint8_t, public_key_size> bytes {};
    friend bool operator==(VerifyingKey const&, VerifyingKey const&) = default;
};

// An Ed25519 key pair derived from a 32-byte seed. The secret half is zeroed
// when the key is destroyed.
class SigningKey {
public:
    static SigningKey from_seed(std::span<std::uint8_t const, seed_size> seed);
    // A fresh seed from the operating system's random source.
    static SigningKey generate();
    // The key file's text: after trimming Unicode white space, exactly 64
    // characters forming 32 hex groups. Returns nothing when it is not.
    static std::optional<SigningKey> from_hex(std::string_view text);

    SigningKey(SigningKey const&);
    SigningKey& operator=(SigningKey const&);
    ~SigningKey();

    VerifyingKey verifying_key() const;
    // 64 lowercase hex digits of the seed, as the key file holds it. The copy
    // is secret: pass it to zero_secret() once it is written.
    std::string seed_hex() const;

    Signature sign(std::span<std::uint8_t const> message) const;
    Signature sign(std::string_view message) const;

private:
    SigningKey() = default;
    std::array<std::uint8_t, 64> m_secret {}; // libsodium's seed || public key
};

[[nodiscard]] bool verify_bytes(VerifyingKey const& key, std::string_view message, Signature const& signature);

// Signs the canonical bytes of a record's JSON value.
[[nodiscard]] Expected<Signature, ContractError> sign_record(SigningKey const& key, json::Value const& record);
// Verifies over the canonical bytes; SignatureVerification when it does not hold.
[[nodiscard]] Expected<void, ContractError> verify_record(VerifyingKey const& key, json::Value const& record,
                                                          Signature const& signature);

// Calls sodium_init() once; every libsodium use goes through this first.
void ensure_sodium();

// Overwrites memory that held secret material with zeros, in a way the
// compiler cannot drop.
void zero_secret(std::span<std::byte> bytes);
// The same for a text (a seed_hex() copy, a key file's content), which is
// then emptied.
void zero_secret(std::string& text);

} // namespace quenmark
