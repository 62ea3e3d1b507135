#include "output.h"

#include "quenmark/json/value.h"

#include <cerrno>
#include <cstdio>

namespace corvellactl {
namespace {

CommandResult<void> write_now(std::FILE* stream, std::string_view text)
{
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

CommandResult<void> print(std::string_view text) { return write_now(stdout, text); }

CommandResult<void> print_to_stderr(std::string_view text) { return write_now(stderr, text); }

CommandResult<void> print(Results const& results) { return write_now(stdout, results.bytes()); }

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
