// Content-hash and signature text: a parsed value is written in lowercase,
// which reads back as the same value and is written again byte for byte; the
// uppercase spelling of a written value reads as the same value. A refusal
// is one of the parser's messages.

#include "fuzz_support.h"

#include "quenmark/errors/contract_error.h"
#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <span>
#include <string_view>

namespace {

bool starts_with_any(std::string_view text, std::span<std::string_view const> prefixes)
{
    for (auto const prefix : prefixes) {
        if (text.starts_with(prefix))
            return true;
    }
    return false;
}

bool is_lowercase_hex(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string upper_digits(std::string text)
{
    for (char& character : text) {
        if (character >= 'a' && character <= 'f')
            character = static_cast<char>(character - 'a' + 'A');
    }
    return text;
}

void check_content_hash(std::string_view text)
{
    using quenmark::ContentHash;
    auto const hash = ContentHash::parse(text);
    if (!hash) {
        constexpr std::array<std::string_view, 5> messages {
            "validation failed: content hash must be 'algorithm:hex', got \"",
            "unknown or rejected algorithm: ",
            "validation failed: content hash digest must be 64 hex characters, got ",
            "validation failed: content hash digest is not ASCII",
            "validation failed: invalid hex in content hash: \"",
        };
        fuzz::require(starts_with_any(hash.error().text(), messages), "a refused content hash gets a parser message");
        return;
    }
    std::string const written = hash->to_text();
    auto const colon = written.find(':');
    fuzz::require(written.size() == colon + 65 && is_lowercase_hex(std::string_view(written).substr(colon + 1)),
                  "a content hash is written as its algorithm and 64 lowercase hex digits");
    auto const reread = ContentHash::parse(written);
    fuzz::require(reread.has_value() && *reread == *hash, "a written content hash reads back as the same hash");
    fuzz::require(reread->to_text() == written, "a content hash read back is written again byte for byte");
    std::string const shouted = written.substr(0, colon + 1) + upper_digits(written.substr(colon + 1));
    auto const from_upper = ContentHash::parse(shouted);
    fuzz::require(from_upper.has_value() && *from_upper == *hash, "uppercase digits read as the same hash");
}

void check_signature(std::string_view text)
{
    using quenmark::Signature;
    auto const signature = Signature::parse(text);
    if (!signature) {
        constexpr std::array<std::string_view, 3> messages {
            "validation failed: ed25519 signature must be 128 hex characters, got ",
            "validation failed: signature is not ASCII",
            "validation failed: invalid hex in signature: \"",
        };
        fuzz::require(starts_with_any(signature.error().text(), messages), "a refused signature gets a parser message");
        return;
    }
    std::string const written = signature->to_text();
    fuzz::require(written.size() == 128 && is_lowercase_hex(written), "a signature is written as 128 lowercase hex digits");
    auto const reread = Signature::parse(written);
    fuzz::require(reread.has_value() && *reread == *signature, "a written signature reads back as the same signature");
    fuzz::require(reread->to_text() == written, "a signature read back is written again byte for byte");
    auto const from_upper = Signature::parse(upper_digits(written));
    fuzz::require(from_upper.has_value() && *from_upper == *signature, "uppercase digits read as the same signature");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    check_content_hash(text);
    check_signature(text);
    return 0;
}
