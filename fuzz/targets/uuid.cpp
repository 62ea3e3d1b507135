// Identifier text: a parsed UUID is written in the lowercase hyphenated form,
// which reads back as the same UUID, as do its undashed, braced, "urn:uuid:"
// and uppercase spellings. The one-pass reader of the hyphenated form agrees
// with the general reader: a 36-character text and its braced and
// "urn:uuid:" spellings are all accepted as the same UUID, or all refused.
// A refusal is one of the parser's four messages. Slugs are read back
// unchanged or refused with their kind's message.

#include "fuzz_support.h"

#include "quenmark/errors/contract_error.h"
#include "quenmark/ids/uuid.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

using quenmark::Uuid;

std::optional<Uuid> parsed(std::string_view text)
{
    auto uuid = Uuid::parse(text);
    if (!uuid)
        return std::nullopt;
    return *uuid;
}

std::string upper(std::string text)
{
    for (char& character : text) {
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
    }
    return text;
}

bool is_parser_message(std::string_view message)
{
    constexpr std::array<std::string_view, 4> prefixes {
        "invalid character: found `",
        "invalid group count: expected 5, found ",
        "invalid group length in group ",
        "invalid length: found ",
    };
    for (auto const prefix : prefixes) {
        if (message.starts_with(prefix) && message.size() > prefix.size())
            return true;
    }
    return false;
}

void check_slug(std::string_view text)
{
    auto const slug = quenmark::Slug::parse(text);
    if (!slug) {
        fuzz::require(slug.error().text().starts_with("invalid Slug identifier: "), "a refused slug names its kind");
        return;
    }
    fuzz::require(slug->text() == text, "a slug keeps its text");
    auto const reread = quenmark::Slug::parse(slug->text());
    fuzz::require(reread.has_value() && *reread == *slug, "a slug's text reads back as the same slug");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    check_slug(text);

    auto const uuid = Uuid::parse(text);
    if (text.size() == 36) {
        std::string const braced = "{" + std::string(text) + "}";
        std::string const urn = "urn:uuid:" + std::string(text);
        std::optional<Uuid> const direct = uuid ? std::optional<Uuid>(*uuid) : std::nullopt;
        fuzz::require(parsed(braced) == direct && parsed(urn) == direct,
                      "the hyphenated form is read alike bare, braced and after urn:uuid:");
    }
    if (!uuid) {
        fuzz::require(is_parser_message(uuid.error()), "a refused UUID gets one of the parser's messages");
        return 0;
    }
    std::string const written = uuid->to_string();
    fuzz::require(written.size() == 36 && written[8] == '-' && written[13] == '-' && written[18] == '-'
                      && written[23] == '-'
                      && written.find_first_not_of("0123456789abcdef-") == std::string::npos,
                  "a UUID is written lowercase and hyphenated");
    std::string undashed = written;
    std::erase(undashed, '-');
    for (std::string const& spelling :
         { written, undashed, "{" + written + "}", "urn:uuid:" + written, upper(written), upper(undashed) }) {
        fuzz::require(parsed(spelling) == *uuid, "every spelling of a written UUID reads back as the same UUID");
    }
    fuzz::require(parsed(written)->to_string() == written, "a UUID read back is written again byte for byte");
    return 0;
}
