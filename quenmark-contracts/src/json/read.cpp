#include "quenmark/json/read.h"

#include "quenmark/json/value.h"

#include "json/syntax.h"

#include "quenmark/text/text.h"

#include <simdjson.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <emmintrin.h>
#include <new>
#include <optional>
#include <system_error>
#include <type_traits>
#include <vector>

namespace quenmark::json {

namespace ondemand = simdjson::ondemand;

static_assert(sizeof(ondemand::value) <= 48, "the opaque value storage of ValueReader is too small");
static_assert(alignof(ondemand::value) <= 16, "the opaque value storage of ValueReader is under-aligned");
static_assert(std::is_trivially_copyable_v<ondemand::value> && std::is_trivially_destructible_v<ondemand::value>,
              "ValueReader copies the On-Demand value as bytes");
static_assert(read_padding >= simdjson::SIMDJSON_PADDING, "callers' buffers must carry simdjson's padding");

// An array or object being skipped: its next element or member, its end, and
// whether the element last taken still has to be stepped over.
struct SkipFrame {
    ondemand::array_iterator array_next;
    ondemand::array_iterator array_end;
    ondemand::object_iterator object_next;
    ondemand::object_iterator object_end;
    bool is_object { false };
    bool child_pending { false };
};

// The parser, the document and the input of one read. Positions are computed
// from the input's start, only when an error is reported.
class DocumentState {
public:
    DocumentState(char const* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    std::string_view text() const { return { m_data, m_size }; }
    std::size_t offset_of(char const* pointer) const
    {
        if (pointer < m_data)
            return 0;
        auto const offset = static_cast<std::size_t>(pointer - m_data);
        return offset < m_size ? offset : m_size;
    }

    // Sizes the parser for `size` bytes with room for more nesting than the
    // reader accepts, so that the depth check here always fires before the
    // parser's own bound is reached.
    simdjson::error_code prepare(std::size_t size)
    {
        return parser.allocate(size == 0 ? 1 : size, read_max_depth + 8);
    }

    ondemand::parser parser;
    ondemand::document document;
    // The document's root array or object, read as a value.
    ondemand::value root;
    // Arrays and objects open at this point of the read.
    std::size_t depth { 0 };
    // Containers being skipped, innermost last; kept here so that its storage
    // is reused across the skipped members of a document.
    std::vector<SkipFrame> skip_stack;

private:
    char const* m_data;
    std::size_t m_size;
};

// Where the plain reader of read_padded_elements() stands in its text, and
// whether it has met anything it does not take. Its values are read in
// document order, one after the other, so one position serves them all.
class PlainCursor {
public:
    PlainCursor(char const* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    std::size_t at() const { return m_at; }
    std::size_t size() const { return m_size; }
    bool failed() const { return m_failed; }
    // Marks the reading as not taken; the error is never shown, the reading
    // that follows says what is wrong.
    ReadError refuse()
    {
        m_failed = true;
        return ReadError { "not plainly well formed", m_at };
    }

    // Lines are indented by many blanks: 16 bytes are looked at a time, up
    // to 15 past the text, which the padding holds.
    [[gnu::always_inline]] void skip_white_space()
    {
        if (m_at < m_size && static_cast<unsigned char>(m_data[m_at]) > ' ') [[likely]]
            return;
        skip_white_space_run();
    }
    [[gnu::always_inline]] bool take(char byte)
    {
        if (m_at < m_size && m_data[m_at] == byte) {
            ++m_at;
            return true;
        }
        return false;
    }

    [[gnu::noinline]] void skip_white_space_run()
    {
        __m128i const blank = _mm_set1_epi8(' ');
        __m128i const line_feed = _mm_set1_epi8('\n');
        __m128i const tab = _mm_set1_epi8('\t');
        __m128i const carriage_return = _mm_set1_epi8('\r');
        while (m_at < m_size) {
            __m128i const block = _mm_loadu_si128(reinterpret_cast<__m128i const*>(m_data + m_at));
            auto const white = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, blank), _mm_cmpeq_epi8(block, line_feed)),
                             _mm_or_si128(_mm_cmpeq_epi8(block, tab), _mm_cmpeq_epi8(block, carriage_return)))));
            if (white != 0xFFFFU) {
                m_at += static_cast<std::size_t>(std::countr_one(white));
                break;
            }
            m_at += sizeof(__m128i);
        }
        m_at = std::min(m_at, m_size);
    }
    bool take_word(std::string_view word)
    {
        if (m_size - m_at < word.size() || std::memcmp(m_data + m_at, word.data(), word.size()) != 0)
            return false;
        m_at += word.size();
        return true;
    }

    // A string without escapes or control characters, whose bytes are valid
    // UTF-8: its bytes in the text are its value.
    std::optional<std::string_view> string()
    {
        if (!take('"'))
            return std::nullopt;
        char const* const start = m_data + m_at;
        std::size_t const room = m_size - m_at;
        __m128i const quote = _mm_set1_epi8('"');
        __m128i const backslash = _mm_set1_epi8('\\');
        __m128i const last_control = _mm_set1_epi8(0x1F);
        unsigned high = 0;
        // 16 bytes at a time, up to 15 past the text, which the padding holds.
        for (std::size_t at = 0; at < room; at += sizeof(__m128i)) {
            __m128i const block = _mm_loadu_si128(reinterpret_cast<__m128i const*>(start + at));
            __m128i const control = _mm_cmpeq_epi8(_mm_min_epu8(block, last_control), block);
            auto const stops = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)), control)));
            auto const bytes_high = static_cast<unsigned>(_mm_movemask_epi8(block));
            if (stops == 0) {
                high |= bytes_high;
                continue;
            }
            auto const stop = static_cast<std::size_t>(std::countr_zero(stops));
            high |= bytes_high & ((1U << stop) - 1U);
            std::size_t const length = at + stop;
            if (length >= room || start[length] != '"')
                return std::nullopt;
            if (high != 0 && !simdjson::validate_utf8(start, length))
                return std::nullopt;
            m_at += length + 1;
            return std::string_view(start, length);
        }
        return std::nullopt;
    }

    // An unsigned integer in plain decimal, at most `maximum`.
    std::optional<std::uint64_t> unsigned_integer(std::uint64_t maximum)
    {
        std::size_t const begin = m_at;
        std::uint64_t value = 0;
        while (m_at < m_size && m_data[m_at] >= '0' && m_data[m_at] <= '9') {
            auto const digit = static_cast<std::uint64_t>(m_data[m_at] - '0');
            if (value > (maximum - digit) / 10)
                return std::nullopt;
            value = value * 10 + digit;
            ++m_at;
        }
        std::size_t const digits = m_at - begin;
        if (digits == 0 || (digits > 1 && m_data[begin] == '0'))
            return std::nullopt;
        if (m_at < m_size && (m_data[m_at] == '.' || m_data[m_at] == 'e' || m_data[m_at] == 'E'))
            return std::nullopt;
        return value;
    }

private:
    char const* m_data;
    std::size_t m_size;
    std::size_t m_at { 0 };
    bool m_failed { false };
};

struct ValueReaderAccess {
    static std::size_t plain_offset(ValueReader const& reader)
    {
        std::size_t offset = 0;
        std::memcpy(&offset, reader.m_value, sizeof(offset));
        return offset;
    }
    // A value of the plain reader, at the cursor.
    static ValueReader plain_value(PlainCursor& cursor) { return ValueReader(cursor, cursor.at()); }
    static void consume(ValueReader& reader) { reader.m_consumed = true; }
    static ondemand::value& value(ValueReader& reader)
    {
        return *std::launder(reinterpret_cast<ondemand::value*>(reader.m_value));
    }
    static ondemand::value const& value(ValueReader const& reader)
    {
        return *std::launder(reinterpret_cast<ondemand::value const*>(reader.m_value));
    }
    static DocumentState& state(ValueReader const& reader) { return *reader.m_state; }
    static bool is_root(ValueReader const& reader) { return reader.m_root; }
    static bool consumed(ValueReader const& reader) { return reader.m_consumed; }
};

namespace {

// A failure that simdjson reported with `code` near `offset`: the precise
// syntax error when there is one, otherwise simdjson's own reason.
ReadError syntax_failure(DocumentState const& state, simdjson::error_code code, std::size_t offset)
{
    if (auto error = find_syntax_error(state.text()))
        return std::move(*error);
    switch (code) {
    case simdjson::EMPTY:
        return ReadError { "EOF while parsing a value", state.text().size() };
    case simdjson::NUMBER_ERROR:
        return ReadError { "number out of range", offset };
    case simdjson::DEPTH_ERROR:
        return ReadError { "recursion limit exceeded", offset };
    default:
        break;
    }
    std::string message = "invalid JSON: ";
    message += simdjson::error_message(code);
    return ReadError { std::move(message), offset };
}

// A scalar's text as it stands in the input, without the white space that
// follows it.
std::string_view token_of(ondemand::value& value)
{
    std::string_view token = value.raw_json_token();
    while (!token.empty() && is_json_white_space(token.back()))
        token.remove_suffix(1);
    return token;
}

std::size_t start_offset(DocumentState const& state, ValueReader const& reader)
{
    if (ValueReaderAccess::is_root(reader))
        return first_non_white_space(state.text());
    // The token view is computed from the value's fixed start position, so it
    // is valid whether or not the value has been read.
    auto& value = const_cast<ondemand::value&>(ValueReaderAccess::value(reader));
    return state.offset_of(value.raw_json_token().data());
}

// A failure of simdjson's number parser on the token at `offset`: the syntax
// error when the token (or anything before it) is malformed, otherwise a
// well-formed number too large for a double.
ReadError number_failure(DocumentState const& state, simdjson::error_code code, std::size_t offset, std::size_t length)
{
    if (code != simdjson::NUMBER_ERROR)
        return syntax_failure(state, code, offset);
    if (auto error = find_syntax_error(state.text()); error && error->offset <= offset + length)
        return std::move(*error);
    return ReadError { "number out of range", offset };
}

bool is_integer_text(std::string_view token) { return token.find_first_of(".eE") == std::string_view::npos; }

// The first quotation mark or backslash of the `room` bytes at `start`, if
// any: the end of a string that has no escape, or its first escape. Reads
// 16 bytes at a time, up to 15 past `room`, which the reader's padding
// after the document always holds.
char const* quote_or_backslash(char const* start, std::size_t room)
{
    __m128i const quote = _mm_set1_epi8('"');
    __m128i const backslash = _mm_set1_epi8('\\');
    for (std::size_t at = 0; at < room; at += sizeof(__m128i)) {
        __m128i const block = _mm_loadu_si128(reinterpret_cast<__m128i const*>(start + at));
        auto const found = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash))));
        if (found != 0) {
            std::size_t const offset = at + static_cast<std::size_t>(std::countr_zero(found));
            return offset < room ? start + offset : nullptr;
        }
    }
    return nullptr;
}

// A string value without escapes, read (and consumed) in place: its bytes in
// the input are its value, so nothing is copied to the parser's string
// buffer. A view without data (not even an empty one's), and the value left
// unread, for anything else. The input's UTF-8 and its unescaped control
// characters were checked before reading.
std::string_view plain_string(ondemand::value& value)
{
    // The token runs from the opening quotation mark to the next structural
    // character after the string, so the closing mark lies inside it.
    std::string_view const token = value.raw_json_token();
    if (token.empty() || token.front() != '"')
        return {};
    char const* const start = token.data() + 1;
    auto const* const end = quote_or_backslash(start, token.size() - 1);
    if (end == nullptr || *end != '"')
        return {};
    ondemand::raw_json_string raw;
    if (value.get_raw_json_string().get(raw) != simdjson::SUCCESS)
        return {};
    return { start, static_cast<std::size_t>(end - start) };
}

// A scalar, validated and consumed, as its text: a string's unescaped value,
// a number's token, "true", "false" or "null".
Read<std::string_view> scalar_text(DocumentState const& state, ondemand::value& value, ondemand::json_type type,
                                   std::size_t offset)
{
    simdjson::error_code code = simdjson::TAPE_ERROR;
    std::string_view text;
    switch (type) {
    case ondemand::json_type::string:
        code = value.get_string().get(text);
        break;
    case ondemand::json_type::number: {
        text = token_of(value);
        double number = 0;
        if (auto const failed = value.get_double().get(number))
            return unexpected(number_failure(state, failed, offset, text.size()));
        return text;
    }
    case ondemand::json_type::boolean: {
        bool flag = false;
        code = value.get_bool().get(flag);
        text = flag ? "true" : "false";
        break;
    }
    case ondemand::json_type::null: {
        // A value starting with 'n' that is not null is a syntax error.
        bool null = false;
        code = value.is_null().get(null);
        if (code == simdjson::SUCCESS && !null)
            code = simdjson::INCORRECT_TYPE;
        text = "null";
        break;
    }
    case ondemand::json_type::array:
    case ondemand::json_type::object:
        break;
    }
    if (code != simdjson::SUCCESS)
        return unexpected(syntax_failure(state, code, offset));
    return text;
}

// What a typed accessor wanted, for the wording of a mismatch.
enum class Wanted { Any, Integer };

class Reading {
public:
    explicit Reading(ValueReader& reader)
        : m_reader(reader)
        , m_state(ValueReaderAccess::state(reader))
        , m_value(ValueReaderAccess::value(reader))
    {
    }

    // The document's root is always an array or an object, opened through the
    // document. simdjson's scalar accessors must not be used on it (its debug
    // build asserts, and its optimised build assumes they never are), so a
    // scalar wanted there is a type mismatch decided here.
    bool at_root() const { return ValueReaderAccess::is_root(m_reader); }

    std::size_t offset() const { return start_offset(m_state, m_reader); }
    ReadError syntax(simdjson::error_code code) const { return syntax_failure(m_state, code, offset()); }

    // How the value would be named in "invalid type: ..." (validating it on
    // the way), or the syntax error that prevents naming it.
    Read<std::string> describe()
    {
        ondemand::json_type type {};
        if (auto const code = m_value.type().get(type))
            return unexpected(syntax(code));
        if (type == ondemand::json_type::array)
            return std::string("sequence");
        if (type == ondemand::json_type::object)
            return std::string("map");
        auto const text = TRY(scalar_text(m_state, m_value, type, offset()));
        if (type == ondemand::json_type::string)
            return "string " + quoted(text);
        if (type == ondemand::json_type::number)
            return (is_integer_text(text) ? "integer `" : "floating point `") + std::string(text) + '`';
        if (type == ondemand::json_type::boolean)
            return "boolean `" + std::string(text) + '`';
        return std::string("null");
    }

    // "invalid type: <found>, expected <expected>"; for an integer accessor,
    // which fails on an integer only when it is out of range, "invalid value:
    // integer `<n>`, expected <expected>".
    ReadError mismatch(std::string_view expected, Wanted wanted)
    {
        auto found = describe();
        if (!found)
            return std::move(found).error();
        bool const out_of_range = wanted == Wanted::Integer && found->starts_with("integer `");
        std::string message = out_of_range ? "invalid value: " : "invalid type: ";
        message += *found;
        message += ", expected ";
        message += expected;
        return ReadError { std::move(message), offset() };
    }

    // The failure after a typed accessor returned `code`: a type mismatch
    // names what was found, anything else is a syntax error.
    ReadError failure(simdjson::error_code code, std::string_view expected)
    {
        if (code == simdjson::INCORRECT_TYPE)
            return mismatch(expected, Wanted::Any);
        return syntax(code);
    }

    Read<std::uint64_t> unsigned_integer(std::uint64_t maximum, std::string_view expected)
    {
        if (at_root()) [[unlikely]]
            return unexpected(mismatch(expected, Wanted::Integer));
        std::uint64_t value = 0;
        if (m_value.get_uint64().get(value) == simdjson::SUCCESS && value <= maximum) [[likely]]
            return value;
        // "-0" is zero, which every unsigned type holds.
        std::int64_t signed_value = 0;
        if (m_value.get_int64().get(signed_value) == simdjson::SUCCESS && signed_value == 0)
            return std::uint64_t { 0 };
        return unexpected(mismatch(expected, Wanted::Integer));
    }

    Read<std::string_view> string()
    {
        if (at_root()) [[unlikely]]
            return unexpected(mismatch("a string", Wanted::Any));
        // Returned from registers: a view built in memory and copied out
        // as a whole would wait for its two halves to be stored.
        if (std::string_view const plain = plain_string(m_value); plain.data() != nullptr) [[likely]]
            return plain;
        std::string_view text;
        if (auto const code = m_value.get_string().get(text)) [[unlikely]]
            return unexpected(failure(code, "a string"));
        return text;
    }

    Read<bool> boolean()
    {
        if (at_root()) [[unlikely]]
            return unexpected(mismatch("a boolean", Wanted::Any));
        bool flag = false;
        if (auto const code = m_value.get_bool().get(flag)) [[unlikely]]
            return unexpected(failure(code, "a boolean"));
        return flag;
    }

private:
    ValueReader& m_reader;
    DocumentState& m_state;
    ondemand::value& m_value;
};

// Counts the nesting of arrays and objects being read, refusing to go deeper
// than read_max_depth so that no input can exhaust the stack.
class DepthGuard {
public:
    explicit DepthGuard(DocumentState& state) : m_state(state) { ++m_state.depth; }
    ~DepthGuard() { --m_state.depth; }
    DepthGuard(DepthGuard const&) = delete;
    DepthGuard& operator=(DepthGuard const&) = delete;
    bool too_deep() const { return m_state.depth > read_max_depth; }

private:
    DocumentState& m_state;
};

// Opens the reader's value as an array or an object (Container), nested as
// `depth` counts it: a value of another kind fails with "invalid type"
// naming `expected`.
template<typename Container>
Read<Container> open(ValueReader& reader, DepthGuard const& depth, std::string_view expected)
{
    auto& value = ValueReaderAccess::value(reader);
    Container container;
    simdjson::error_code code = simdjson::SUCCESS;
    if constexpr (std::is_same_v<Container, ondemand::array>)
        code = value.get_array().get(container);
    else
        code = value.get_object().get(container);
    if (code != simdjson::SUCCESS) [[unlikely]]
        return unexpected(Reading(reader).failure(code, expected));
    if (depth.too_deep())
        return unexpected(reader.error("recursion limit exceeded"));
    return container;
}

struct MemberName {
    std::string_view name;
    // The offset of the name's opening quotation mark.
    std::size_t offset;
};

// The member's name: compared as raw bytes when it has no escape (the common
// case, no copy), unescaped (and so validated) when it has one.
Read<MemberName> member_name(DocumentState const& state, ondemand::field& field)
{
    auto const raw_offset = state.offset_of(field.key().raw());
    MemberName member { {}, raw_offset == 0 ? 0 : raw_offset - 1 };
    auto const rest = state.text().substr(raw_offset);
    if (auto const* const end = quote_or_backslash(rest.data(), rest.size()); end != nullptr && *end == '"') [[likely]] {
        member.name = rest.substr(0, static_cast<std::size_t>(end - rest.data()));
        return member;
    }
    if (auto const code = field.unescaped_key().get(member.name))
        return unexpected(syntax_failure(state, code, member.offset));
    return member;
}

// Calls on_member(name, value) for each member of an opened object in turn.
template<typename Callback>
Read<void> for_each_member(ValueReader& reader, ondemand::object& object, Callback&& on_member)
{
    DocumentState& state = ValueReaderAccess::state(reader);
    for (auto field_result : object) {
        ondemand::field field;
        if (auto const code = std::move(field_result).get(field)) [[unlikely]]
            return unexpected(Reading(reader).syntax(code));
        auto const name = TRY(member_name(state, field));
        ValueReader member(state, &field.value());
        TRY(on_member(name, member));
    }
    return {};
}

// Opens an array or an object being skipped as a frame of the skip stack.
template<auto next, auto end, typename Container>
Read<void> open_frame(DocumentState& state, simdjson::simdjson_result<Container> opened, std::size_t offset)
{
    Container container;
    if (auto const code = std::move(opened).get(container))
        return unexpected(syntax_failure(state, code, offset));
    if (++state.depth > read_max_depth)
        return unexpected(ReadError { "recursion limit exceeded", offset });
    SkipFrame frame;
    frame.is_object = std::is_same_v<Container, ondemand::object>;
    if (auto const code = container.begin().get(frame.*next))
        return unexpected(syntax_failure(state, code, offset));
    if (auto const code = container.end().get(frame.*end))
        return unexpected(syntax_failure(state, code, offset));
    state.skip_stack.push_back(frame);
    return {};
}

// Validates a scalar, or opens an array or object on the skip stack.
Read<void> skip_or_open(DocumentState& state, ondemand::value& value, std::size_t offset)
{
    ondemand::json_type type {};
    if (auto const code = value.type().get(type))
        return unexpected(syntax_failure(state, code, offset));
    if (type == ondemand::json_type::array)
        return open_frame<&SkipFrame::array_next, &SkipFrame::array_end>(state, value.get_array(), offset);
    if (type == ondemand::json_type::object)
        return open_frame<&SkipFrame::object_next, &SkipFrame::object_end>(state, value.get_object(), offset);
    TRY(scalar_text(state, value, type, offset));
    return {};
}

// Steps a frame's iterator past the child taken last; false at the end.
template<typename Iterator>
bool advance(SkipFrame& frame, Iterator& next, Iterator const& end)
{
    if (frame.child_pending)
        ++next;
    frame.child_pending = false;
    return next != end;
}

// Validates a whole value and discards it. Nested arrays and objects are
// walked with an explicit stack (the same loops as nested range-for
// statements, the parent advanced once its child is done), so the call
// stack stays flat however deep the input nests.
Read<void> skip_value(DocumentState& state, ondemand::value& value, std::size_t offset)
{
    auto const base = state.skip_stack.size();
    auto const base_depth = state.depth;
    struct Restore {
        DocumentState& state;
        std::size_t base;
        std::size_t depth;
        ~Restore()
        {
            state.skip_stack.resize(base);
            state.depth = depth;
        }
    } const restore { state, base, base_depth };

    TRY(skip_or_open(state, value, offset));
    while (state.skip_stack.size() > base) {
        auto& frame = state.skip_stack.back();
        bool const more = frame.is_object ? advance(frame, frame.object_next, frame.object_end)
                                          : advance(frame, frame.array_next, frame.array_end);
        if (!more) {
            state.skip_stack.pop_back();
            --state.depth;
            continue;
        }
        ondemand::value child;
        if (frame.is_object) {
            ondemand::field field;
            if (auto const code = (*frame.object_next).get(field))
                return unexpected(syntax_failure(state, code, offset));
            TRY(member_name(state, field));
            child = field.value();
        } else if (auto const code = (*frame.array_next).get(child)) {
            return unexpected(syntax_failure(state, code, offset));
        }
        frame.child_pending = true;
        // May push, which invalidates `frame`.
        TRY(skip_or_open(state, child, state.offset_of(child.raw_json_token().data())));
    }
    return {};
}

// Whether two texts are equal. Names of members and variants are short, so
// those of up to sixteen bytes are compared a word at a time here (two
// words that overlap when the length is not a multiple of one), which is
// much quicker than a call to memcmp for each member read.
bool same_text(std::string_view left, std::string_view right)
{
    std::size_t const size = left.size();
    if (size != right.size())
        return false;
    char const* const a = left.data();
    char const* const b = right.data();
    auto const differs = [&]<typename Word>(Word, std::size_t at) {
        Word first = 0;
        Word second = 0;
        std::memcpy(&first, a + at, sizeof(Word));
        std::memcpy(&second, b + at, sizeof(Word));
        return first ^ second;
    };
    if (size >= 8 && size <= 16)
        return (differs(std::uint64_t {}, 0) | differs(std::uint64_t {}, size - 8)) == 0;
    if (size >= 4 && size < 8)
        return (differs(std::uint32_t {}, 0) | differs(std::uint32_t {}, size - 4)) == 0;
    return std::memcmp(a, b, size) == 0;
}

// The index of `name` in `names` (which holds no name twice), searched from
// `start` round to it again; names.size() when it is not there. Kept out of
// line: inlined into the member loop, it made loading a large state file
// measurably slower.
[[gnu::noinline]] std::size_t index_of(std::span<std::string_view const> names, std::string_view name,
                                       std::size_t start)
{
    std::size_t const count = names.size();
    for (std::size_t step = 0; step < count; ++step) {
        std::size_t index = start + step;
        if (index >= count)
            index -= count;
        if (same_text(names[index], name))
            return index;
    }
    return count;
}

// Reads a member or element with a callback, then validates and skips it
// if the callback left it unread.
template<typename Callback>
Read<void> read_child(ValueReader& child, Callback&& callback)
{
    TRY(callback(child));
    if (!ValueReaderAccess::consumed(child))
        TRY(child.skip());
    return {};
}

std::string unknown_variant(std::string_view found, std::span<std::string_view const> names)
{
    std::string message = "unknown variant `";
    message += found;
    message += '`';
    if (names.empty())
        return message + ", there are no variants";
    message += names.size() > 2 ? ", expected one of " : ", expected ";
    for (std::size_t index = 0; index < names.size(); ++index) {
        if (index > 0)
            message += names.size() == 2 ? " or " : ", ";
        message += '`';
        message += names[index];
        message += '`';
    }
    return message;
}

// Line and column (both from 1, the column in bytes) of an offset.
std::string with_position(ReadError const& error, std::string_view text)
{
    auto const offset = error.offset < text.size() ? error.offset : text.size();
    std::uint64_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t index = 0; index < offset; ++index) {
        if (text[index] == '\n') {
            ++line;
            line_start = index + 1;
        }
    }
    std::string message = error.message;
    message += " at line ";
    append_decimal(message, line);
    message += " column ";
    append_decimal(message, static_cast<std::uint64_t>(offset - line_start + 1));
    return message;
}

// The plain reader's accessors: each takes its value as read_padded_document
// would, or refuses it (marking the cursor) where that reading might differ
// or fail.

Read<std::string_view> plain_string(ValueReader& reader, PlainCursor& cursor)
{
    ValueReaderAccess::consume(reader);
    if (auto const text = cursor.string())
        return *text;
    return unexpected(cursor.refuse());
}

Read<std::uint64_t> plain_unsigned(ValueReader& reader, PlainCursor& cursor, std::uint64_t maximum)
{
    ValueReaderAccess::consume(reader);
    if (auto const value = cursor.unsigned_integer(maximum))
        return *value;
    return unexpected(cursor.refuse());
}

// After a member or element: true when another follows, false at the
// container's `close`; refused otherwise.
Read<bool> plain_next(PlainCursor& cursor, char close)
{
    cursor.skip_white_space();
    if (cursor.take(',')) {
        cursor.skip_white_space();
        return true;
    }
    if (cursor.take(close))
        return false;
    return unexpected(cursor.refuse());
}

// Reads a member's or element's value with `read`, which must read it whole.
template<typename Read_>
Read<void> plain_child(PlainCursor& cursor, Read_&& read)
{
    ValueReader child = ValueReaderAccess::plain_value(cursor);
    TRY(read(child));
    if (!ValueReaderAccess::consumed(child) || cursor.failed())
        return unexpected(cursor.refuse());
    return {};
}

Read<void> plain_array(ValueReader& reader, PlainCursor& cursor, FunctionRef<Read<void>(ValueReader&)> each_element)
{
    ValueReaderAccess::consume(reader);
    if (!cursor.take('['))
        return unexpected(cursor.refuse());
    cursor.skip_white_space();
    if (cursor.take(']'))
        return {};
    do
        TRY(plain_child(cursor, each_element));
    while (TRY(plain_next(cursor, ']')));
    return {};
}

// A member's name, then the colon and the white space before its value.
Read<std::string_view> plain_member_name(PlainCursor& cursor)
{
    auto const name = cursor.string();
    cursor.skip_white_space();
    if (!name || !cursor.take(':'))
        return unexpected(cursor.refuse());
    cursor.skip_white_space();
    return *name;
}

Read<std::uint64_t> plain_object(ValueReader& reader, PlainCursor& cursor, std::span<std::string_view const> names,
                                 std::uint64_t required, FunctionRef<Read<void>(std::size_t, ValueReader&)> on_member)
{
    ValueReaderAccess::consume(reader);
    if (!cursor.take('{'))
        return unexpected(cursor.refuse());
    cursor.skip_white_space();
    std::uint64_t seen = 0;
    if (!cursor.take('}')) {
        std::size_t expected_index = 0;
        do {
            auto const name = TRY(plain_member_name(cursor));
            // A member not named is skipped by the whole reading, a repeated
            // one refused by it: both are left to it.
            std::size_t const index = index_of(names, name, expected_index);
            if (index == names.size() || (seen & (std::uint64_t { 1 } << index)) != 0)
                return unexpected(cursor.refuse());
            expected_index = index + 1;
            seen |= std::uint64_t { 1 } << index;
            TRY(plain_child(cursor, [&](ValueReader& value) { return on_member(index, value); }));
        } while (TRY(plain_next(cursor, '}')));
    }
    if ((required & ~seen) != 0)
        return unexpected(cursor.refuse());
    return seen;
}

Read<void> plain_variant(ValueReader& reader, PlainCursor& cursor, std::span<std::string_view const> names,
                         FunctionRef<Read<void>(std::size_t, ValueReader&)> on_variant)
{
    ValueReaderAccess::consume(reader);
    if (!cursor.take('{'))
        return unexpected(cursor.refuse());
    cursor.skip_white_space();
    auto const name = TRY(plain_member_name(cursor));
    auto const match
        = std::find_if(names.begin(), names.end(), [&](auto const& candidate) { return same_text(candidate, name); });
    if (match == names.end())
        return unexpected(cursor.refuse());
    auto const index = static_cast<std::size_t>(match - names.begin());
    TRY(plain_child(cursor, [&](ValueReader& value) { return on_variant(index, value); }));
    cursor.skip_white_space();
    if (!cursor.take('}'))
        return unexpected(cursor.refuse());
    return {};
}

} // namespace

ValueReader::ValueReader(DocumentState& state, void const* ondemand_value)
    : m_state(&state)
    , m_value {}
    , m_root(ondemand_value == nullptr)
{
    new (m_value) ondemand::value(m_root ? state.root : *static_cast<ondemand::value const*>(ondemand_value));
}

ValueReader::ValueReader(PlainCursor& cursor, std::size_t offset)
    : m_state(nullptr)
    , m_plain(&cursor)
    , m_value {}
{
    std::memcpy(m_value, &offset, sizeof(offset));
}

ReadError ValueReader::error(std::string message) const
{
    if (m_plain != nullptr) {
        static_cast<void>(m_plain->refuse());
        return ReadError { std::move(message), ValueReaderAccess::plain_offset(*this) };
    }
    return ReadError { std::move(message), start_offset(*m_state, *this) };
}

std::size_t ValueReader::offset() const
{
    if (m_plain != nullptr)
        return ValueReaderAccess::plain_offset(*this);
    return start_offset(*m_state, *this);
}

std::size_t ValueReader::document_size() const { return m_plain != nullptr ? m_plain->size() : m_state->text().size(); }

Read<std::string> ValueReader::string()
{
    if (m_plain != nullptr)
        return std::string(TRY(plain_string(*this, *m_plain)));
    m_consumed = true;
    return std::string(TRY(Reading(*this).string()));
}

Read<std::string_view> ValueReader::string_view()
{
    if (m_plain != nullptr)
        return plain_string(*this, *m_plain);
    m_consumed = true;
    return Reading(*this).string();
}

Read<std::uint64_t> ValueReader::u64()
{
    if (m_plain != nullptr)
        return plain_unsigned(*this, *m_plain, UINT64_MAX);
    m_consumed = true;
    return Reading(*this).unsigned_integer(UINT64_MAX, "u64");
}

Read<std::uint32_t> ValueReader::u32()
{
    if (m_plain != nullptr)
        return static_cast<std::uint32_t>(TRY(plain_unsigned(*this, *m_plain, UINT32_MAX)));
    m_consumed = true;
    return static_cast<std::uint32_t>(TRY(Reading(*this).unsigned_integer(UINT32_MAX, "u32")));
}

Read<std::uint8_t> ValueReader::u8()
{
    if (m_plain != nullptr)
        return static_cast<std::uint8_t>(TRY(plain_unsigned(*this, *m_plain, UINT8_MAX)));
    m_consumed = true;
    return static_cast<std::uint8_t>(TRY(Reading(*this).unsigned_integer(UINT8_MAX, "u8")));
}

Read<bool> ValueReader::boolean()
{
    m_consumed = true;
    if (m_plain != nullptr) {
        if (m_plain->take_word("true"))
            return true;
        if (m_plain->take_word("false"))
            return false;
        return unexpected(m_plain->refuse());
    }
    return Reading(*this).boolean();
}

Read<bool> ValueReader::is_null()
{
    if (m_plain != nullptr) {
        if (!m_plain->take_word("null"))
            return false;
        m_consumed = true;
        return true;
    }
    // The root is an array or an object (see Reading::at_root).
    if (m_root)
        return false;
    bool null = false;
    if (auto const code = ValueReaderAccess::value(*this).is_null().get(null))
        return unexpected(syntax_failure(*m_state, code, start_offset(*m_state, *this)));
    if (null)
        m_consumed = true;
    return null;
}

Read<std::size_t> ValueReader::enumeration(std::span<std::string_view const> names)
{
    m_consumed = true;
    auto const found = m_plain != nullptr ? TRY(plain_string(*this, *m_plain)) : TRY(Reading(*this).string());
    auto const match = std::find_if(names.begin(), names.end(), [&](auto const& name) { return same_text(name, found); });
    if (match == names.end())
        return unexpected(error(unknown_variant(found, names)));
    return static_cast<std::size_t>(match - names.begin());
}

Read<void> ValueReader::array(FunctionRef<Read<void>(ValueReader&)> each_element)
{
    if (m_plain != nullptr)
        return plain_array(*this, *m_plain, each_element);
    m_consumed = true;
    DepthGuard const depth(*m_state);
    auto array = TRY(open<ondemand::array>(*this, depth, "a sequence"));
    for (auto element_result : array) {
        ondemand::value element;
        if (auto const code = std::move(element_result).get(element)) [[unlikely]]
            return unexpected(Reading(*this).syntax(code));
        ValueReader element_reader(*m_state, &element);
        TRY(read_child(element_reader, each_element));
    }
    return {};
}

Read<std::uint64_t> ValueReader::object(std::span<std::string_view const> names, std::uint64_t required,
                                        FunctionRef<Read<void>(std::size_t, ValueReader&)> on_member)
{
    if (names.size() > 64)
        fail_internal("json object reader: more than 64 member names");
    if (m_plain != nullptr)
        return plain_object(*this, *m_plain, names, required, on_member);
    m_consumed = true;
    DepthGuard const depth(*m_state);
    auto object = TRY(open<ondemand::object>(*this, depth, "a map"));
    std::uint64_t seen = 0;
    // Members usually come in the order of `names`, so each name is looked
    // for first where the previous one was found.
    std::size_t expected_index = 0;
    TRY(for_each_member(*this, object, [&](MemberName const& key, ValueReader& member) -> Read<void> {
        std::size_t const index = index_of(names, key.name, expected_index);
        if (index == names.size())
            return member.skip();
        expected_index = index + 1;
        auto const bit = std::uint64_t { 1 } << index;
        if ((seen & bit) != 0)
            return unexpected(ReadError { "duplicate field `" + std::string(names[index]) + '`', key.offset });
        seen |= bit;
        return read_child(member, [&](ValueReader& value) { return on_member(index, value); });
    }));
    if (auto const missing = required & ~seen; missing != 0) {
        auto const index = static_cast<std::size_t>(std::countr_zero(missing));
        std::string message = "missing field `";
        message += index < names.size() ? names[index] : std::string_view("?");
        message += '`';
        return unexpected(error(std::move(message)));
    }
    return seen;
}

Read<void> ValueReader::variant(std::span<std::string_view const> names,
                                FunctionRef<Read<void>(std::size_t, ValueReader&)> on_variant)
{
    if (m_plain != nullptr)
        return plain_variant(*this, *m_plain, names, on_variant);
    m_consumed = true;
    DepthGuard const depth(*m_state);
    auto object = TRY(open<ondemand::object>(*this, depth, "a map with a single key"));
    std::size_t members = 0;
    TRY(for_each_member(*this, object, [&](MemberName const& key, ValueReader& member) -> Read<void> {
        if (++members > 1)
            return unexpected(ReadError { "expected a map with a single key", key.offset });
        auto const match
            = std::find_if(names.begin(), names.end(), [&](auto const& name) { return same_text(name, key.name); });
        if (match == names.end())
            return unexpected(ReadError { unknown_variant(key.name, names), key.offset });
        auto const index = static_cast<std::size_t>(match - names.begin());
        return read_child(member, [&](ValueReader& value) { return on_variant(index, value); });
    }));
    if (members == 0)
        return unexpected(error("expected a map with a single key"));
    return {};
}

Read<void> ValueReader::any(Value& out)
{
    if (m_plain != nullptr) {
        m_consumed = true;
        return unexpected(m_plain->refuse());
    }
    ondemand::json_type type {};
    if (auto const code = ValueReaderAccess::value(*this).type().get(type))
        return unexpected(Reading(*this).syntax(code));
    switch (type) {
    case ondemand::json_type::null:
        TRY(is_null());
        out = Value(nullptr);
        return {};
    case ondemand::json_type::boolean:
        out = Value(TRY(boolean()));
        return {};
    case ondemand::json_type::string:
        out = Value(TRY(string()));
        return {};
    case ondemand::json_type::number: {
        m_consumed = true;
        auto& value = ValueReaderAccess::value(*this);
        auto const offset = start_offset(*m_state, *this);
        std::string_view const token = token_of(value);
        if (is_integer_text(token)) {
            std::uint64_t unsigned_value = 0;
            if (value.get_uint64().get(unsigned_value) == simdjson::SUCCESS) {
                out = Value(unsigned_value);
                return {};
            }
            std::int64_t signed_value = 0;
            if (value.get_int64().get(signed_value) == simdjson::SUCCESS) {
                out = Value(signed_value);
                return {};
            }
        }
        double number = 0;
        if (auto const failed = value.get_double().get(number))
            return unexpected(number_failure(*m_state, failed, offset, token.size()));
        // simdjson 3.0.1's On-Demand reader gets numbers of twenty or more
        // significant digits wrong (0.95000000000000000000 reads as 0.0277),
        // so the token it validated is read again, to the nearest double.
        // An underflow keeps simdjson's reading, zero or a subnormal.
        double nearest = 0;
        auto const [end, error] = std::from_chars(token.data(), token.data() + token.size(), nearest);
        if (error == std::errc {} && end == token.data() + token.size())
            number = nearest;
        out = Value(number);
        return {};
    }
    case ondemand::json_type::array: {
        Array elements;
        TRY(array([&](ValueReader& element) -> Read<void> {
            elements.emplace_back();
            return element.any(elements.back());
        }));
        out = Value(std::move(elements));
        return {};
    }
    case ondemand::json_type::object: {
        m_consumed = true;
        DepthGuard const depth(*m_state);
        auto object = TRY(open<ondemand::object>(*this, depth, "a map"));
        Object members;
        std::vector<std::size_t> offsets;
        TRY(for_each_member(*this, object, [&](MemberName const& key, ValueReader& member) -> Read<void> {
            members.emplace_back(std::string(key.name), Value());
            offsets.push_back(key.offset);
            return member.any(members.back().second);
        }));
        // A name given twice: the first repetition in document order, found
        // by sorting so that no object costs more than n log n.
        std::vector<std::size_t> order(members.size());
        for (std::size_t index = 0; index < order.size(); ++index)
            order[index] = index;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t left, std::size_t right) { return members[left].first < members[right].first; });
        std::optional<std::size_t> repeated;
        for (std::size_t index = 1; index < order.size(); ++index) {
            if (members[order[index - 1]].first == members[order[index]].first && (!repeated || order[index] < *repeated))
                repeated = order[index];
        }
        if (repeated)
            return unexpected(ReadError { "duplicate field `" + members[*repeated].first + '`', offsets[*repeated] });
        out = Value(std::move(members));
        return {};
    }
    }
    return unexpected(Reading(*this).syntax(simdjson::INCORRECT_TYPE));
}

Read<void> ValueReader::skip()
{
    m_consumed = true;
    if (m_plain != nullptr)
        return unexpected(m_plain->refuse());
    auto const offset = start_offset(*m_state, *this);
    return skip_value(*m_state, ValueReaderAccess::value(*this), offset);
}

namespace {

// Parses the document and takes its root, an array or an object, as a value.
// simdjson checks that the root is closed at the end of the input only when
// the document itself opens it, so it is opened once that way first.
simdjson::error_code open_root(DocumentState& state, char const* data, std::size_t size, bool is_array)
{
    if (auto const code = state.prepare(size))
        return code;
    if (auto const code = state.parser.iterate(data, size, size + read_padding).get(state.document))
        return code;
    auto const opened = is_array ? state.document.get_array().error() : state.document.get_object().error();
    if (opened != simdjson::SUCCESS)
        return opened;
    state.document.rewind();
    return state.document.get_value().get(state.root);
}

// Reads a document whose root is not an array or an object. simdjson's root
// scalar accessors mishandle white space after the value (a final line feed
// after null, or more than one blank after true, is refused or accepted
// wrongly), so the text is wrapped in brackets and its value read as the
// array's only element. The state's window is the original text, so
// positions and the syntax check are those of the caller's document.
Expected<void, std::string> read_scalar_document(std::string_view text, FunctionRef<Read<void>(ValueReader&)> read_root)
{
    std::string wrapped;
    wrapped.reserve(text.size() + 2 + read_padding);
    wrapped += '[';
    wrapped += text;
    wrapped += ']';
    wrapped.append(read_padding, ' ');
    DocumentState state(wrapped.data() + 1, text.size());
    auto const fail = [&](ReadError const& error) { return unexpected(with_position(error, text)); };
    auto const syntax = [&](simdjson::error_code code) {
        return fail(syntax_failure(state, code, first_non_white_space(text)));
    };
    if (auto const code = open_root(state, wrapped.data(), text.size() + 2, /*is_array=*/true))
        return syntax(code);
    // The wrapper is read as the root; only its first element is the caller's.
    ValueReader wrapper(state, nullptr);
    std::size_t elements = 0;
    auto const result = wrapper.array([&](ValueReader& element) -> Read<void> {
        if (++elements > 1)
            return unexpected(syntax_failure(state, simdjson::TRAILING_CONTENT, element.offset()));
        return read_root(element);
    });
    if (!result)
        return fail(result.error());
    // Only the closing bracket added above may follow the value.
    char const* after = nullptr;
    if (state.document.current_location().get(after) == simdjson::SUCCESS)
        return syntax(simdjson::TRAILING_CONTENT);
    return {};
}

} // namespace

Expected<void, std::string> read_padded_document(char const* data, std::size_t size,
                                                 FunctionRef<Read<void>(ValueReader&)> read_root, std::size_t depth)
{
    std::string_view const text(data, size);
    auto const start = first_non_white_space(text);
    if (start < size && text[start] != '[' && text[start] != '{')
        return read_scalar_document(text, read_root);
    DocumentState state(data, size);
    state.depth = depth;
    if (auto const code = open_root(state, data, size, /*is_array=*/start < size && text[start] == '['))
        return unexpected(with_position(syntax_failure(state, code, start), text));
    ValueReader root(state, nullptr);
    if (auto result = read_child(root, read_root); !result)
        return unexpected(with_position(result.error(), text));
    char const* trailing = nullptr;
    if (state.document.current_location().get(trailing) == simdjson::SUCCESS)
        return unexpected(with_position(ReadError { "trailing characters", state.offset_of(trailing) }, text));
    return {};
}

Expected<void, std::string> read_padded_elements(char const* data, std::size_t size,
                                                 FunctionRef<Read<void>(ValueReader&)> each_element, std::size_t depth)
{
    PlainCursor cursor(data, size);
    std::size_t taken = 0;
    cursor.skip_white_space();
    if (cursor.take('[')) {
        cursor.skip_white_space();
        bool more = !cursor.take(']');
        while (more) {
            if (!plain_child(cursor, each_element))
                break;
            ++taken;
            auto const next = plain_next(cursor, ']');
            if (!next)
                break;
            more = *next;
        }
        if (!more && !cursor.failed()) {
            cursor.skip_white_space();
            if (cursor.at() == size)
                return {};
        }
    }
    // Read whole, which says what is wrong; the elements taken are not read again.
    std::size_t index = 0;
    return read_padded_document(
        data, size,
        [&](ValueReader& root) {
            return root.array([&](ValueReader& element) -> Read<void> {
                if (index++ < taken)
                    return {};
                return each_element(element);
            });
        },
        depth);
}

Expected<void, std::string> read_document(std::string_view text, FunctionRef<Read<void>(ValueReader&)> read_root)
{
    simdjson::padded_string padded(text);
    return read_padded_document(padded.data(), padded.size(), read_root);
}

Expected<Value, std::string> parse_value(std::string_view text)
{
    Value value;
    TRY(read_document(text, [&](ValueReader& root) { return root.any(value); }));
    return value;
}

} // namespace quenmark::json
