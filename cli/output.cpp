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

} // namespace

std::string shown(std::string_view text)
{
    std::string quoted = quenmark::quoted(text);
    if (!text.empty() && quoted.size() == text.size() + 2)
        return std::string(text);
    return quoted;
}

std::string shown_on_terminal(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    auto const byte = [text](std::size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0U; };
    for (std::size_t at = 0; at < text.size(); ++at) {
        unsigned const first = byte(at);
        unsigned const second = byte(at + 1);
        unsigned const third = byte(at + 2);
        unsigned point = 0;
        if ((first < 0x20 && first != '\n') || first == 0x7F) {
            point = first;
        } else if (first == 0xC2 && second >= 0x80 && second <= 0x9F) {
            point = second;
            at += 1;
        } else if (first == 0xE2
                   && ((second == 0x80 && third >= 0xAA && third <= 0xAE)
                       || (second == 0x81 && third >= 0xA6 && third <= 0xA9))) {
            point = 0x2000U | ((second & 0x3FU) << 6U) | (third & 0x3FU);
            at += 2;
        } else {
            shown.push_back(text[at]);
            continue;
        }
        constexpr std::string_view digits = "0123456789abcdef";
        shown.append("\\u");
        for (unsigned const shift : { 12U, 8U, 4U, 0U })
            shown.push_back(digits[(point >> shift) & 0xFU]);
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
