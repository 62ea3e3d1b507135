#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenmark {

// The quoted form used inside error messages: the text between double quotes,
// with \" \\ \0 \t \n \r escapes, \u{hex} for combining marks (Grapheme_Extend)
// and for characters that are not printable, every other character as itself.
std::string quoted(std::string_view text);

// True for characters with the Unicode White_Space property.
bool is_white_space(char32_t code_point);
// The text with Unicode White_Space removed from both ends.
std::string_view trim_white_space(std::string_view text);
// Empty or made only of Unicode White_Space.
bool is_blank(std::string_view text);

bool is_valid_utf8(std::string_view text);

// Decodes the code point starting at text[index] (text must be valid UTF-8)
// and advances index past it.
char32_t next_code_point(std::string_view text, std::size_t& index);
void append_utf8(std::string& out, char32_t code_point);

// Decimal digits of an integer, without allocation beyond the append.
void append_decimal(std::string& out, std::uint64_t value);
void append_decimal(std::string& out, std::int64_t value);
std::string decimal(std::uint64_t value);
std::string decimal(std::int64_t value);

// Reads one two-character hexadecimal group as the hex readers do: an
// unsigned base-16 number with an optional leading "+", either letter case.
std::optional<std::uint8_t> parse_hex_group(std::string_view group);
// Appends bytes as lowercase hex, two digits per byte, high nibble first.
void append_hex(std::string& out, std::uint8_t const* bytes, std::size_t size);

} // namespace quenmark
