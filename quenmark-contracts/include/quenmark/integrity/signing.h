#pragma once

// Ed25519 keys and signatures, the public key's text forms that other systems
// read, and the buffers that hold secrets.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenmark {

inline constexpr std::size_t seed_size = 32;       // crypto_sign_SEEDBYTES
inline constexpr std::size_t public_key_size = 32; // crypto_sign_PUBLICKEYBYTES
inline constexpr std::size_t signature_size = 64;  // crypto_sign_BYTES

// Overwrites memory that held secret material with zeros, in a way the
// compiler cannot drop. Every secret is wiped through this one function.
void zero_secret(std::span<std::byte> bytes);

// A secret of a fixed size (a seed, the hex digits of one), zeroed when it
// goes out of scope, on every path. It is never copied; a move zeroes the
// source.
template<std::size_t Size>
class Secret {
public:
    Secret() = default;
    Secret(Secret const&) = delete;
    Secret& operator=(Secret const&) = delete;
    Secret(Secret&& other) noexcept : m_bytes(other.m_bytes) { other.wipe(); }
    Secret& operator=(Secret&& other) noexcept
    {
        if (this != &other) {
            m_bytes = other.m_bytes;
            other.wipe();
        }
        return *this;
    }
    ~Secret() { wipe(); }

    std::span<std::uint8_t, Size> bytes() { return m_bytes; }
    std::span<std::uint8_t const, Size> bytes() const { return m_bytes; }
    // The bytes as characters, for a secret that is text.
    std::string_view text() const { return { reinterpret_cast<char const*>(m_bytes.data()), Size }; }

private:
    void wipe() { zero_secret(std::as_writable_bytes(std::span(m_bytes))); }
    std::array<std::uint8_t, Size> m_bytes {};
};

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

// The key file's text: the seed as 64 lowercase hex digits.
inline constexpr std::size_t seed_text_size = 2 * seed_size;

// An Ed25519 key pair derived from a 32-byte seed. The secret half is zeroed
// when the key is destroyed; a key can be moved but not copied.
class SigningKey {
public:
    static SigningKey from_seed(std::span<std::uint8_t const, seed_size> seed);
    // A fresh seed from the operating system's random source.
    static SigningKey generate();
    // The key file's text: after trimming Unicode white space, exactly 64
    // characters forming 32 hex groups. Returns nothing when it is not.
    static std::optional<SigningKey> from_hex(std::string_view text);

    VerifyingKey verifying_key() const;
    // The key file's text, in a buffer that zeroes itself.
    Secret<seed_text_size> seed_text() const;

    Signature sign(std::span<std::uint8_t const> message) const;
    Signature sign(std::string_view message) const;
    // The signature of each message, in order; many are signed on every core.
    std::vector<Signature> sign_all(std::span<std::string const> messages) const;

private:
    SigningKey() = default;
    Secret<64> m_secret; // libsodium's seed || public key
};

[[nodiscard]] bool verify_bytes(VerifyingKey const& key, std::string_view message, Signature const& signature);

// Calls sodium_init() once; every libsodium use goes through this first.
void ensure_sodium();

// "z" + base58btc(0xed 0x01 + the 32 key bytes): the key as a multibase
// Ed25519 multikey.
std::string multikey(VerifyingKey const& key);
// "did:key:" + multikey(key).
std::string did_key(VerifyingKey const& key);
// The key of a multikey; nothing when the text is not "z", base58btc, the
// Ed25519 prefix and exactly 32 key bytes.
[[nodiscard]] std::optional<VerifyingKey> key_of_multikey(std::string_view text);
// The key of any text form `key public` prints: 64 hex digits, a multikey or
// a did:key; nothing for any other text.
[[nodiscard]] std::optional<VerifyingKey> parse_verifying_key(std::string_view text);

} // namespace quenmark
