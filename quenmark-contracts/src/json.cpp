#include "quenmark/json.h"

#include "quenmark/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <type_traits>

namespace quenmark::json {

namespace {

// Position of an alternative in Value's variant, for switching on index().
template<typename T, std::size_t Index = 0>
constexpr std::size_t kind_of()
{
    using Alternatives = decltype(Value::data);
    if constexpr (std::is_same_v<std::variant_alternative_t<Index, Alternatives>, T>)
        return Index;
    else
        return kind_of<T, Index + 1>();
}

constexpr std::size_t null_kind = kind_of<std::nullptr_t>();
constexpr std::size_t boolean_kind = kind_of<bool>();
constexpr std::size_t unsigned_kind = kind_of<std::uint64_t>();
constexpr std::size_t signed_kind = kind_of<std::int64_t>();
constexpr std::size_t double_kind = kind_of<double>();
constexpr std::size_t string_kind = kind_of<std::string>();
constexpr std::size_t array_kind = kind_of<Array>();
constexpr std::size_t object_kind = kind_of<Object>();

constexpr std::uint64_t repeated_byte(std::uint8_t byte) { return 0x0101010101010101ULL * byte; }

std::uint64_t load_word(char const* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

std::uint32_t load_half_word(char const* bytes)
{
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// True when every byte is below 0x80; looks at eight bytes at a time.
bool is_ascii(std::string_view text)
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
std::uint64_t escape_mask(std::uint64_t word)
{
    std::uint64_t const below_space = word - repeated_byte(0x20);
    std::uint64_t const quotation_mark = (word ^ repeated_byte('"')) - repeated_byte(0x01);
    std::uint64_t const backslash = (word ^ repeated_byte('\\')) - repeated_byte(0x01);
    return (below_space | quotation_mark | backslash) & ~word & repeated_byte(0x80);
}

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

// Whether no byte of the text needs escaping: the common case, checked
// eight bytes at a time. Texts of up to eight bytes are gathered into one
// word (the bytes left over are filled with a letter); longer ones end with
// a word that overlaps the one before it.
bool needs_no_escape(std::string_view text)
{
    char const* const data = text.data();
    std::size_t const size = text.size();
    if (size <= 8) {
        std::uint64_t word = repeated_byte('a');
        if (size >= 4) {
            word = load_half_word(data) | (std::uint64_t { load_half_word(data + size - 4) } << 32U);
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

// Appends bytes that need no escaping between quotation marks, in one step.
void append_quoted_verbatim(std::string& out, std::string_view text)
{
    std::size_t const start = out.size();
    out.resize(start + text.size() + 2);
    char* const target = out.data() + start;
    target[0] = '"';
    if (!text.empty())
        std::memcpy(target + 1, text.data(), text.size());
    target[text.size() + 1] = '"';
}

// ",\n" and a run of spaces: a separator, its line break and the indentation
// of most nesting depths go out in one append.
constexpr std::size_t indent_run_size = 128;
constexpr auto separator_run = [] {
    std::array<char, 2 + indent_run_size> run {};
    run[0] = ',';
    run[1] = '\n';
    for (std::size_t index = 2; index < run.size(); ++index)
        run[index] = ' ';
    return run;
}();

// Appends an optional comma, a line break and two spaces per level of depth.
void append_line_break(std::string& out, std::size_t depth, bool comma)
{
    std::size_t spaces = depth * 2;
    char const* const start = separator_run.data() + (comma ? 0 : 1);
    std::size_t const lead = comma ? 2 : 1;
    if (spaces <= indent_run_size) {
        out.append(start, lead + spaces);
        return;
    }
    out.append(start, lead + indent_run_size);
    spaces -= indent_run_size;
    while (spaces > 0) {
        std::size_t const count = std::min(spaces, indent_run_size);
        out.append(separator_run.data() + 2, count);
        spaces -= count;
    }
}

void append_escape(std::string& out, unsigned char byte)
{
    switch (byte) {
    case '"':
        out.append("\\\"");
        return;
    case '\\':
        out.append("\\\\");
        return;
    case '\b':
        out.append("\\b");
        return;
    case '\t':
        out.append("\\t");
        return;
    case '\n':
        out.append("\\n");
        return;
    case '\f':
        out.append("\\f");
        return;
    case '\r':
        out.append("\\r");
        return;
    default:
        break;
    }
    constexpr std::string_view digits = "0123456789abcdef";
    char const escape[6] = { '\\', 'u', '0', '0', digits[static_cast<std::size_t>(byte >> 4U)],
        digits[static_cast<std::size_t>(byte & 0x0FU)] };
    out.append(escape, sizeof escape);
}

template<typename Integer>
void append_integer(std::string& out, Integer value)
{
    std::array<char, 24> digits {};
    auto const result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

void append_double(std::string& out, double value)
{
    std::array<char, 32> digits {};
    auto const result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

// The composed character of a base letter and a combining mark in
// U+0300..U+030C, or 0 when the pair is not composed. Rows follow the
// marks: grave, acute, circumflex, tilde, diaeresis, ring above, caron.
char32_t composition(char base, char32_t mark)
{
    int column = 0;
    switch (mark) {
    case 0x0300:
        column = 0;
        break;
    case 0x0301:
        column = 1;
        break;
    case 0x0302:
        column = 2;
        break;
    case 0x0303:
        column = 3;
        break;
    case 0x0308:
        column = 4;
        break;
    case 0x030A:
        column = 5;
        break;
    case 0x030C:
        column = 6;
        break;
    default:
        return 0;
    }
    using Row = std::array<char16_t, 7>;
    Row row {};
    switch (base) {
    case 'A':
        row = { 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0 };
        break;
    case 'C':
        row = { 0, 0, 0, 0, 0, 0, 0x010C };
        break;
    case 'E':
        row = { 0x00C8, 0x00C9, 0x00CA, 0, 0x00CB, 0, 0 };
        break;
    case 'I':
        row = { 0x00CC, 0x00CD, 0x00CE, 0, 0x00CF, 0, 0 };
        break;
    case 'N':
        row = { 0, 0, 0, 0x00D1, 0, 0, 0 };
        break;
    case 'O':
        row = { 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0, 0 };
        break;
    case 'S':
        row = { 0, 0, 0, 0, 0, 0, 0x0160 };
        break;
    case 'U':
        row = { 0x00D9, 0x00DA, 0x00DB, 0, 0x00DC, 0, 0 };
        break;
    case 'Y':
        row = { 0, 0x00DD, 0, 0, 0, 0, 0 };
        break;
    case 'Z':
        row = { 0, 0, 0, 0, 0, 0, 0x017D };
        break;
    case 'a':
        row = { 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0 };
        break;
    case 'c':
        row = { 0, 0, 0, 0, 0, 0, 0x010D };
        break;
    case 'e':
        row = { 0x00E8, 0x00E9, 0x00EA, 0, 0x00EB, 0, 0 };
        break;
    case 'i':
        row = { 0x00EC, 0x00ED, 0x00EE, 0, 0x00EF, 0, 0 };
        break;
    case 'n':
        row = { 0, 0, 0, 0x00F1, 0, 0, 0 };
        break;
    case 'o':
        row = { 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0, 0 };
        break;
    case 's':
        row = { 0, 0, 0, 0, 0, 0, 0x0161 };
        break;
    case 'u':
        row = { 0x00F9, 0x00FA, 0x00FB, 0, 0x00FC, 0, 0 };
        break;
    case 'y':
        row = { 0, 0x00FD, 0, 0, 0x00FF, 0, 0 };
        break;
    case 'z':
        row = { 0, 0, 0, 0, 0, 0, 0x017E };
        break;
    default:
        return 0;
    }
    return row[static_cast<std::size_t>(column)];
}

std::string path_text(std::vector<std::string> const& path)
{
    if (path.empty())
        return "<root>";
    std::string text;
    for (std::size_t index = 0; index < path.size(); ++index) {
        if (index != 0)
            text.push_back('.');
        text.append(path[index]);
    }
    return text;
}

ContractError floating_point_at(std::string const& path)
{
    return ContractError::canonical_serialization("floating-point number at " + path
        + " cannot be canonicalised; use an integer or a decimal string in signed contracts");
}

bool key_less(std::string const& left, std::string const& right)
{
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values and puts a prefix first.
    return left < right;
}

// One location segment of the fast writer: an object key or an array index.
// Plain data, so pushing and popping never allocates.
struct Segment {
    std::string_view key;
    std::size_t index { 0 };
    bool is_index { false };
};

std::vector<std::string> owned_path(std::vector<Segment> const& segments)
{
    std::vector<std::string> path;
    path.reserve(segments.size());
    for (Segment const& segment : segments)
        path.push_back(segment.is_index ? decimal(static_cast<std::uint64_t>(segment.index)) : std::string(segment.key));
    return path;
}

// Object keys that compose to themselves and are already strictly ascending
// can be written as they stand: canonicalising them changes nothing.
bool keys_already_canonical(Object const& object)
{
    for (std::size_t index = 0; index < object.size(); ++index) {
        if (!is_ascii(object[index].first))
            return false;
        if (index != 0 && !key_less(object[index - 1].first, object[index].first))
            return false;
    }
    return true;
}

// Canonicalises and writes in one pass. Subtrees that need real work (an
// object with non-ASCII or unordered keys) go through canonicalise().
[[nodiscard]] Expected<void, ContractError> write_canonicalised(Value const& value, std::vector<Segment>& segments,
                                                                std::string& out)
{
    switch (value.data.index()) {
    case double_kind:
        return unexpected(floating_point_at(path_text(owned_path(segments))));
    case string_kind: {
        auto const& text = std::get<std::string>(value.data);
        if (is_ascii(text))
            append_string(out, text);
        else
            append_string(out, compose(text));
        return {};
    }
    case array_kind: {
        auto const& array = std::get<Array>(value.data);
        out.push_back('[');
        for (std::size_t index = 0; index < array.size(); ++index) {
            if (index != 0)
                out.push_back(',');
            segments.push_back(Segment { {}, index, true });
            TRY(write_canonicalised(array[index], segments, out));
            segments.pop_back();
        }
        out.push_back(']');
        return {};
    }
    case object_kind: {
        auto const& object = std::get<Object>(value.data);
        if (!keys_already_canonical(object)) {
            std::vector<std::string> path = owned_path(segments);
            Value const canonical = TRY(canonicalise(value, path));
            write_canonical(canonical, out);
            return {};
        }
        out.push_back('{');
        for (std::size_t index = 0; index < object.size(); ++index) {
            if (index != 0)
                out.push_back(',');
            append_string(out, object[index].first);
            out.push_back(':');
            segments.push_back(Segment { object[index].first, 0, false });
            TRY(write_canonicalised(object[index].second, segments, out));
            segments.pop_back();
        }
        out.push_back('}');
        return {};
    }
    default:
        write_canonical(value, out);
        return {};
    }
}

} // namespace

Value::Value(std::int64_t value)
{
    if (value >= 0)
        data = static_cast<std::uint64_t>(value);
    else
        data = value;
}

void set_member(Object& object, std::string key, Value value)
{
    // Records mostly add keys in order, so try the end first.
    if (object.empty() || key_less(object.back().first, key)) {
        object.emplace_back(std::move(key), std::move(value));
        return;
    }
    auto const position = std::lower_bound(object.begin(), object.end(), key,
        [](std::pair<std::string, Value> const& member, std::string const& wanted) {
            return key_less(member.first, wanted);
        });
    if (position != object.end() && position->first == key) {
        position->second = std::move(value);
        return;
    }
    object.emplace(position, std::move(key), std::move(value));
}

// PrettyWriter ---------------------------------------------------------------

void PrettyWriter::before_value()
{
    if (m_after_key) {
        m_after_key = false;
        return;
    }
    if (m_has_element.empty())
        return;
    bool const comma = m_has_element.back() != 0;
    m_has_element.back() = 1;
    append_line_break(m_out, m_has_element.size(), comma);
}

void PrettyWriter::open(char bracket)
{
    before_value();
    m_out.push_back(bracket);
    m_has_element.push_back(0);
}

void PrettyWriter::close(char bracket)
{
    bool const had_element = !m_has_element.empty() && m_has_element.back() != 0;
    if (!m_has_element.empty())
        m_has_element.pop_back();
    if (had_element)
        append_line_break(m_out, m_has_element.size(), /*comma=*/false);
    m_out.push_back(bracket);
}

void PrettyWriter::begin_object() { open('{'); }

void PrettyWriter::key(std::string_view name)
{
    // Member names are mostly short constants that need no escaping: the
    // line break, the indentation, the quoted name and the ": " after it then
    // go out in one append.
    constexpr std::size_t short_name = 64;
    constexpr std::size_t shallow_indent = 64;
    bool const in_one_piece = !m_after_key && !m_has_element.empty() && name.size() <= short_name
        && m_has_element.size() * 2 <= shallow_indent && needs_no_escape(name);
    if (!in_one_piece) {
        before_value();
        append_string(m_out, name);
        m_out.append(": ");
        m_after_key = true;
        return;
    }
    bool const comma = m_has_element.back() != 0;
    m_has_element.back() = 1;
    std::size_t const lead = (comma ? 2 : 1) + m_has_element.size() * 2;
    std::array<char, 2 + shallow_indent + short_name + 4> piece;
    std::memcpy(piece.data(), separator_run.data() + (comma ? 0 : 1), lead);
    char* const quoted = piece.data() + lead;
    quoted[0] = '"';
    std::memcpy(quoted + 1, name.data(), name.size());
    quoted[name.size() + 1] = '"';
    quoted[name.size() + 2] = ':';
    quoted[name.size() + 3] = ' ';
    m_out.append(piece.data(), lead + name.size() + 4);
    m_after_key = true;
}

void PrettyWriter::end_object() { close('}'); }

void PrettyWriter::begin_array() { open('['); }

void PrettyWriter::end_array() { close(']'); }

void PrettyWriter::null()
{
    before_value();
    m_out.append("null");
}

void PrettyWriter::boolean(bool value)
{
    before_value();
    m_out.append(value ? "true" : "false");
}

void PrettyWriter::unsigned_integer(std::uint64_t value)
{
    before_value();
    append_integer(m_out, value);
}

void PrettyWriter::signed_integer(std::int64_t value)
{
    before_value();
    append_integer(m_out, value);
}

void PrettyWriter::string(std::string_view value)
{
    before_value();
    append_string(m_out, value);
}

// ValueBuilder ---------------------------------------------------------------

void ValueBuilder::put(Value value)
{
    if (m_stack.empty()) {
        m_result = std::move(value);
        return;
    }
    Value& container = m_stack.back();
    if (auto* array = std::get_if<Array>(&container.data)) {
        array->push_back(std::move(value));
        return;
    }
    auto& object = std::get<Object>(container.data);
    std::string name;
    if (!m_keys.empty()) {
        name = std::move(m_keys.back());
        m_keys.pop_back();
    }
    set_member(object, std::move(name), std::move(value));
}

void ValueBuilder::begin_object() { m_stack.emplace_back(Object {}); }

void ValueBuilder::key(std::string_view name) { m_keys.emplace_back(name); }

void ValueBuilder::end_object()
{
    if (m_stack.empty())
        return;
    Value finished = std::move(m_stack.back());
    m_stack.pop_back();
    put(std::move(finished));
}

void ValueBuilder::begin_array() { m_stack.emplace_back(Array {}); }

// Closing either kind of container is the same step.
void ValueBuilder::end_array() { end_object(); }

void ValueBuilder::null() { put(Value(nullptr)); }

void ValueBuilder::boolean(bool value) { put(Value(value)); }

void ValueBuilder::unsigned_integer(std::uint64_t value) { put(Value(value)); }

void ValueBuilder::signed_integer(std::int64_t value) { put(Value(value)); }

void ValueBuilder::string(std::string_view value) { put(Value(std::string(value))); }

Value ValueBuilder::take()
{
    Value result = std::move(m_result);
    m_result = Value();
    m_stack.clear();
    m_keys.clear();
    return result;
}

// Strings and canonical form ---------------------------------------------------

void append_string(std::string& out, std::string_view text)
{
    if (needs_no_escape(text)) {
        append_quoted_verbatim(out, text);
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

std::string compose(std::string_view text)
{
    if (is_ascii(text))
        return std::string(text);
    // Every mark of the table is U+0300..U+030C, encoded as 0xCC 0x80..0x8C,
    // and every base letter is ASCII, so the pairs can be found on the bytes
    // without decoding; all other bytes are copied unchanged.
    std::string out;
    out.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        char const current = text[index];
        if (static_cast<unsigned char>(current) < 0x80U && index + 2 < text.size()
            && static_cast<unsigned char>(text[index + 1]) == 0xCCU) {
            auto const second = static_cast<unsigned char>(text[index + 2]);
            if (second >= 0x80U && second <= 0x8CU) {
                char32_t const composed = composition(current, 0x0300U + (second - 0x80U));
                if (composed != 0) {
                    append_utf8(out, composed);
                    index += 3;
                    continue;
                }
            }
        }
        out.push_back(current);
        ++index;
    }
    return out;
}

Expected<Value, ContractError> canonicalise(Value const& value, std::vector<std::string>& path)
{
    switch (value.data.index()) {
    case double_kind:
        return unexpected(floating_point_at(path_text(path)));
    case string_kind:
        return Value(compose(std::get<std::string>(value.data)));
    case array_kind: {
        auto const& array = std::get<Array>(value.data);
        Array result;
        result.reserve(array.size());
        for (std::size_t index = 0; index < array.size(); ++index) {
            path.push_back(decimal(static_cast<std::uint64_t>(index)));
            auto element = canonicalise(array[index], path);
            path.pop_back();
            if (!element)
                return unexpected(std::move(element).error());
            result.push_back(std::move(*element));
        }
        return Value(std::move(result));
    }
    case object_kind: {
        auto const& object = std::get<Object>(value.data);
        Object result;
        result.reserve(object.size());
        for (auto const& [name, member] : object) {
            std::string composed = compose(name);
            path.push_back(composed);
            auto canonical = canonicalise(member, path);
            path.pop_back();
            if (!canonical)
                return unexpected(std::move(canonical).error());
            result.emplace_back(std::move(composed), std::move(*canonical));
        }
        std::stable_sort(result.begin(), result.end(),
            [](auto const& left, auto const& right) { return key_less(left.first, right.first); });
        for (std::size_t index = 1; index < result.size(); ++index) {
            if (result[index - 1].first == result[index].first) {
                return unexpected(ContractError::canonical_serialization(
                    "duplicate object key " + quoted(result[index].first) + " after Unicode normalisation"));
            }
        }
        return Value(std::move(result));
    }
    default:
        return value;
    }
}

void write_canonical(Value const& value, std::string& out)
{
    switch (value.data.index()) {
    case null_kind:
        out.append("null");
        return;
    case boolean_kind:
        out.append(std::get<bool>(value.data) ? "true" : "false");
        return;
    case unsigned_kind:
        append_integer(out, std::get<std::uint64_t>(value.data));
        return;
    case signed_kind:
        append_integer(out, std::get<std::int64_t>(value.data));
        return;
    case double_kind:
        // Not part of a canonical value; written in its shortest form so the
        // writer stays total.
        append_double(out, std::get<double>(value.data));
        return;
    case string_kind:
        append_string(out, std::get<std::string>(value.data));
        return;
    case array_kind: {
        auto const& array = std::get<Array>(value.data);
        out.push_back('[');
        for (std::size_t index = 0; index < array.size(); ++index) {
            if (index != 0)
                out.push_back(',');
            write_canonical(array[index], out);
        }
        out.push_back(']');
        return;
    }
    case object_kind: {
        auto const& object = std::get<Object>(value.data);
        out.push_back('{');
        for (std::size_t index = 0; index < object.size(); ++index) {
            if (index != 0)
                out.push_back(',');
            append_string(out, object[index].first);
            out.push_back(':');
            write_canonical(object[index].second, out);
        }
        out.push_back('}');
        return;
    }
    default:
        break;
    }
    __builtin_unreachable();
}

Expected<std::string, ContractError> canonical_bytes(Value const& value)
{
    std::string out;
    out.reserve(1024);
    std::vector<Segment> segments;
    segments.reserve(16);
    TRY(write_canonicalised(value, segments, out));
    return out;
}

} // namespace quenmark::json
