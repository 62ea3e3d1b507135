#include "quenmark/text/text.h"

#include "text/unicode_tables.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <span>

namespace quenmark {

namespace {

constexpr char32_t replacement_character = 0xFFFD;

// Each byte's value as a hex digit (either letter case), or not_hex_digit.
constexpr std::uint8_t not_hex_digit = 0xFF;
constexpr std::array<std::uint8_t, 256> hex_digit_values = [] {
    std::array<std::uint8_t, 256> values {};
    values.fill(not_hex_digit);
    for (unsigned digit = 0; digit < 16; ++digit) {
        values[static_cast<unsigned char>("0123456789abcdef"[digit])] = static_cast<std::uint8_t>(digit);
        values[static_cast<unsigned char>("0123456789ABCDEF"[digit])] = static_cast<std::uint8_t>(digit);
    }
    return values;
}();

unsigned digit_value(char digit) { return hex_digit_values[static_cast<unsigned char>(digit)]; }

constexpr bool is_continuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// Length of the well-formed UTF-8 sequence starting at text[index], or 0 when
// the bytes there are not one (overlong forms, surrogates and values above
// U+10FFFF included).
std::size_t sequence_length(std::string_view text, std::size_t index)
{
    auto byte_at = [&](std::size_t offset) -> unsigned char {
        return index + offset < text.size() ? static_cast<unsigned char>(text[index + offset]) : 0;
    };
    unsigned char const lead = byte_at(0);
    if (index >= text.size())
        return 0;
    if (lead < 0x80U)
        return 1;
    if (lead >= 0xC2U && lead <= 0xDFU)
        return is_continuation(byte_at(1)) ? 2 : 0;
    if (lead >= 0xE0U && lead <= 0xEFU) {
        unsigned char const second = byte_at(1);
        unsigned char const lowest = lead == 0xE0U ? 0xA0U : 0x80U;
        unsigned char const highest = lead == 0xEDU ? 0x9FU : 0xBFU;
        if (second < lowest || second > highest || !is_continuation(byte_at(2)))
            return 0;
        return 3;
    }
    if (lead >= 0xF0U && lead <= 0xF4U) {
        unsigned char const second = byte_at(1);
        unsigned char const lowest = lead == 0xF0U ? 0x90U : 0x80U;
        unsigned char const highest = lead == 0xF4U ? 0x8FU : 0xBFU;
        if (second < lowest || second > highest || !is_continuation(byte_at(2)) || !is_continuation(byte_at(3)))
            return 0;
        return 4;
    }
    return 0;
}

bool in_ranges(std::span<unicode::CodePointRange const> ranges, char32_t code_point)
{
    // The first range whose last code point is not below the one looked for.
    auto const found = std::lower_bound(ranges.begin(), ranges.end(), code_point,
        [](unicode::CodePointRange const& range, char32_t value) { return range.last < value; });
    return found != ranges.end() && found->first <= code_point;
}

void append_hex_code_point(std::string& out, char32_t code_point)
{
    std::array<char, 8> digits {};
    auto const [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(),
        static_cast<std::uint32_t>(code_point), 16);
    static_cast<void>(error);
    out.append("\\u{");
    out.append(digits.data(), end);
    out.push_back('}');
}

template<typename Integer>
void append_integer(std::string& out, Integer value)
{
    std::array<char, 24> digits {};
    auto const [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    static_cast<void>(error);
    out.append(digits.data(), end);
}

// True for characters with the Unicode White_Space property.
bool is_white_space(char32_t code_point)
{
    switch (code_point) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return code_point >= 0x2000 && code_point <= 0x200A;
    }
}

} // namespace

std::string quoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t index = 0;
    while (index < text.size()) {
        if (sequence_length(text, index) == 0) {
            // A byte that is not valid UTF-8 is shown by its value, so the
            // message stays valid UTF-8 and nothing is hidden.
            out.append("\\x");
            auto const byte = static_cast<std::uint8_t>(text[index]);
            append_hex(out, std::span(&byte, 1));
            ++index;
            continue;
        }
        std::size_t const start = index;
        char32_t const code_point = next_code_point(text, index);
        switch (code_point) {
        case U'"':
            out.append("\\\"");
            continue;
        case U'\\':
            out.append("\\\\");
            continue;
        case U'\0':
            out.append("\\0");
            continue;
        case U'\t':
            out.append("\\t");
            continue;
        case U'\n':
            out.append("\\n");
            continue;
        case U'\r':
            out.append("\\r");
            continue;
        default:
            break;
        }
        if (in_ranges(unicode::grapheme_extend_ranges(), code_point)
            || in_ranges(unicode::non_printable_ranges(), code_point)) {
            append_hex_code_point(out, code_point);
            continue;
        }
        out.append(text.substr(start, index - start));
    }
    out.push_back('"');
    return out;
}

std::string_view trim_white_space(std::string_view text)
{
    // One forward pass: the kept part runs from the first character that is
    // not white space to the end of the last such character.
    std::size_t first = text.size();
    std::size_t end = 0;
    std::size_t index = 0;
    while (index < text.size()) {
        std::size_t const start = index;
        char32_t const code_point = next_code_point(text, index);
        if (is_white_space(code_point))
            continue;
        first = std::min(first, start);
        end = index;
    }
    if (first >= end)
        return text.substr(text.size());
    return text.substr(first, end - first);
}

bool is_blank(std::string_view text) { return trim_white_space(text).empty(); }

bool is_valid_utf8(std::string_view text) { return simdjson::validate_utf8(text.data(), text.size()); }

std::optional<std::size_t> first_invalid_utf8(std::string_view text)
{
    if (is_valid_utf8(text)) [[likely]]
        return std::nullopt;
    // Only on the error path: walk the sequences to find where.
    std::size_t index = 0;
    while (index < text.size()) {
        std::size_t const length = sequence_length(text, index);
        if (length == 0)
            return index;
        index += length;
    }
    return std::nullopt;
}

bool next_line(std::string_view& text, std::string_view& line)
{
    auto const end = text.find('\n');
    if (end == std::string_view::npos)
        return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
}

char32_t next_code_point(std::string_view text, std::size_t& index)
{
    std::size_t const length = sequence_length(text, index);
    if (length == 0) {
        // Not reached for valid UTF-8; a stray byte reads as U+FFFD so callers
        // always make progress.
        ++index;
        return replacement_character;
    }
    auto const byte = [&](std::size_t offset) {
        return static_cast<char32_t>(static_cast<unsigned char>(text[index + offset]));
    };
    char32_t code_point = 0;
    switch (length) {
    case 1:
        code_point = byte(0);
        break;
    case 2:
        code_point = ((byte(0) & 0x1FU) << 6U) | (byte(1) & 0x3FU);
        break;
    case 3:
        code_point = ((byte(0) & 0x0FU) << 12U) | ((byte(1) & 0x3FU) << 6U) | (byte(2) & 0x3FU);
        break;
    default:
        code_point = ((byte(0) & 0x07U) << 18U) | ((byte(1) & 0x3FU) << 12U) | ((byte(2) & 0x3FU) << 6U)
            | (byte(3) & 0x3FU);
        break;
    }
    index += length;
    return code_point;
}

void append_utf8(std::string& out, char32_t code_point)
{
    if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF))
        code_point = replacement_character;
    auto const push = [&](char32_t value) { out.push_back(static_cast<char>(static_cast<unsigned char>(value))); };
    if (code_point < 0x80) {
        push(code_point);
    } else if (code_point < 0x800) {
        push(0xC0U | (code_point >> 6U));
        push(0x80U | (code_point & 0x3FU));
    } else if (code_point < 0x10000) {
        push(0xE0U | (code_point >> 12U));
        push(0x80U | ((code_point >> 6U) & 0x3FU));
        push(0x80U | (code_point & 0x3FU));
    } else {
        push(0xF0U | (code_point >> 18U));
        push(0x80U | ((code_point >> 12U) & 0x3FU));
        push(0x80U | ((code_point >> 6U) & 0x3FU));
        push(0x80U | (code_point & 0x3FU));
    }
}

void append_decimal(std::string& out, std::uint64_t value) { append_integer(out, value); }

void append_decimal(std::string& out, std::int64_t value) { append_integer(out, value); }

std::string decimal(std::uint64_t value)
{
    std::string out;
    append_decimal(out, value);
    return out;
}

std::string decimal(std::int64_t value)
{
    std::string out;
    append_decimal(out, value);
    return out;
}

std::optional<std::uint8_t> hex_digit_value(char digit)
{
    unsigned const value = digit_value(digit);
    if (value == not_hex_digit)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

Expected<void, HexFault> parse_hex(std::string_view text, std::span<std::uint8_t> bytes)
{
    if (text.size() != bytes.size() * 2)
        return unexpected(HexFault { HexFault::Kind::WrongLength, {} });
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        std::size_t const start = index * 2;
        unsigned const high = digit_value(text[start]);
        unsigned const low = digit_value(text[start + 1]);
        bool const ends_inside_character
            = start + 2 < text.size() && is_continuation(static_cast<unsigned char>(text[start + 2]));
        if ((high | low) < 16 && !ends_inside_character) [[likely]] {
            bytes[index] = static_cast<std::uint8_t>((high << 4U) | low);
            continue;
        }
        std::string_view const group = text.substr(start, 2);
        if (is_continuation(static_cast<unsigned char>(text[start])) || ends_inside_character)
            return unexpected(HexFault { HexFault::Kind::NotAscii, group });
        // "+f" is the number fifteen, as a leading sign allows.
        unsigned const signed_high = text[start] == '+' ? 0U : high;
        if ((signed_high | low) >= 16)
            return unexpected(HexFault { HexFault::Kind::InvalidGroup, group });
        bytes[index] = static_cast<std::uint8_t>((signed_high << 4U) | low);
    }
    return {};
}

void append_hex(std::string& out, std::span<std::uint8_t const> bytes)
{
    std::size_t const start = out.size();
    out.resize(start + bytes.size() * 2);
    write_hex(out.data() + start, bytes);
}

} // namespace quenmark
