#pragma once

// Private to the platform library: the value of every byte read as a
// hexadecimal digit, for the readers that turn text into bytes.

#include <array>
#include <cstdint>

namespace quenmark::detail {

// A byte's value as a hex digit (either letter case), or not_hex_digit.
inline constexpr std::uint8_t not_hex_digit = 0xFF;

inline constexpr std::array<std::uint8_t, 256> hex_digit_values = [] {
    std::array<std::uint8_t, 256> values {};
    for (auto& value : values)
        value = not_hex_digit;
    for (unsigned digit = 0; digit < 10; ++digit)
        values['0' + digit] = static_cast<std::uint8_t>(digit);
    for (unsigned digit = 0; digit < 6; ++digit) {
        values['a' + digit] = static_cast<std::uint8_t>(10 + digit);
        values['A' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return values;
}();

inline std::uint8_t hex_digit_value(char digit) { return hex_digit_values[static_cast<unsigned char>(digit)]; }

} // namespace quenmark::detail
