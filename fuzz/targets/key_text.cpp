// The signing key file's text: a key read from it is written as 64 lowercase
// hex digits that read back as the same key; white space around the text and
// the letter case of its digits change nothing, and neither changes whether
// the text is refused. The file layer hands over UTF-8 only, so those
// variations are checked on UTF-8 text.

#include "fuzz_support.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace {

bool is_lowercase_hex(std::string_view text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The same key, or both refused.
bool same_outcome(std::optional<quenmark::SigningKey> const& left, std::optional<quenmark::SigningKey> const& right)
{
    if (left.has_value() != right.has_value())
        return false;
    return !left || left->verifying_key() == right->verifying_key();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    auto const key = quenmark::SigningKey::from_hex(text);
    if (key) {
        fuzz::require(quenmark::trim_white_space(text).size() == 64, "a key is read from 64 bytes between white space");
        auto const seed = key->seed_text();
        fuzz::require(seed.text().size() == 64 && is_lowercase_hex(seed.text()),
                      "a key is written as 64 lowercase hex digits");
        auto const reread = quenmark::SigningKey::from_hex(seed.text());
        fuzz::require(reread.has_value() && reread->verifying_key() == key->verifying_key(),
                      "a written key reads back as the same key");
        fuzz::require(reread->seed_text().text() == seed.text(), "a key read back is written again byte for byte");
    }
    if (!quenmark::is_valid_utf8(text))
        return 0;

    std::string padded = "\r\n \t";
    padded.append(text);
    padded.append("\xE3\x80\x80\n");
    fuzz::require(same_outcome(key, quenmark::SigningKey::from_hex(padded)),
                  "white space around a key file's text changes nothing");
    std::string upper(text);
    for (char& character : upper) {
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
    }
    fuzz::require(same_outcome(key, quenmark::SigningKey::from_hex(upper)),
                  "the letter case of a key file's digits changes nothing");
    quenmark::zero_secret(std::as_writable_bytes(std::span(upper)));
    quenmark::zero_secret(std::as_writable_bytes(std::span(padded)));
    return 0;
}
