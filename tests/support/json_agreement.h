#pragma once

// Whether the JSON syntax scanner, simdjson's full parser and the document
// reader agree on a text: the same verdict on whether it is JSON, and the
// reader's syntax error worded and placed as the scanner words and places
// it. Shared by the scanner's unit test and the fuzz target of the JSON
// reader. Needs the platform library's private src/ folder on the include
// path (json/syntax.h) and simdjson.

#include "json/syntax.h"

#include "quenmark/expected.h"
#include "quenmark/json/read.h"

#include <simdjson.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

// The input as a C string literal, so that a failure can be pasted into a test.
inline std::string literal(std::string_view text)
{
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::string out = "\"";
    for (char const character : text) {
        auto const byte = static_cast<unsigned char>(character);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += character;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += character;
        } else {
            // Closed and reopened so that a following hex digit is not read into the escape.
            out += "\\x";
            out += digits[byte >> 4U];
            out += digits[byte & 0x0FU];
            out += "\" \"";
        }
    }
    return out + "\"";
}

// The error's message with " at line L column C", as the document reader words it.
inline std::string with_position(quenmark::json::ReadError const& error, std::string_view text)
{
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t index = 0; index < error.offset; ++index) {
        if (text[index] == '\n') {
            ++line;
            line_start = index + 1;
        }
    }
    std::size_t const column = error.offset - line_start + 1;
    return error.message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// simdjson refuses some well-formed numbers: its full parser integers past
// 64 bits (negative ones below -9223372036854775808 among them) and values
// beyond a double's range, its On-Demand reader (and so the document reader,
// with "number out of range") also exponents of twenty digits or more, even
// where the value rounds to zero. An input may hold such a number when it
// has a run of twenty digits, nineteen after a minus sign, or an exponent of
// three.
inline bool may_hold_number_beyond_range(std::string_view text)
{
    auto const is_digit = [](char byte) { return byte >= '0' && byte <= '9'; };
    std::size_t run = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        run = is_digit(text[index]) ? run + 1 : 0;
        if (run == 20 || (run == 19 && index >= 19 && text[index - 19] == '-'))
            return true;
        if (text[index] != 'e' && text[index] != 'E')
            continue;
        std::size_t digit = index + 1;
        if (digit < text.size() && (text[digit] == '+' || text[digit] == '-'))
            ++digit;
        if (digit + 3 <= text.size() && is_digit(text[digit]) && is_digit(text[digit + 1]) && is_digit(text[digit + 2]))
            return true;
    }
    return false;
}

class JsonAgreement {
public:
    enum class Reading { Skip, Members };

    JsonAgreement()
    {
        // Deep enough that only the scanner's limit applies.
        m_ready = m_parser.allocate(1 << 16, 4 * quenmark::json::read_max_depth) == simdjson::SUCCESS;
    }

    // "valid", or the reader's error for the document read as `how` says:
    // the root skipped, or its elements or members read one by one and skipped.
    static std::string read(std::string_view text, Reading how)
    {
        using quenmark::json::Read;
        using quenmark::json::ValueReader;
        auto const skip = [](ValueReader& value) { return value.skip(); };
        auto const result = quenmark::json::read_document(text, [&](ValueReader& root) -> Read<void> {
            if (how == Reading::Skip)
                return root.skip();
            std::string_view const rest = text.substr(quenmark::json::first_non_white_space(text));
            if (rest.starts_with('['))
                return root.array(skip);
            if (!rest.starts_with('{'))
                return root.skip();
            TRY(root.object({}, /*required=*/0, [&](std::size_t, ValueReader& value) { return skip(value); }));
            return {};
        });
        return result ? std::string("valid") : result.error();
    }

    // None when the scanner, simdjson's full parser and the document reader
    // agree on `text`; otherwise what each of them said.
    std::optional<std::string> disagreement(std::string_view text)
    {
        if (!m_ready)
            return std::string("cannot allocate the simdjson parser");
        std::optional<quenmark::json::ReadError> const fault = quenmark::json::find_syntax_error(text);
        simdjson::dom::element element;
        simdjson::error_code const parsed = m_parser.parse(text.data(), text.size()).get(element);

        std::string const scanner_says = fault ? with_position(*fault, text) : std::string("valid");
        // The full parser here nests deeper than the reader allows, and
        // refuses numbers that the grammar allows (see above).
        bool const too_deep = fault && fault->message == "recursion limit exceeded";
        bool const refused_number = !fault && parsed == simdjson::NUMBER_ERROR;
        if (!too_deep && fault.has_value() == (parsed == simdjson::SUCCESS)
            && !(refused_number && may_hold_number_beyond_range(text))) {
            return "the scanner says " + scanner_says + ", simdjson says " + simdjson::error_message(parsed)
                + "\ninput: " + literal(text);
        }
        // The reader validates a root it skips, and the members and elements
        // that an object or array reader skips, the same way.
        for (auto const how : { Reading::Skip, Reading::Members }) {
            std::string const reader_says = read(text, how);
            if (reader_says != scanner_says
                && !(reader_says.starts_with("number out of range at ") && may_hold_number_beyond_range(text))) {
                return "the scanner says " + scanner_says + ", the reader says " + reader_says
                    + "\ninput: " + literal(text);
            }
        }
        return std::nullopt;
    }

private:
    simdjson::dom::parser m_parser;
    bool m_ready { false };
};

} // namespace test_support
