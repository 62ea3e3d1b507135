#include "quenmark/integrity/content_hash.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include "blake3.h"

#include <nettle/sha2.h>

namespace quenmark {

namespace {

constexpr std::string_view blake3_name = "blake3";
constexpr std::string_view sha256_name = "sha256";
constexpr std::size_t digest_text_size = 64;

} // namespace

ContentHash ContentHash::of_bytes(std::span<std::uint8_t const> data)
{
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, data.data(), data.size());
    ContentHash hash;
    hash.algorithm = HashAlgorithm::Blake3;
    blake3_hasher_finalize(&hasher, hash.digest.data(), hash.digest.size());
    return hash;
}

ContentHash ContentHash::of_bytes(std::string_view data)
{
    auto const* bytes = reinterpret_cast<std::uint8_t const*>(data.data());
    return of_bytes(std::span<std::uint8_t const>(bytes, data.size()));
}

Expected<ContentHash, ContractError> ContentHash::parse(std::string_view text)
{
    std::size_t const colon = text.find(':');
    if (colon == std::string_view::npos)
        return unexpected(ContractError::validation_failed("content hash must be 'algorithm:hex', got " + quoted(text)));

    std::string_view const name = text.substr(0, colon);
    ContentHash hash;
    if (name == blake3_name)
        hash.algorithm = HashAlgorithm::Blake3;
    else if (name == sha256_name)
        hash.algorithm = HashAlgorithm::Sha256;
    else
        return unexpected(ContractError::unknown_algorithm(std::string(name)));

    std::string_view const digest = text.substr(colon + 1);
    auto const read = parse_hex(digest, hash.digest);
    if (read)
        return hash;
    auto const fail = [](std::string message) { return unexpected(ContractError::validation_failed(std::move(message))); };
    switch (read.error().kind) {
    case HexFault::Kind::WrongLength:
        return fail("content hash digest must be 64 hex characters, got " + decimal(std::uint64_t { digest.size() }));
    case HexFault::Kind::NotAscii:
        return fail("content hash digest is not ASCII");
    case HexFault::Kind::InvalidGroup:
        return fail("invalid hex in content hash: " + quoted(read.error().group));
    }
    __builtin_unreachable();
}

std::string ContentHash::to_text() const
{
    std::string text;
    text.reserve(sha256_name.size() + 1 + digest_text_size);
    append_text(text);
    return text;
}

void ContentHash::append_text(std::string& out) const
{
    switch (algorithm) {
    case HashAlgorithm::Blake3:
        out.append(blake3_name);
        break;
    case HashAlgorithm::Sha256:
        out.append(sha256_name);
        break;
    }
    out.push_back(':');
    append_hex(out, digest);
}

std::array<std::uint8_t, 32> sha256(std::string_view bytes)
{
    static_assert(SHA256_DIGEST_SIZE == 32);
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<std::uint8_t const*>(bytes.data()));
    std::array<std::uint8_t, 32> digest {};
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

} // namespace quenmark
