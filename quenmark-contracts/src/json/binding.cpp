#include "quenmark/json/binding.h"

namespace quenmark::json {

namespace {

// A text form read through its type's parser, whose error text becomes the
// reading error.
template<typename T>
Read<void> read_text_form(ValueReader& reader, T& out)
{
    std::string_view const text = TRY(reader.string_view());
    auto parsed = T::parse(text);
    if (!parsed)
        return unexpected(reader.error(parsed.error().text()));
    out = std::move(*parsed);
    return {};
}

} // namespace

std::string& detail::text_buffer()
{
    thread_local std::string buffer;
    buffer.clear();
    return buffer;
}

// Into the room the string already has, which a record read over an earlier
// one keeps.
Read<void> read_value(ValueReader& reader, std::string& out)
{
    out.assign(TRY(reader.string_view()));
    return {};
}

Read<void> read_value(ValueReader& reader, std::uint64_t& out)
{
    out = TRY(reader.u64());
    return {};
}

Read<void> read_value(ValueReader& reader, std::uint32_t& out)
{
    out = TRY(reader.u32());
    return {};
}

Read<void> read_value(ValueReader& reader, std::uint8_t& out)
{
    out = TRY(reader.u8());
    return {};
}

Read<void> read_value(ValueReader& reader, Uuid& out)
{
    std::string_view const text = TRY(reader.string_view());
    auto parsed = Uuid::parse(text);
    if (!parsed)
        return unexpected(reader.error("UUID parsing failed: " + parsed.error()));
    out = *parsed;
    return {};
}

Read<void> read_value(ValueReader& reader, Slug& out) { return read_text_form(reader, out); }

// Read instants are written back; one the text form cannot hold is refused.
Read<void> read_value(ValueReader& reader, Timestamp& out)
{
    std::string_view const text = TRY(reader.string_view());
    auto parsed = Timestamp::parse_stored(text);
    if (!parsed)
        return unexpected(reader.error(parsed.error().text()));
    out = *parsed;
    return {};
}

Read<void> read_value(ValueReader& reader, ContentHash& out) { return read_text_form(reader, out); }

Read<void> read_value(ValueReader& reader, Signature& out) { return read_text_form(reader, out); }

} // namespace quenmark::json
