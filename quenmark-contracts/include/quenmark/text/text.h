#pragma once

#include "quenmark/expected.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quenmark {

// The quoted form used inside error messages: the text between double quotes,
// with \" \\ \0 \t \n \r escapes, \u{hex} for combining marks (Grapheme_Extend)
// and for characters that are not printable, every other character as itself.
std::string quoted(std::string_view text);

// The text with Unicode White_Space removed from both ends.
std::string_view trim_white_space(std::string_view text);
// Empty or made only of Unicode White_Space.
bool is_blank(std::string_view text);

// Splits the first line off `text` into `line`, without its line feed;
// false, and nothing changed, when no line feed ends one.
bool next_line(std::string_view& text, std::string_view& line);

// Well-formed UTF-8: no overlong forms, surrogates or code points past
// U+10FFFF. Fast enough for whole files of hundreds of megabytes.
bool is_valid_utf8(std::string_view text);
// The offset of the first byte that does not start a well-formed sequence
// (for a truncated or broken sequence, the offset of its first byte); none
// when the whole text is valid.
std::optional<std::size_t> first_invalid_utf8(std::string_view text);

// Decodes the code point starting at text[index] (text must be valid UTF-8)
// and advances index past it.
char32_t next_code_point(std::string_view text, std::size_t& index);
void append_utf8(std::string& out, char32_t code_point);

// Decimal digits of an integer, without allocation beyond the append.
void append_decimal(std::string& out, std::uint64_t value);
void append_decimal(std::string& out, std::int64_t value);
std::string decimal(std::uint64_t value);
std::string decimal(std::int64_t value);

// The value of a hexadecimal digit of either letter case; none for any other byte.
std::optional<std::uint8_t> hex_digit_value(char digit);

// Why a hex text could not be read, and the two-character group at fault
// (empty for a wrong length).
struct HexFault {
    enum class Kind {
        WrongLength,
        // The group begins or ends inside a multi-byte character.
        NotAscii,
        InvalidGroup,
    };
    Kind kind;
    std::string_view group;
};

// Reads exactly two characters per byte of `bytes`, stopping at the first
// fault. Each two-character group is an unsigned base-16 number, either
// letter case, with an optional leading "+" ("+f" is fifteen).
[[nodiscard]] Expected<void, HexFault> parse_hex(std::string_view text, std::span<std::uint8_t> bytes);
// Writes bytes as lowercase hex, two digits per byte, high nibble first, and
// returns the end of what it wrote.
inline char* write_hex(char* out, std::span<std::uint8_t const> bytes)
{
    constexpr std::string_view digits = "0123456789abcdef";
    for (std::uint8_t const byte : bytes) {
        *out++ = digits[static_cast<std::size_t>(byte >> 4U)];
        *out++ = digits[static_cast<std::size_t>(byte & 0x0FU)];
    }
    return out;
}
void append_hex(std::string& out, std::span<std::uint8_t const> bytes);

} // namespace quenmark
