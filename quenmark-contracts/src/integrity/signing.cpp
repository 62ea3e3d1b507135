#include "quenmark/integrity/signing.h"

#include "parallel.h"

#include "quenmark/text/encoding.h"
#include "quenmark/text/text.h"

#include <sodium.h>

#include <algorithm>

namespace quenmark {

static_assert(seed_size == crypto_sign_SEEDBYTES);
static_assert(public_key_size == crypto_sign_PUBLICKEYBYTES);
static_assert(signature_size == crypto_sign_BYTES);
static_assert(sizeof(std::array<std::uint8_t, 64>) == crypto_sign_SECRETKEYBYTES);

namespace {

// The multicodec prefix of an Ed25519 public key (0xed as an unsigned varint).
constexpr std::array<std::uint8_t, 2> ed25519_prefix { 0xed, 0x01 };

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
    if (crypto_sign_seed_keypair(public_key.data(), key.m_secret.bytes().data(), seed.data()) != 0)
        fail_internal("signature operation failed: the key pair could not be derived from the seed");
    return key;
}

SigningKey SigningKey::generate()
{
    ensure_sodium();
    Secret<seed_size> seed;
    randombytes_buf(seed.bytes().data(), seed_size);
    return from_seed(seed.bytes());
}

std::optional<SigningKey> SigningKey::from_hex(std::string_view text)
{
    Secret<seed_size> seed;
    if (!parse_hex(trim_white_space(text), seed.bytes()))
        return std::nullopt;
    return from_seed(seed.bytes());
}

VerifyingKey SigningKey::verifying_key() const
{
    VerifyingKey key;
    auto const secret = m_secret.bytes();
    std::copy(secret.begin() + seed_size, secret.end(), key.bytes.begin());
    return key;
}

Secret<seed_text_size> SigningKey::seed_text() const
{
    Secret<seed_text_size> text;
    write_hex(reinterpret_cast<char*>(text.bytes().data()), m_secret.bytes().first<seed_size>());
    return text;
}

Signature SigningKey::sign(std::span<std::uint8_t const> message) const
{
    ensure_sodium();
    Signature signature;
    auto const secret = m_secret.bytes();
    if (crypto_sign_detached(signature.bytes.data(), nullptr, message.data(), message.size(), secret.data()) != 0)
        fail_internal("signature operation failed: the Ed25519 primitive returned an error");
    return signature;
}

Signature SigningKey::sign(std::string_view message) const
{
    auto const* bytes = reinterpret_cast<std::uint8_t const*>(message.data());
    return sign(std::span<std::uint8_t const>(bytes, message.size()));
}

std::vector<Signature> SigningKey::sign_all(std::span<std::string const> messages) const
{
    // Messages one thread signs per piece of work, and the fewest worth
    // sharing with other threads: starting one costs more than a few dozen
    // signatures.
    constexpr std::size_t piece = 64;
    std::vector<Signature> signatures(messages.size());
    auto const sign_piece = [&](std::size_t first) {
        for (std::size_t index = first; index < std::min(first + piece, messages.size()); ++index)
            signatures[index] = sign(messages[index]);
    };
    std::size_t const pieces = (messages.size() + piece - 1) / piece;
    if (pieces <= 2) {
        for (std::size_t first = 0; first < messages.size(); first += piece)
            sign_piece(first);
        return signatures;
    }
    ensure_sodium();
    detail::WorkQueue<std::size_t> queue;
    for (std::size_t first = 0; first < messages.size(); first += piece)
        queue.push(first);
    queue.close();
    auto const sign_pieces = [&] {
        while (auto const first = queue.pop())
            sign_piece(*first);
    };
    {
        detail::WorkerThreads const workers(detail::extra_threads_for(pieces), sign_pieces);
        sign_pieces();
    }
    return signatures;
}

// Verification --------------------------------------------------------------

bool verify_bytes(VerifyingKey const& key, std::string_view message, Signature const& signature)
{
    ensure_sodium();
    auto const* bytes = reinterpret_cast<unsigned char const*>(message.data());
    return crypto_sign_verify_detached(signature.bytes.data(), bytes, message.size(), key.bytes.data()) == 0;
}

// Public key text forms -----------------------------------------------------

std::string multikey(VerifyingKey const& key)
{
    std::array<std::uint8_t, ed25519_prefix.size() + public_key_size> bytes {};
    std::copy(ed25519_prefix.begin(), ed25519_prefix.end(), bytes.begin());
    std::copy(key.bytes.begin(), key.bytes.end(), bytes.begin() + ed25519_prefix.size());
    return "z" + base58btc_encode(bytes);
}

std::string did_key(VerifyingKey const& key) { return "did:key:" + multikey(key); }

std::optional<VerifyingKey> key_of_multikey(std::string_view text)
{
    if (text.empty() || text.front() != 'z')
        return std::nullopt;
    auto const bytes = base58btc_decode(text.substr(1));
    if (!bytes || bytes->size() != ed25519_prefix.size() + public_key_size
        || !std::equal(ed25519_prefix.begin(), ed25519_prefix.end(), bytes->begin()))
        return std::nullopt;
    VerifyingKey key;
    std::copy(bytes->begin() + ed25519_prefix.size(), bytes->end(), key.bytes.begin());
    return key;
}

std::optional<VerifyingKey> parse_verifying_key(std::string_view text)
{
    constexpr std::string_view did_key_prefix = "did:key:";
    if (text.starts_with(did_key_prefix))
        return key_of_multikey(text.substr(did_key_prefix.size()));
    VerifyingKey key;
    if (text.size() == 2 * public_key_size && parse_hex(text, key.bytes))
        return key;
    return key_of_multikey(text);
}

} // namespace quenmark
