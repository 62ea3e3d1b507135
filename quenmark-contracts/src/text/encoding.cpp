#include "quenmark/text/encoding.h"

#include <algorithm>

namespace quenmark {

namespace {

constexpr std::string_view base58_alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr std::string_view base64_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int digit_of(std::string_view alphabet, char character)
{
    auto const position = alphabet.find(character);
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

} // namespace

// Base conversion on a big number held as base-58 digits, least significant
// first: each byte multiplies the number by 256 and adds itself. Quadratic,
// which is nothing for keys and signatures of a few dozen bytes.
std::string base58btc_encode(std::span<std::uint8_t const> bytes)
{
    std::size_t const zeros = static_cast<std::size_t>(
        std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte != 0; }) - bytes.begin());
    std::vector<std::uint8_t> digits;
    digits.reserve(bytes.size() * 138 / 100 + 1);
    for (std::size_t index = zeros; index < bytes.size(); ++index) {
        unsigned carry = bytes[index];
        for (std::uint8_t& digit : digits) {
            carry += unsigned { digit } << 8U;
            digit = static_cast<std::uint8_t>(carry % 58U);
            carry /= 58U;
        }
        while (carry != 0) {
            digits.push_back(static_cast<std::uint8_t>(carry % 58U));
            carry /= 58U;
        }
    }
    std::string text(zeros, '1');
    for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit)
        text.push_back(base58_alphabet[*digit]);
    return text;
}

std::optional<std::vector<std::uint8_t>> base58btc_decode(std::string_view text)
{
    std::size_t const ones = static_cast<std::size_t>(
        std::find_if(text.begin(), text.end(), [](char character) { return character != '1'; }) - text.begin());
    std::vector<std::uint8_t> bytes; // least significant first
    for (std::size_t index = ones; index < text.size(); ++index) {
        int const digit = digit_of(base58_alphabet, text[index]);
        if (digit < 0)
            return std::nullopt;
        auto carry = static_cast<unsigned>(digit);
        for (std::uint8_t& byte : bytes) {
            carry += unsigned { byte } * 58U;
            byte = static_cast<std::uint8_t>(carry & 0xFFU);
            carry >>= 8U;
        }
        while (carry != 0) {
            bytes.push_back(static_cast<std::uint8_t>(carry & 0xFFU));
            carry >>= 8U;
        }
    }
    std::vector<std::uint8_t> result(ones, 0);
    result.insert(result.end(), bytes.rbegin(), bytes.rend());
    return result;
}

std::string base64_encode(std::span<std::uint8_t const> bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t index = 0; index < bytes.size(); index += 3) {
        std::size_t const count = std::min<std::size_t>(3, bytes.size() - index);
        std::uint32_t group = std::uint32_t { bytes[index] } << 16U;
        if (count > 1)
            group |= std::uint32_t { bytes[index + 1] } << 8U;
        if (count > 2)
            group |= bytes[index + 2];
        for (std::size_t sextet = 0; sextet < 4; ++sextet) {
            if (sextet <= count)
                text.push_back(base64_alphabet[(group >> (18U - 6U * sextet)) & 0x3FU]);
            else
                text.push_back('=');
        }
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t index = 0; index < text.size(); index += 4) {
        bool const last = index + 4 == text.size();
        std::size_t padding = 0;
        std::uint32_t group = 0;
        for (std::size_t offset = 0; offset < 4; ++offset) {
            char const character = text[index + offset];
            if (character == '=' && last && offset >= 2) {
                ++padding;
                group <<= 6U;
                continue;
            }
            int const digit = digit_of(base64_alphabet, character);
            if (digit < 0 || padding != 0)
                return std::nullopt;
            group = (group << 6U) | static_cast<std::uint32_t>(digit);
        }
        // Bits that padding leaves over must be zero, so each text has one reading.
        if ((padding == 1 && (group & 0xFFU) != 0) || (padding == 2 && (group & 0xFFFFU) != 0))
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(group >> 16U));
        if (padding < 2)
            bytes.push_back(static_cast<std::uint8_t>(group >> 8U));
        if (padding < 1)
            bytes.push_back(static_cast<std::uint8_t>(group));
    }
    return bytes;
}

} // namespace quenmark
