#pragma once

// Private to the JSON writers: the checks that let strings which need no
// escape and no composition, the common case, go out in one copy. Each looks
// at eight bytes at a time.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quenmark::json::detail {

constexpr std::uint64_t repeated_byte(std::uint8_t byte) { return 0x0101010101010101ULL * byte; }

inline std::uint64_t load_word(char const* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// True when every byte is below 0x80.
inline bool is_ascii(std::string_view text)
{
    std::size_t index = 0;
    for (; index + 8 <= text.size(); index += 8) {
        if ((load_word(text.data() + index) & repeated_byte(0x80)) != 0)
            return false;
    }
    for (; index < text.size(); ++index) {
        if (static_cast<unsigned char>(text[index]) >= 0x80U)
            return false;
    }
    return true;
}

// Marks, in their top bits, the bytes of an eight-byte word that the string
// writer escapes: those below 0x20, the quotation mark and the backslash. A
// byte below 0x20 borrows when 0x20 is taken from it, and the two characters
// become zero under xor and borrow when 1 is taken; either way its top bit
// ends up set. Borrows only run upwards from such a byte, so the mask is zero
// exactly when the word needs no escape; bytes of 0x80 and above, whose top
// bit was set to begin with, are masked out.
inline std::uint64_t escape_mask(std::uint64_t word)
{
    std::uint64_t const below_space = word - repeated_byte(0x20);
    std::uint64_t const quotation_mark = (word ^ repeated_byte('"')) - repeated_byte(0x01);
    std::uint64_t const backslash = (word ^ repeated_byte('\\')) - repeated_byte(0x01);
    return (below_space | quotation_mark | backslash) & ~word & repeated_byte(0x80);
}

// Whether no byte of the text needs escaping. Texts of up to eight bytes are
// gathered into one word (the bytes left over are filled with a letter);
// longer ones end with a word that overlaps the one before it.
bool needs_no_escape(std::string_view text);

// Appends bytes that need no escaping between quotation marks, in one step.
inline void append_quoted_verbatim(std::string& out, std::string_view text)
{
    std::size_t const start = out.size();
    out.resize(start + text.size() + 2);
    char* const target = out.data() + start;
    target[0] = '"';
    if (!text.empty())
        std::memcpy(target + 1, text.data(), text.size());
    target[text.size() + 1] = '"';
}

} // namespace quenmark::json::detail
