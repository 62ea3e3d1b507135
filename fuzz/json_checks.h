#pragma once

// The checks the fuzz targets of the JSON readers share: the reader's padded
// copy of an input, the position a refusal names, the agreement of the JSON
// syntax checks, and the one canonical form of records.

#include "fuzz_support.h"

#include "json/syntax.h"
#include "json_agreement.h"

#include "quenmark/json/read.h"
#include "quenmark/json/value.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace fuzz {

// A copy of a text followed by exactly the JSON reader's padding, as the
// file layer hands a file to the readers: a read beyond the padding is
// caught by AddressSanitizer.
class Padded {
public:
    explicit Padded(std::string_view text)
        : m_bytes(new char[text.size() + quenmark::json::read_padding])
        , m_size(text.size())
    {
        if (!text.empty())
            std::memcpy(m_bytes.get(), text.data(), text.size());
        std::memset(m_bytes.get() + m_size, 0, quenmark::json::read_padding);
    }
    char const* data() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
};

// True when `message` ends with " at line L column C" naming a place in
// `text`: a line that exists, and a column from 1 to one past its last byte.
inline bool names_a_position(std::string_view message, std::string_view text)
{
    auto const read_number = [](std::string_view digits, std::size_t& value) {
        auto const [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc {} && end == digits.data() + digits.size() && !digits.empty();
    };
    auto const at = message.rfind(" at line ");
    if (at == std::string_view::npos || at == 0)
        return false;
    auto const rest = message.substr(at + std::string_view(" at line ").size());
    auto const column_at = rest.find(" column ");
    if (column_at == std::string_view::npos)
        return false;
    std::size_t line = 0;
    std::size_t column = 0;
    if (!read_number(rest.substr(0, column_at), line)
        || !read_number(rest.substr(column_at + std::string_view(" column ").size()), column) || line == 0
        || column == 0)
        return false;
    std::size_t line_start = 0;
    for (std::size_t skipped = 1; skipped < line; ++skipped) {
        auto const feed = text.find('\n', line_start);
        if (feed == std::string_view::npos)
            return false;
        line_start = feed + 1;
    }
    auto const line_end = std::min(text.find('\n', line_start), text.size());
    return column <= line_end - line_start + 1;
}

// The syntax scanner, simdjson's full parser and the document reader agree
// on whether the text is JSON, and the reader words a syntax error as the
// scanner does.
inline void require_agreement(std::string_view text)
{
    static test_support::JsonAgreement agreement;
    if (auto const disagreement = agreement.disagreement(text)) {
        std::fprintf(stderr, "%s\n", disagreement->c_str());
        require(false, "the scanner, simdjson and the reader agree on what is JSON");
    }
}

// A text that a reader accepted is JSON as the syntax scanner sees it.
inline void require_json(std::string_view text, char const* property)
{
    require(!quenmark::json::find_syntax_error(text).has_value(), property);
}

// The canonical bytes of a record, written straight from its member table
// (`bytes`), are those of the one canonicaliser of JSON values: the record's
// pretty form read as a value and canonicalised gives the same bytes, and so
// do the bytes themselves read and canonicalised again.
template<typename Record>
void require_one_canonical_form(Record const& record, std::string const& bytes)
{
    std::string pretty;
    quenmark::json::PrettyWriter writer(pretty);
    write_json(writer, record);
    auto const value = quenmark::json::parse_value(pretty);
    require(value.has_value(), "a record's written form reads as a JSON value");
    auto const generic = quenmark::json::canonical_bytes(*value);
    require(generic.has_value() && *generic == bytes,
            "a record's canonical bytes are those of its written form canonicalised");
    auto const reread = quenmark::json::parse_value(bytes);
    require(reread.has_value(), "canonical bytes read as a JSON value");
    auto const again = quenmark::json::canonical_bytes(*reread);
    require(again.has_value() && *again == bytes, "canonical bytes canonicalised again are the same bytes");
}

} // namespace fuzz
