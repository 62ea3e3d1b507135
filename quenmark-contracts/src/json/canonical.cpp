// The canonical writer in its two forms, with the string escaping and the key
// composition it applies (the pretty writer escapes strings the same way).

#include "quenmark/json/value.h"

#include "quenmark/text/text.h"

#include "json/strings.h"

#include <algorithm>
#include <array>

namespace quenmark::json {

namespace {

using detail::escape_mask;
using detail::load_word;
using detail::repeated_byte;

bool byte_needs_escape(unsigned char byte) { return byte < 0x20U || byte == '"' || byte == '\\'; }

// The position of the first byte at or after `from` that the string writer
// escapes, or the text's size when there is none. Looks at eight bytes at a
// time, and at the tail of a text of eight bytes or more through the text's
// last eight bytes, so clean text is never looked at byte by byte.
std::size_t next_escape(std::string_view text, std::size_t from)
{
    char const* const data = text.data();
    std::size_t const size = text.size();
    auto const first_between = [data](std::size_t start, std::size_t end) {
        for (std::size_t position = start; position < end; ++position) {
            if (byte_needs_escape(static_cast<unsigned char>(data[position])))
                return position;
        }
        return end;
    };
    std::size_t index = from;
    for (; index + 8 <= size; index += 8) {
        if (escape_mask(load_word(data + index)) != 0)
            return first_between(index, index + 8);
    }
    if (index == size)
        return size;
    // The rest is shorter than a word: look at the text's last eight bytes
    // at once when there are that many, even though they overlap bytes
    // before `index`.
    if (size >= 8 && escape_mask(load_word(data + size - 8)) == 0)
        return size;
    return first_between(index, size);
}

// The two-character escapes; every other control character is written as \u00xx.
constexpr std::array<std::pair<char, char>, 7> short_escapes { {
    { '"', '"' }, { '\\', '\\' }, { '\b', 'b' }, { '\t', 't' }, { '\n', 'n' }, { '\f', 'f' }, { '\r', 'r' },
} };

void append_escape(std::string& out, unsigned char byte)
{
    for (auto const& [character, letter] : short_escapes) {
        if (byte == static_cast<unsigned char>(character)) {
            char const escape[2] = { '\\', letter };
            out.append(escape, sizeof escape);
            return;
        }
    }
    constexpr std::string_view digits = "0123456789abcdef";
    char const escape[6] = { '\\', 'u', '0', '0', digits[static_cast<std::size_t>(byte >> 4U)],
        digits[static_cast<std::size_t>(byte & 0x0FU)] };
    out.append(escape, sizeof escape);
}

// The pairs that compose: each row is a base letter and what it becomes with
// each combining mark of `marks` (0 where the pair is not composed).
constexpr std::array<char32_t, 7> marks { 0x0300, 0x0301, 0x0302, 0x0303, 0x0308, 0x030A, 0x030C };
// clang-format off
constexpr std::array<std::pair<char, std::array<char16_t, 7>>, 20> compositions { {
    //     grave   acute   circum  tilde   diaer   ring    caron
    { 'A', { 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0      } },
    { 'C', { 0,      0,      0,      0,      0,      0,      0x010C } },
    { 'E', { 0x00C8, 0x00C9, 0x00CA, 0,      0x00CB, 0,      0      } },
    { 'I', { 0x00CC, 0x00CD, 0x00CE, 0,      0x00CF, 0,      0      } },
    { 'N', { 0,      0,      0,      0x00D1, 0,      0,      0      } },
    { 'O', { 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0,      0      } },
    { 'S', { 0,      0,      0,      0,      0,      0,      0x0160 } },
    { 'U', { 0x00D9, 0x00DA, 0x00DB, 0,      0x00DC, 0,      0      } },
    { 'Y', { 0,      0x00DD, 0,      0,      0,      0,      0      } },
    { 'Z', { 0,      0,      0,      0,      0,      0,      0x017D } },
    { 'a', { 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0      } },
    { 'c', { 0,      0,      0,      0,      0,      0,      0x010D } },
    { 'e', { 0x00E8, 0x00E9, 0x00EA, 0,      0x00EB, 0,      0      } },
    { 'i', { 0x00EC, 0x00ED, 0x00EE, 0,      0x00EF, 0,      0      } },
    { 'n', { 0,      0,      0,      0x00F1, 0,      0,      0      } },
    { 'o', { 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0,      0      } },
    { 's', { 0,      0,      0,      0,      0,      0,      0x0161 } },
    { 'u', { 0x00F9, 0x00FA, 0x00FB, 0,      0x00FC, 0,      0      } },
    { 'y', { 0,      0x00FD, 0,      0,      0x00FF, 0,      0      } },
    { 'z', { 0,      0,      0,      0,      0,      0,      0x017E } },
} };
// clang-format on

// The same pairs by ASCII base letter and by mark in U+0300..U+030C, for a lookup in one step.
constexpr auto composition_lookup = [] {
    std::array<std::array<char16_t, 13>, 128> lookup {};
    for (auto const& [base, row] : compositions) {
        for (std::size_t column = 0; column < marks.size(); ++column)
            lookup[static_cast<std::size_t>(base)][marks[column] - 0x0300] = row[column];
    }
    return lookup;
}();

std::string_view key_text(std::string const& keys, std::size_t start, std::size_t size)
{
    return std::string_view(keys).substr(start, size);
}

} // namespace

bool detail::needs_no_escape(std::string_view text)
{
    char const* const data = text.data();
    std::size_t const size = text.size();
    if (size <= 8) {
        auto const half_word = [data](std::size_t index) {
            std::uint32_t half = 0;
            std::memcpy(&half, data + index, sizeof half);
            return std::uint64_t { half };
        };
        std::uint64_t word = repeated_byte('a');
        if (size >= 4) {
            word = half_word(0) | (half_word(size - 4) << 32U);
        } else if (size > 0) {
            auto const byte = [data](std::size_t index) {
                return std::uint64_t { static_cast<unsigned char>(data[index]) };
            };
            word = (word & ~std::uint64_t { 0xFFFFFF }) | byte(0) | (byte(size / 2) << 8U) | (byte(size - 1) << 16U);
        }
        return escape_mask(word) == 0;
    }
    std::size_t index = 0;
    for (; index + 8 < size; index += 8) {
        if (escape_mask(load_word(data + index)) != 0)
            return false;
    }
    return escape_mask(load_word(data + size - 8)) == 0;
}

void append_string(std::string& out, std::string_view text)
{
    if (detail::needs_no_escape(text)) {
        detail::append_quoted_verbatim(out, text);
        return;
    }
    std::size_t escape_at = next_escape(text, 0);
    out.push_back('"');
    std::size_t run_start = 0;
    while (escape_at < text.size()) {
        out.append(text.data() + run_start, escape_at - run_start);
        append_escape(out, static_cast<unsigned char>(text[escape_at]));
        run_start = escape_at + 1;
        escape_at = next_escape(text, run_start);
    }
    out.append(text.data() + run_start, text.size() - run_start);
    out.push_back('"');
}

// UTF-8 byte order is code point order, and so is UTF-16 order, except where
// a character past U+FFFF (a surrogate pair, D800..DBFF first) meets one of
// U+E000..U+FFFF: in UTF-16 the pair sorts first. The texts differ first
// inside a character that both share the lead byte of (then both are of one
// length, and bytes and code units agree), or at two lead bytes; only there
// can a four-byte sequence (lead F0..F4) meet a three-byte one of
// U+E000..U+FFFF (lead EE or EF).
bool utf16_less(std::string_view left, std::string_view right)
{
    auto const [left_at, right_at] = std::mismatch(left.begin(), left.end(), right.begin(), right.end());
    if (right_at == right.end())
        return false;
    if (left_at == left.end())
        return true;
    auto const left_byte = static_cast<unsigned char>(*left_at);
    auto const right_byte = static_cast<unsigned char>(*right_at);
    auto const beyond_bmp = [](unsigned char lead) { return lead >= 0xF0U; };
    auto const private_use_or_later = [](unsigned char lead) { return lead == 0xEEU || lead == 0xEFU; };
    if (beyond_bmp(left_byte) && private_use_or_later(right_byte))
        return true;
    if (private_use_or_later(left_byte) && beyond_bmp(right_byte))
        return false;
    return left_byte < right_byte;
}

std::string compose(std::string_view text)
{
    if (detail::is_ascii(text))
        return std::string(text);
    // Every mark of the table is U+0300..U+030C, encoded as 0xCC 0x80..0x8C,
    // and every base letter is ASCII, so the pairs can be found on the bytes
    // without decoding; all other bytes are copied unchanged.
    std::string out;
    out.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        auto const current = static_cast<unsigned char>(text[index]);
        if (current < 0x80U && index + 2 < text.size() && static_cast<unsigned char>(text[index + 1]) == 0xCCU) {
            auto const second = static_cast<unsigned char>(text[index + 2]);
            if (second >= 0x80U && second <= 0x8CU) {
                char16_t const composed = composition_lookup[current][second - 0x80U];
                if (composed != 0) {
                    append_utf8(out, composed);
                    index += 3;
                    continue;
                }
            }
        }
        out.push_back(static_cast<char>(current));
        ++index;
    }
    return out;
}

// CanonicalWriter ------------------------------------------------------------

void CanonicalWriter::separate()
{
    if (m_comma)
        m_out.push_back(',');
}

void CanonicalWriter::begin_object()
{
    separate();
    m_out.push_back('{');
    ++m_depth;
    m_comma = false;
}

bool CanonicalWriter::key_less(std::string_view left, std::string_view right) const
{
    if (m_form == CanonicalForm::Jcs)
        return utf16_less(left, right);
    return left < right;
}

void CanonicalWriter::key(std::string_view name)
{
    std::string composed_text;
    std::string_view composed = name;
    if (m_form == CanonicalForm::Signing && !detail::is_ascii(name)) {
        composed_text = compose(name);
        composed = composed_text;
    }
    if (m_objects.empty() || m_objects.back().depth != m_depth)
        m_objects.push_back(OpenObject { m_depth, m_members.size(), true });
    OpenObject& object = m_objects.back();
    if (m_members.size() > object.first_member) {
        Member& previous = m_members.back();
        previous.end = m_out.size();
        if (!key_less(key_text(m_keys, previous.key_start, previous.key_size), composed))
            object.in_order = false;
    }
    separate();
    m_members.push_back(Member { m_keys.size(), composed.size(), m_out.size(), 0 });
    m_keys.append(composed);
    append_string(m_out, composed);
    m_out.push_back(':');
    m_comma = false;
}

void CanonicalWriter::key_in_order(std::string_view name)
{
    separate();
    std::size_t const start = m_out.size();
    m_out.resize(start + name.size() + 3);
    char* const target = m_out.data() + start;
    target[0] = '"';
    std::memcpy(target + 1, name.data(), name.size());
    target[name.size() + 1] = '"';
    target[name.size() + 2] = ':';
    m_comma = false;
}

void CanonicalWriter::end_object()
{
    if (!m_objects.empty() && m_objects.back().depth == m_depth) {
        OpenObject const object = m_objects.back();
        m_objects.pop_back();
        m_members.back().end = m_out.size();
        std::size_t const keys_start = m_members[object.first_member].key_start;
        if (!object.in_order)
            sort_members(object);
        m_keys.resize(keys_start);
        m_members.resize(object.first_member);
    }
    m_out.push_back('}');
    --m_depth;
    m_comma = true;
}

// Rewrites the object's members, which end the output, in ascending order of
// their composed keys, and notes the first pair of equal keys.
void CanonicalWriter::sort_members(OpenObject const& object)
{
    auto const first = m_members.begin() + static_cast<std::ptrdiff_t>(object.first_member);
    auto const key_of = [this](Member const& member) { return key_text(m_keys, member.key_start, member.key_size); };
    std::size_t const region = first->start;
    std::stable_sort(first, m_members.end(),
        [&](Member const& left, Member const& right) { return key_less(key_of(left), key_of(right)); });
    auto const equal = std::adjacent_find(first, m_members.end(),
        [&](Member const& left, Member const& right) { return key_of(left) == key_of(right); });
    if (equal != m_members.end() && !m_error) {
        std::string message = "duplicate object key " + quoted(key_of(*equal));
        if (m_form == CanonicalForm::Signing)
            message += " after Unicode normalisation";
        m_error = ContractError::canonical_serialization(std::move(message));
    }
    std::string const written = m_out.substr(region);
    m_out.resize(region);
    for (auto member = first; member != m_members.end(); ++member) {
        if (member != first)
            m_out.push_back(',');
        m_out.append(written, member->start - region, member->end - member->start);
    }
}

void CanonicalWriter::begin_array()
{
    separate();
    m_out.push_back('[');
    ++m_depth;
    m_comma = false;
}

void CanonicalWriter::end_array()
{
    m_out.push_back(']');
    --m_depth;
    m_comma = true;
}

void CanonicalWriter::null()
{
    separate();
    m_out.append("null");
    m_comma = true;
}

void CanonicalWriter::boolean(bool value)
{
    separate();
    m_out.append(value ? "true" : "false");
    m_comma = true;
}

void CanonicalWriter::unsigned_integer(std::uint64_t value)
{
    separate();
    append_decimal(m_out, value);
    m_comma = true;
}

void CanonicalWriter::signed_integer(std::int64_t value)
{
    separate();
    append_decimal(m_out, value);
    m_comma = true;
}

void CanonicalWriter::string(std::string_view value)
{
    separate();
    if (m_form == CanonicalForm::Jcs || detail::is_ascii(value))
        append_string(m_out, value);
    else
        append_string(m_out, compose(value));
    m_comma = true;
}

void CanonicalWriter::plain_string(std::string_view value)
{
    separate();
    detail::append_quoted_verbatim(m_out, value);
    m_comma = true;
}

Expected<void, ContractError> CanonicalWriter::status() const
{
    if (m_error)
        return unexpected(*m_error);
    return {};
}

} // namespace quenmark::json
