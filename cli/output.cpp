#include "output.h"

#include "quenmark/json/value.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace corvellactl {
namespace {

CommandResult<void> write_now(std::FILE* stream, std::string_view text)
{
    std::string shown;
    if (::isatty(::fileno(stream)) == 1) {
        shown = shown_on_terminal(text);
        text = shown;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0)
        return quenmark::unexpected(CommandError::io(errno != 0 ? errno : EIO));
    return {};
}

// The length of the escaped character that starts `rest`, or 0: a C0
// character but the line feed, DEL, a C1 character (two bytes in UTF-8), or
// a bidirectional embedding, override or isolate (three bytes).
std::size_t escaped_length(std::string_view rest)
{
    auto const byte = [rest](std::size_t index) {
        return index < rest.size() ? static_cast<unsigned char>(rest[index]) : 0U;
    };
    unsigned const first = byte(0);
    if ((first < 0x20 && first != '\n') || first == 0x7F)
        return 1;
    if (first == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F)
        return 2;
    bool const embedding_or_override = byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE;
    bool const isolate = byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9;
    if (first == 0xE2 && (embedding_or_override || isolate))
        return 3;
    return 0;
}

// The code point of a character escaped_length() picked out.
unsigned code_point(std::string_view character)
{
    auto const bits = [character](std::size_t index) { return static_cast<unsigned char>(character[index]) & 0x3FU; };
    switch (character.size()) {
    case 1:
        return static_cast<unsigned char>(character[0]);
    case 2:
        return 0x80U | bits(1);
    default:
        return 0x2000U | (bits(1) << 6U) | bits(2);
    }
}

} // namespace

std::string shown_on_terminal(std::string_view text)
{
    constexpr std::string_view digits = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        std::size_t const length = escaped_length(text);
        if (length == 0) {
            shown.push_back(text.front());
            text.remove_prefix(1);
            continue;
        }
        unsigned const point = code_point(text.substr(0, length));
        text.remove_prefix(length);
        if (point == '\t' || point == '\r' || point == '\b' || point == '\f') {
            shown.push_back('\\');
            shown.push_back(point == '\t' ? 't' : point == '\r' ? 'r' : point == '\b' ? 'b' : 'f');
            continue;
        }
        shown.append("\\u");
        for (unsigned shift = 12;; shift -= 4) {
            shown.push_back(digits[(point >> shift) & 0xFU]);
            if (shift == 0)
                break;
        }
    }
    return shown;
}

CommandResult<void> print(std::string_view text) { return write_now(stdout, text); }

CommandResult<void> print_to_stderr(std::string_view text) { return write_now(stderr, text); }

CommandResult<void> print(Results const& results) { return write_now(stdout, results.bytes()); }

CommandResult<void> print_after_commit(Results const& results, std::string_view stored)
{
    auto printed = print(results);
    if (!printed)
        return quenmark::unexpected(
            CommandError::stored(concat(stored, ", but its result could not be printed: ", printed.error().text())));
    return {};
}

JsonObject::JsonObject(std::string& out)
    : m_out(out)
{
    m_out.push_back('{');
}

void JsonObject::key(std::string_view name)
{
    if (!std::exchange(m_first, false))
        m_out.push_back(',');
    quenmark::json::append_string(m_out, name);
    m_out.push_back(':');
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value)
{
    key(name);
    quenmark::json::append_string(m_out, value);
    return *this;
}

JsonObject& JsonObject::texts(std::string_view name, std::span<std::string const> values)
{
    key(name);
    m_out.push_back('[');
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (index > 0)
            m_out.push_back(',');
        quenmark::json::append_string(m_out, values[index]);
    }
    m_out.push_back(']');
    return *this;
}

JsonObject& JsonObject::number(std::string_view name, std::uint64_t value)
{
    key(name);
    quenmark::append_decimal(m_out, value);
    return *this;
}

JsonObject& JsonObject::number(std::string_view name, std::int64_t value)
{
    key(name);
    quenmark::append_decimal(m_out, value);
    return *this;
}

JsonObject& JsonObject::boolean(std::string_view name, bool value)
{
    key(name);
    m_out.append(value ? "true" : "false");
    return *this;
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json)
{
    key(name);
    m_out.append(json);
    return *this;
}

JsonObject& JsonObject::null(std::string_view name)
{
    key(name);
    m_out.append("null");
    return *this;
}

} // namespace corvellactl
