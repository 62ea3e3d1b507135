// The pretty writer of the state and audit files.

#include "quenmark/json/value.h"

#include "quenmark/text/text.h"

#include "json/strings.h"

#include <algorithm>
#include <array>

namespace quenmark::json {

namespace {

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

} // namespace

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
        && m_has_element.size() * 2 <= shallow_indent && detail::needs_no_escape(name);
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
    append_decimal(m_out, value);
}

void PrettyWriter::signed_integer(std::int64_t value)
{
    before_value();
    append_decimal(m_out, value);
}

void PrettyWriter::string(std::string_view value)
{
    before_value();
    append_string(m_out, value);
}

void PrettyWriter::plain_string(std::string_view value)
{
    before_value();
    detail::append_quoted_verbatim(m_out, value);
}

} // namespace quenmark::json
