#include "json_members.h"

namespace corvella::detail {

namespace {

// Identifiers and instants are short texts; one buffer per thread keeps
// writing a large state file free of an allocation per value.
std::string& scratch()
{
    thread_local std::string buffer;
    buffer.clear();
    return buffer;
}

} // namespace

void write_uuid(Sink& sink, quenmark::Uuid const& uuid)
{
    std::string& text = scratch();
    uuid.append_to(text);
    sink.string(text);
}

void write_value(Sink& sink, std::string const& text) { sink.string(text); }

void write_value(Sink& sink, std::uint32_t number) { sink.unsigned_integer(number); }

void write_value(Sink& sink, std::uint64_t number) { sink.unsigned_integer(number); }

void write_value(Sink& sink, quenmark::Timestamp instant)
{
    std::string& text = scratch();
    instant.append_text(text);
    sink.string(text);
}

void write_value(Sink& sink, quenmark::Signature const& signature)
{
    std::string& text = scratch();
    signature.append_text(text);
    sink.string(text);
}

Read<quenmark::Uuid> read_uuid(ValueReader& reader)
{
    std::string_view const text = TRY(reader.string_view());
    auto uuid = quenmark::Uuid::parse(text);
    if (!uuid)
        return quenmark::unexpected(reader.error("UUID parsing failed: " + uuid.error()));
    return *uuid;
}

Read<void> read_value(ValueReader& reader, std::string& out)
{
    out = TRY(reader.string());
    return {};
}

Read<void> read_value(ValueReader& reader, std::uint32_t& out)
{
    out = TRY(reader.u32());
    return {};
}

Read<void> read_value(ValueReader& reader, std::uint64_t& out)
{
    out = TRY(reader.u64());
    return {};
}

Read<void> read_value(ValueReader& reader, quenmark::Timestamp& out)
{
    std::string_view const text = TRY(reader.string_view());
    // Read instants are written back; one the text form cannot hold is refused.
    auto instant = quenmark::Timestamp::parse_stored(text);
    if (!instant)
        return quenmark::unexpected(reader.error(instant.error().text()));
    out = *instant;
    return {};
}

Read<void> read_value(ValueReader& reader, quenmark::Signature& out)
{
    std::string_view const text = TRY(reader.string_view());
    auto signature = quenmark::Signature::parse(text);
    if (!signature)
        return quenmark::unexpected(reader.error(signature.error().text()));
    out = *signature;
    return {};
}

} // namespace corvella::detail
