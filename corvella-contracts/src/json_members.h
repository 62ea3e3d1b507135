#pragma once

// Private to the training contracts: each record's JSON form is described
// once, as a table of members (name, required or optional, how to read, how
// to write), and that one table drives both the writer and the reader.

#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "quenmark/expected.h"
#include "quenmark/json.h"
#include "quenmark/json_read.h"
#include "quenmark/signing.h"
#include "quenmark/time/timestamp.h"
#include "quenmark/uuid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace corvella::detail {

using quenmark::json::Read;
using quenmark::json::Sink;
using quenmark::json::ValueReader;

// Writing one value.
void write_uuid(Sink& sink, quenmark::Uuid const& uuid);
void write_value(Sink& sink, std::string const& text);
void write_value(Sink& sink, std::uint32_t number);
void write_value(Sink& sink, std::uint64_t number);
void write_value(Sink& sink, quenmark::Timestamp instant);
void write_value(Sink& sink, quenmark::Signature const& signature);
template<typename Tag>
void write_value(Sink& sink, Identifier<Tag> const& id);
template<typename E>
    requires std::is_enum_v<E>
void write_value(Sink& sink, E value);
template<typename T>
void write_value(Sink& sink, std::optional<T> const& value);
template<typename T>
void write_value(Sink& sink, std::vector<T> const& values);
template<typename Record>
    requires requires(Sink& sink, Record const& record) { write_json(sink, record); }
void write_value(Sink& sink, Record const& record);

// Reading one value. Identifiers, instants and signatures that do not parse
// fail the document with the parser's message at the value's position.
[[nodiscard]] Read<quenmark::Uuid> read_uuid(ValueReader& reader);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::string& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::uint32_t& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::uint64_t& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, quenmark::Timestamp& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, quenmark::Signature& out);
template<typename Tag>
[[nodiscard]] Read<void> read_value(ValueReader& reader, Identifier<Tag>& out);
template<typename E>
    requires std::is_enum_v<E>
[[nodiscard]] Read<void> read_value(ValueReader& reader, E& out);
template<typename T>
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::optional<T>& out);
template<typename T>
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::vector<T>& out);
template<typename Record>
    requires requires(ValueReader& reader, Record& record) { read_json(reader, record); }
[[nodiscard]] Read<void> read_value(ValueReader& reader, Record& out);

// The stored names of an enumeration, for reading.
constexpr std::span<std::string_view const> names_of(AssessmentStatus) { return assessment_status_names; }
constexpr std::span<std::string_view const> names_of(AssignmentReason) { return assignment_reason_names; }
constexpr std::span<std::string_view const> names_of(AssignmentStatus) { return assignment_status_names; }
constexpr std::span<std::string_view const> names_of(AttemptStatus) { return attempt_status_names; }
constexpr std::span<std::string_view const> names_of(ScoreBand) { return score_band_names; }
constexpr std::span<std::string_view const> names_of(SafeFeedback) { return safe_feedback_names; }

template<typename Tag>
void write_value(Sink& sink, Identifier<Tag> const& id)
{
    write_uuid(sink, id.uuid());
}

template<typename E>
    requires std::is_enum_v<E>
void write_value(Sink& sink, E value)
{
    sink.string(stored_name(value));
}

template<typename T>
void write_value(Sink& sink, std::optional<T> const& value)
{
    if (!value) {
        sink.null();
        return;
    }
    write_value(sink, *value);
}

template<typename T>
void write_value(Sink& sink, std::vector<T> const& values)
{
    sink.begin_array();
    for (auto const& value : values)
        write_value(sink, value);
    sink.end_array();
}

template<typename Record>
    requires requires(Sink& sink, Record const& record) { write_json(sink, record); }
void write_value(Sink& sink, Record const& record)
{
    write_json(sink, record);
}

template<typename Tag>
Read<void> read_value(ValueReader& reader, Identifier<Tag>& out)
{
    out = Identifier<Tag>::from_uuid(TRY(read_uuid(reader)));
    return {};
}

template<typename E>
    requires std::is_enum_v<E>
Read<void> read_value(ValueReader& reader, E& out)
{
    std::size_t const index = TRY(reader.enumeration(names_of(E {})));
    out = static_cast<E>(index);
    return {};
}

template<typename T>
Read<void> read_value(ValueReader& reader, std::optional<T>& out)
{
    if (TRY(reader.is_null())) {
        out.reset();
        return {};
    }
    T value {};
    TRY(read_value(reader, value));
    out = std::move(value);
    return {};
}

template<typename T>
Read<void> read_value(ValueReader& reader, std::vector<T>& out)
{
    out.clear();
    return reader.array([&](ValueReader& element) -> Read<void> {
        T value {};
        TRY(read_value(element, value));
        out.push_back(std::move(value));
        return {};
    });
}

template<typename Record>
    requires requires(ValueReader& reader, Record& record) { read_json(reader, record); }
Read<void> read_value(ValueReader& reader, Record& out)
{
    return read_json(reader, out);
}

template<typename T>
inline constexpr bool is_optional = false;
template<typename T>
inline constexpr bool is_optional<std::optional<T>> = true;

// One member of a record's JSON object. Optional members are written as null
// when absent and may be null or missing when read.
template<typename Record>
struct Member {
    std::string_view name;
    bool required;
    Read<void> (*read)(ValueReader&, Record&);
    void (*write)(Sink&, Record const&);
};

template<typename Record, typename Value>
Record record_of(Value Record::*);
template<typename Record, typename Value>
Value value_of(Value Record::*);

// The member `name` stored in the record field `field`.
template<auto field>
constexpr auto member(std::string_view name)
{
    using Record = decltype(record_of(field));
    using Value = decltype(value_of(field));
    return Member<Record> {
        name,
        !is_optional<Value>,
        [](ValueReader& reader, Record& record) -> Read<void> { return read_value(reader, record.*field); },
        [](Sink& sink, Record const& record) { write_value(sink, record.*field); },
    };
}

template<typename Record, std::size_t count>
void write_members(Sink& sink, std::array<Member<Record>, count> const& members, Record const& record)
{
    sink.begin_object();
    for (auto const& entry : members) {
        sink.key(entry.name);
        entry.write(sink, record);
    }
    sink.end_object();
}

// Reads an object into a fresh record: listed members in any order, each at
// most once, every required one present, unknown ones skipped.
template<typename Record, std::size_t count>
[[nodiscard]] Read<void> read_members(ValueReader& reader, std::array<Member<Record>, count> const& members,
                                      Record& record)
{
    static_assert(count <= 64);
    std::array<std::string_view, count> names {};
    std::uint64_t required = 0;
    for (std::size_t index = 0; index < count; ++index) {
        names[index] = members[index].name;
        if (members[index].required)
            required |= std::uint64_t { 1 } << index;
    }
    record = Record {};
    auto seen = reader.object(names, required, [&](std::size_t index, ValueReader& value) -> Read<void> {
        return members[index].read(value, record);
    });
    if (!seen)
        return quenmark::unexpected(std::move(seen).error());
    return {};
}

} // namespace corvella::detail
