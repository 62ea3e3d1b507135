#include "quenmark/signing.h"

#include "quenmark/text.h"

#include <sodium.h>

#include <algorithm>

namespace quenmark {

static_assert(seed_size == crypto_sign_SEEDBYTES);
static_assert(public_key_size == crypto_sign_PUBLICKEYBYTES);
static_assert(signature_size == crypto_sign_BYTES);
static_assert(sizeof(std::array<std::uint8_t, 64>) == crypto_sign_SECRETKEYBYTES);

namespace {

// Zeroes a secret buffer when it goes out of scope, on every path.
template<std::size_t Size>
struct SecretBytes {
    std::array<std::uint8_t, Size> bytes {};
    SecretBytes() = default;
    SecretBytes(SecretBytes const&) = delete;
    SecretBytes& operator=(SecretBytes const&) = delete;
    ~SecretBytes() { zero_secret(std::as_writable_bytes(std::span(bytes))); }
};

} // namespace

void ensure_sodium()
{
    static bool const ready = sodium_init() >= 0;
    if (!ready)
        fail_internal("cryptographic library could not be initialised");
}

void zero_secret(std::span<std::byte> bytes)
{
    if (!bytes.empty())
        sodium_memzero(bytes.data(), bytes.size());
}

void zero_secret(std::string& text)
{
    zero_secret(std::as_writable_bytes(std::span(text)));
    text.clear();
}

// Signature ------------------------------------------------------------------

Expected<Signature, ContractError> Signature::parse(std::string_view text)
{
    Signature signature;
    auto const read = parse_hex(text, signature.bytes);
    if (read)
        return signature;
    auto const fail = [](std::string message) { return unexpected(ContractError::validation_failed(std::move(message))); };
    switch (read.error().kind) {
    case HexFault::Kind::WrongLength:
        return fail("ed25519 signature must be 128 hex characters, got " + decimal(std::uint64_t { text.size() }));
    case HexFault::Kind::NotAscii:
        return fail("signature is not ASCII");
    case HexFault::Kind::InvalidGroup:
        return fail("invalid hex in signature: " + quoted(read.error().group));
    }
    __builtin_unreachable();
}

std::string Signature::to_text() const
{
    std::string text;
    text.reserve(signature_size * 2);
    append_text(text);
    return text;
}

void Signature::append_text(std::string& out) const { append_hex(out, bytes); }

// SigningKey -----------------------------------------------------------------

SigningKey SigningKey::from_seed(std::span<std::uint8_t const, seed_size> seed)
{
    ensure_sodium();
    SigningKey key;
    std::array<std::uint8_t, public_key_size> public_key {};
    if (crypto_sign_seed_keypair(public_key.data(), key.m_secret.data(), seed.data()) != 0)
        fail_internal("signature operation failed: the key pair could not be derived from the seed");
    return key;
}

SigningKey SigningKey::generate()
{
    ensure_sodium();
    SecretBytes<seed_size> seed;
    randombytes_buf(seed.bytes.data(), seed.bytes.size());
    return from_seed(seed.bytes);
}

std::optional<SigningKey> SigningKey::from_hex(std::string_view text)
{
    SecretBytes<seed_size> seed;
    if (!parse_hex(trim_white_space(text), seed.bytes))
        return std::nullopt;
    return from_seed(seed.bytes);
}

SigningKey::SigningKey(SigningKey const& other)
    : m_secret(other.m_secret)
{
}

SigningKey& SigningKey::operator=(SigningKey const& other)
{
    m_secret = other.m_secret;
    return *this;
}

SigningKey::~SigningKey() { zero_secret(std::as_writable_bytes(std::span(m_secret))); }

VerifyingKey SigningKey::verifying_key() const
{
    VerifyingKey key;
    std::copy(m_secret.begin() + seed_size, m_secret.end(), key.bytes.begin());
    return key;
}

std::string SigningKey::seed_hex() const
{
    std::string text;
    text.reserve(seed_size * 2);
    append_hex(text, std::span(m_secret).first<seed_size>());
    return text;
}

Signature SigningKey::sign(std::span<std::uint8_t const> message) const
{
    ensure_sodium();
    Signature signature;
    if (crypto_sign_detached(signature.bytes.data(), nullptr, message.data(), message.size(), m_secret.data()) != 0)
        fail_internal("signature operation failed: the Ed25519 primitive returned an error");
    return signature;
}

Signature SigningKey::sign(std::string_view message) const
{
    auto const* bytes = reinterpret_cast<std::uint8_t const*>(message.data());
    return sign(std::span<std::uint8_t const>(bytes, message.size()));
}

// Records --------------------------------------------------------------------

bool verify_bytes(VerifyingKey const& key, std::string_view message, Signature const& signature)
{
    ensure_sodium();
    auto const* bytes = reinterpret_cast<unsigned char const*>(message.data());
    return crypto_sign_verify_detached(signature.bytes.data(), bytes, message.size(), key.bytes.data()) == 0;
}

Expected<Signature, ContractError> sign_record(SigningKey const& key, json::Value const& record)
{
    std::string const bytes = TRY(json::canonical_bytes(record));
    return key.sign(std::string_view(bytes));
}

Expected<void, ContractError> verify_record(VerifyingKey const& key, json::Value const& record,
                                            Signature const& signature)
{
    std::string const bytes = TRY(json::canonical_bytes(record));
    if (!verify_bytes(key, bytes, signature))
        return unexpected(ContractError::signature_verification());
    return {};
}

} // namespace quenmark
