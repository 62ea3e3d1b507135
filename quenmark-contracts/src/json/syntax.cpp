#include "json/syntax.h"

#include "quenmark/text/text.h"

#include <string>

namespace quenmark::json {

namespace {

bool is_digit(char byte) { return byte >= '0' && byte <= '9'; }

// A recursive-descent check of the grammar, with an explicit stack of the
// open arrays and objects so that deep nesting cannot exhaust the call stack.
// Every check returns false once it has recorded the fault.
class SyntaxScanner {
public:
    explicit SyntaxScanner(std::string_view text) : m_text(text) { }

    std::optional<ReadError> first_error()
    {
        if (value()) {
            while (next_value() && value()) { }
        }
        return std::move(m_error);
    }

private:
    bool at_end() const { return m_position >= m_text.size(); }
    char peek() const { return m_text[m_position]; }
    bool next_is(char byte) const { return !at_end() && peek() == byte; }
    bool skip(char byte)
    {
        if (!next_is(byte))
            return false;
        ++m_position;
        return true;
    }
    void skip_white_space()
    {
        while (!at_end() && is_json_white_space(peek()))
            ++m_position;
    }
    bool fail(char const* message)
    {
        m_error = ReadError { message, m_position };
        return false;
    }
    char closing() const { return m_open.back() == '[' ? ']' : '}'; }
    bool fail_inside(char const* in_list, char const* in_object)
    {
        return fail(m_open.back() == '[' ? in_list : in_object);
    }

    // One value. An array or object is opened and, unless empty, left open
    // with the position at its first element (after its first member's name).
    bool value()
    {
        while (true) {
            skip_white_space();
            if (at_end())
                return fail("EOF while parsing a value");
            char const byte = peek();
            switch (byte) {
            case '[':
            case '{':
                break;
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                if (byte == '-' || is_digit(byte))
                    return number();
                return fail("expected value");
            }
            if (m_open.size() >= read_max_depth)
                return fail("recursion limit exceeded");
            m_open.push_back(byte);
            ++m_position;
            skip_white_space();
            if (at_end())
                return fail_inside("EOF while parsing a list", "EOF while parsing an object");
            if (skip(closing())) {
                m_open.pop_back();
                return true;
            }
            if (byte == '{' && !member_name())
                return false;
        }
    }

    // After a value: closes the arrays and objects that end there and steps
    // over the comma to the next element (and past the next member's name).
    // False at the end of the input, or on a fault.
    bool next_value()
    {
        while (true) {
            skip_white_space();
            if (m_open.empty())
                return at_end() ? false : fail("trailing characters");
            if (at_end())
                return fail_inside("EOF while parsing a list", "EOF while parsing an object");
            if (!skip(closing()))
                break;
            m_open.pop_back();
        }
        if (!skip(','))
            return fail_inside("expected `,` or `]`", "expected `,` or `}`");
        skip_white_space();
        if (at_end())
            return fail("EOF while parsing a value");
        if (next_is(closing()))
            return fail("trailing comma");
        return m_open.back() == '[' || member_name();
    }

    // A member's name and its colon.
    bool member_name()
    {
        if (!next_is('"'))
            return fail("key must be a string");
        if (!string())
            return false;
        skip_white_space();
        if (at_end())
            return fail("EOF while parsing an object");
        if (!skip(':'))
            return fail("expected `:`");
        return true;
    }

    bool word(std::string_view letters)
    {
        for (char const letter : letters) {
            if (at_end())
                return fail("EOF while parsing a value");
            if (!skip(letter))
                return fail("expected ident");
        }
        return true;
    }

    // One digit or more.
    bool digits()
    {
        if (at_end())
            return fail("EOF while parsing a value");
        if (!is_digit(peek()))
            return fail("invalid number");
        while (!at_end() && is_digit(peek()))
            ++m_position;
        return true;
    }

    bool number()
    {
        skip('-');
        if (skip('0')) {
            if (!at_end() && is_digit(peek()))
                return fail("invalid number");
        } else if (!digits()) {
            return false;
        }
        if (skip('.') && !digits())
            return false;
        if (skip('e') || skip('E')) {
            if (!skip('+'))
                skip('-');
            return digits();
        }
        return true;
    }

    bool string()
    {
        ++m_position;
        while (true) {
            if (at_end())
                return fail("EOF while parsing a string");
            auto const byte = static_cast<unsigned char>(peek());
            if (byte == '"') {
                ++m_position;
                return true;
            }
            if (byte < 0x20)
                return fail("control character (\\u0000-\\u001F) found while parsing a string");
            ++m_position;
            if (byte == '\\' && !escape())
                return false;
        }
    }

    // The rest of an escape, after its backslash.
    bool escape()
    {
        if (at_end())
            return fail("EOF while parsing a string");
        if (skip('u'))
            return unicode_escape();
        if (std::string_view("\"\\/bfnrt").find(peek()) == std::string_view::npos)
            return fail("invalid escape");
        ++m_position;
        return true;
    }

    // The four hex digits after "\u", and the second half of a surrogate pair.
    bool unicode_escape()
    {
        auto const first = code_unit();
        if (!first)
            return false;
        if (*first >= 0xDC00 && *first <= 0xDFFF)
            return fail("lone leading surrogate in hex escape");
        if (*first < 0xD800 || *first > 0xDBFF)
            return true;
        if (at_end())
            return fail("EOF while parsing a string");
        if (!skip('\\'))
            return fail("lone leading surrogate in hex escape");
        if (at_end())
            return fail("EOF while parsing a string");
        if (!skip('u'))
            return fail("unexpected end of hex escape");
        auto const second = code_unit();
        if (!second)
            return false;
        if (*second < 0xDC00 || *second > 0xDFFF)
            return fail("lone leading surrogate in hex escape");
        return true;
    }

    std::optional<unsigned> code_unit()
    {
        unsigned unit = 0;
        for (int count = 0; count < 4; ++count) {
            if (at_end()) {
                fail("EOF while parsing a string");
                return std::nullopt;
            }
            auto const digit = hex_digit_value(peek());
            if (!digit) {
                fail("invalid escape");
                return std::nullopt;
            }
            unit = unit * 16 + *digit;
            ++m_position;
        }
        return unit;
    }

    std::string_view m_text;
    std::size_t m_position { 0 };
    // The opening bracket of each array and object open at the position.
    std::string m_open;
    std::optional<ReadError> m_error;
};

} // namespace

std::optional<ReadError> find_syntax_error(std::string_view text)
{
    if (auto const invalid = first_invalid_utf8(text))
        return ReadError { "invalid UTF-8", *invalid };
    return SyntaxScanner(text).first_error();
}

} // namespace quenmark::json
