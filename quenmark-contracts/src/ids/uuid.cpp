#include "quenmark/ids/uuid.h"

#include "quenmark/text/text.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <emmintrin.h>
#include <optional>
#include <span>
#include <sys/random.h>

namespace quenmark {

namespace {

constexpr std::string_view urn_prefix = "urn:uuid:";
constexpr std::array<std::size_t, 5> group_lengths { 8, 4, 4, 4, 12 };
constexpr std::size_t max_slug_length = 64;

// The character starting at byte `index` of `text`, shown as in the parser's
// message; control and other invisible characters are escaped so the message
// stays on one line and shows what was there.
std::string invalid_character(std::string_view text, std::size_t index)
{
    std::size_t position = 1;
    for (std::size_t cursor = 0; cursor < index;) {
        static_cast<void>(next_code_point(text, cursor));
        ++position;
    }
    std::size_t end = index;
    static_cast<void>(next_code_point(text, end));
    std::string_view const character = text.substr(index, end - index);

    std::string shown = quoted(character);
    shown = shown.substr(1, shown.size() - 2);
    if (character == "\"" || character == "\\")
        shown = std::string(character);

    std::string message = "invalid character: found `";
    message.append(shown);
    message.append("` at ");
    append_decimal(message, static_cast<std::uint64_t>(position));
    return message;
}

// Checks the hyphen layout of a body made only of hex digits and hyphens;
// returns the group count or group length message of the first fault, or an
// empty string when the body has the 8-4-4-4-12 layout.
std::string group_layout_fault(std::string_view body)
{
    std::size_t count = 1;
    for (char const character : body)
        count += character == '-' ? 1 : 0;
    if (count != group_lengths.size()) {
        std::string message = "invalid group count: expected 5, found ";
        append_decimal(message, static_cast<std::uint64_t>(count));
        return message;
    }
    std::size_t group = 0;
    std::size_t start = 0;
    while (group < group_lengths.size()) {
        std::size_t end = body.find('-', start);
        if (end == std::string_view::npos)
            end = body.size();
        std::size_t const found = end - start;
        if (found != group_lengths[group]) {
            std::string message = "invalid group length in group ";
            append_decimal(message, static_cast<std::uint64_t>(group + 1));
            message.append(": expected ");
            append_decimal(message, static_cast<std::uint64_t>(group_lengths[group]));
            message.append(", found ");
            append_decimal(message, static_cast<std::uint64_t>(found));
            return message;
        }
        start = end + 1;
        ++group;
    }
    return {};
}

// Up to eight characters packed into a word, the first in the lowest byte.
template<std::size_t count>
std::uint64_t packed_characters(char const* text)
{
    static_assert(count <= 8);
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, text, count);
    } else {
        for (std::size_t index = 0; index < count; ++index)
            word |= std::uint64_t { static_cast<unsigned char>(text[index]) } << (8U * index);
    }
    return word;
}

constexpr std::uint64_t in_each_byte(std::uint64_t byte) { return byte * 0x0101010101010101U; }

// The four bytes that eight packed hex digits spell, the first byte lowest,
// worked out for all eight characters at once; none when one of the eight
// is not a hex digit of either letter case.
std::optional<std::uint32_t> hex_word(std::uint64_t characters)
{
    // Adding 0x80 - n to a byte below 0x80 sets its top bit exactly when the
    // byte is at least n, and never carries into the next byte.
    std::uint64_t const low_seven = characters & in_each_byte(0x7F);
    auto const in_range = [](std::uint64_t bytes, std::uint64_t first, std::uint64_t last) {
        return (bytes + in_each_byte(0x80 - first)) & ~(bytes + in_each_byte(0x7F - last));
    };
    std::uint64_t const digit = in_range(low_seven, '0', '9');
    std::uint64_t const letter = in_range(low_seven | in_each_byte(0x20), 'a', 'f');
    if (((digit | letter) & ~characters & in_each_byte(0x80)) != in_each_byte(0x80))
        return std::nullopt;
    // A digit's value is its low four bits, plus nine for a letter (bit 6).
    std::uint64_t const values = (low_seven & in_each_byte(0x0F)) + ((low_seven >> 6U) & in_each_byte(0x01)) * 9;
    // Pairs of values into bytes (in every other byte), then those four bytes side by side.
    std::uint64_t bytes = ((values << 4U) | (values >> 8U)) & 0x00FF00FF00FF00FFU;
    bytes = (bytes | (bytes >> 8U)) & 0x0000FFFF0000FFFFU;
    bytes = (bytes | (bytes >> 16U)) & 0xFFFFFFFFU;
    return static_cast<std::uint32_t>(bytes);
}

// The canonical hyphenated form (8-4-4-4-12 digits, 36 characters) in one
// pass: the form every stored identifier takes, read without the general
// parser's three passes. Anything else, valid or not, is left to the
// general parser, which alone words the faults.
std::optional<Uuid> parse_hyphenated(std::string_view text)
{
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    char const* const data = text.data();
    std::array<std::uint64_t, 4> const groups {
        packed_characters<8>(data),
        packed_characters<4>(data + 9) | (packed_characters<4>(data + 14) << 32U),
        packed_characters<4>(data + 19) | (packed_characters<4>(data + 24) << 32U),
        packed_characters<8>(data + 28),
    };
    std::array<std::uint32_t, 4> words {};
    for (std::size_t group = 0; group < groups.size(); ++group) {
        auto const word = hex_word(groups[group]);
        if (!word)
            return std::nullopt;
        words[group] = *word;
    }
    // The bytes are stored in one sixteen-byte store: they are read back as a
    // whole right after, and a load that spans several smaller stores waits
    // for them to reach the cache (a copy through memory stalls the same way).
    Uuid uuid;
    if constexpr (std::endian::native == std::endian::little) {
        __m128i const packed = _mm_set_epi32(static_cast<int>(words[3]), static_cast<int>(words[2]),
                                             static_cast<int>(words[1]), static_cast<int>(words[0]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(uuid.bytes.data()), packed);
    } else {
        for (std::size_t index = 0; index < uuid.bytes.size(); ++index)
            uuid.bytes[index] = static_cast<std::uint8_t>(words[index / 4] >> (8U * (index % 4)));
    }
    return uuid;
}

std::string invalid_length(std::size_t length)
{
    std::string message = "invalid length: found ";
    append_decimal(message, static_cast<std::uint64_t>(length));
    return message;
}

// Every accepted shape, and the message of the first fault of a text that
// is none of them; kept out of line, away from the common case.
[[gnu::noinline]] Expected<Uuid, std::string> parse_any_shape(std::string_view text)
{
    // The body is the part inside the braces or after the "urn:uuid:" prefix.
    // Wrappers are recognised by the shape's length or by their presence, and
    // every fault is reported in the order of its position in the text.
    std::size_t offset = 0;
    std::string_view body = text;
    bool const braced = text.size() == 38 || (text.size() >= 2 && text.front() == '{' && text.back() == '}');
    // No hex digit is a 'u', so a text starting with one can only be a "urn:uuid:" attempt.
    bool const urn = !braced && (text.size() == 45 || text.starts_with('u'));
    if (braced) {
        if (text.front() != '{')
            return unexpected(invalid_character(text, 0));
        offset = 1;
        body = text.substr(1, text.size() - 2);
    } else if (urn) {
        for (std::size_t index = 0; index < urn_prefix.size(); ++index) {
            if (index == text.size())
                return unexpected(invalid_length(text.size()));
            if (text[index] != urn_prefix[index])
                return unexpected(invalid_character(text, index));
        }
        offset = urn_prefix.size();
        body = text.substr(urn_prefix.size());
    }

    bool has_hyphen = false;
    for (std::size_t index = 0; index < body.size(); ++index) {
        if (body[index] == '-') {
            has_hyphen = true;
            continue;
        }
        if (!hex_digit_value(body[index]))
            return unexpected(invalid_character(text, offset + index));
    }
    if (has_hyphen) {
        std::string fault = group_layout_fault(body);
        if (!fault.empty())
            return unexpected(std::move(fault));
    } else if (body.size() != 32 || offset != 0) {
        return unexpected(invalid_length(text.size()));
    }
    if (braced && text.back() != '}')
        return unexpected(invalid_character(text, text.size() - 1));

    Uuid uuid;
    std::size_t digit_index = 0;
    for (char const character : body) {
        if (character == '-')
            continue;
        unsigned const value = *hex_digit_value(character);
        std::uint8_t& byte = uuid.bytes[digit_index / 2];
        byte = static_cast<std::uint8_t>(digit_index % 2 == 0 ? value << 4U : byte | value);
        ++digit_index;
    }
    return uuid;
}

// Fills `out` from the operating system's random source or stops the process
// with "could not retrieve random bytes for uuid: " + the system's text.
void fill_random(std::span<std::uint8_t> out)
{
    std::size_t filled = 0;
    while (filled < out.size()) {
        ssize_t const got = getrandom(out.data() + filled, out.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail_internal(std::string("could not retrieve random bytes for uuid: ") + std::strerror(errno));
        }
        filled += static_cast<std::size_t>(got);
    }
}

} // namespace

Uuid Uuid::mint()
{
    Uuid uuid;
    fill_random(uuid.bytes);
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0FU) | 0x40U);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3FU) | 0x80U);
    return uuid;
}

Expected<Uuid, std::string> Uuid::parse(std::string_view text)
{
    if (auto const uuid = parse_hyphenated(text)) [[likely]]
        return *uuid;
    return parse_any_shape(text);
}

std::string Uuid::to_string() const
{
    std::string out;
    append_to(out);
    return out;
}

void Uuid::append_to(std::string& out) const
{
    std::size_t const start = out.size();
    out.resize(start + 36);
    char* cursor = out.data() + start;
    std::span<std::uint8_t const> rest = bytes;
    // The byte counts of the groups before each hyphen.
    for (std::size_t const group : std::array<std::size_t, 4> { 4, 2, 2, 2 }) {
        cursor = write_hex(cursor, rest.first(group));
        *cursor++ = '-';
        rest = rest.subspan(group);
    }
    write_hex(cursor, rest);
}

std::string Uuid::short_form() const
{
    std::string out;
    out.reserve(11);
    append_hex(out, std::span(bytes).first<4>());
    out.append("\u2026");
    return out;
}

Expected<Slug, ContractError> Slug::parse(std::string_view text)
{
    auto const fail = [](std::string reason) {
        return unexpected(ContractError::invalid_identifier("Slug", std::move(reason)));
    };
    if (text.empty())
        return fail("must not be empty");
    if (text.size() > max_slug_length) {
        std::string reason = "must be at most ";
        append_decimal(reason, static_cast<std::uint64_t>(max_slug_length));
        reason.append(" bytes, got ");
        append_decimal(reason, static_cast<std::uint64_t>(text.size()));
        return fail(std::move(reason));
    }
    for (char const character : text) {
        bool const allowed = (character >= 'a' && character <= 'z') || (character >= '0' && character <= '9')
            || character == '-';
        if (!allowed)
            return fail("may contain only lowercase ASCII letters, digits and hyphens");
    }
    if (text.front() == '-' || text.back() == '-')
        return fail("must not start or end with a hyphen");
    if (text.find("--") != std::string_view::npos)
        return fail("must not contain consecutive hyphens");
    return Slug(std::string(text));
}

} // namespace quenmark
