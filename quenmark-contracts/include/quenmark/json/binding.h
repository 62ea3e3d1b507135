#pragma once

// Each record's JSON form is described once, as a table of members: the
// member's name, the record field it holds, and what an absent optional
// member becomes. The one table drives the reader, the pretty writer and the
// canonical bytes, so the file form and the signed form cannot disagree:
//
//   constexpr auto target_members = json::members(
//       json::member<&Target::target_type>("target_type"),
//       json::member<&Target::target_id, json::Absent::Omitted>("target_id"));
//
// Values are read and written by read_value and write_value overloads: the
// platform's value types here, other types (a library's identifiers, its
// enumerations' names) beside their own definitions, where argument-dependent
// lookup finds them. A nested record is read and written through its own
// read_json and write_json, and for canonical bytes straight from its table
// when json_members(record) returns it; these are declared before the table
// of the record that holds it.

#include "quenmark/expected.h"
#include "quenmark/ids/uuid.h"
#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace quenmark::json {

// What an absent optional member, or an empty list, becomes when written.
// Reading accepts both forms: a missing member or null means absent (empty).
enum class Absent : std::uint8_t {
    Null,    // written as null; a list is written as [] and required when read
    Omitted, // left out of the object, and so out of signatures and hashes
};

// Writing one value. `S` is the Sink of the pretty form, or the
// CanonicalWriter when canonical bytes are written straight from a table.

namespace detail {
// A per-thread buffer for the text forms below, so that writing a large file
// allocates nothing per value.
std::string& text_buffer();
} // namespace detail

template<typename S>
void write_value(S& sink, std::string const& text)
{
    sink.string(text);
}

template<typename S, typename Number>
    requires(std::unsigned_integral<Number> && !std::same_as<Number, bool>)
void write_value(S& sink, Number number)
{
    sink.unsigned_integer(number);
}

// Identifiers, slugs, instants, hashes and signatures are written in their
// text forms, which never need an escape or a composition.
template<typename S>
void write_value(S& sink, Uuid const& id)
{
    std::string& text = detail::text_buffer();
    id.append_to(text);
    sink.plain_string(text);
}

template<typename S>
void write_value(S& sink, Slug const& slug)
{
    sink.plain_string(slug.text());
}

template<typename S, typename T>
    requires(std::same_as<T, Timestamp> || std::same_as<T, ContentHash> || std::same_as<T, Signature>)
void write_value(S& sink, T const& value)
{
    std::string& text = detail::text_buffer();
    value.append_text(text);
    sink.plain_string(text);
}

// An enumeration is stored under its name: stored_names(value), declared
// beside the enumeration, lists the names in the order of the values.
template<typename E>
concept StoredByName = std::is_enum_v<E> && requires(E value) {
    { stored_names(value) } -> std::convertible_to<std::span<std::string_view const>>;
};

template<typename S, StoredByName E>
void write_value(S& sink, E value)
{
    sink.plain_string(stored_names(value)[static_cast<std::size_t>(value)]);
}

template<typename S, typename T>
void write_value(S& sink, std::optional<T> const& value)
{
    if (!value) {
        sink.null();
        return;
    }
    write_value(sink, *value);
}

// Byte strings are lists of numbers 0 to 255.
template<typename S, typename T>
void write_value(S& sink, std::vector<T> const& values)
{
    sink.begin_array();
    for (auto const& value : values)
        write_value(sink, value);
    sink.end_array();
}

// A nested record writes itself through its own write_json.
template<typename Record>
    requires requires(Sink& sink, Record const& record) { write_json(sink, record); }
void write_value(Sink& sink, Record const& record)
{
    write_json(sink, record);
}

// Reading one value. The text forms are parsed by their types' parsers,
// whose messages fail the document at the value's position.
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::string& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::uint64_t& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::uint32_t& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::uint8_t& out);
// "UUID parsing failed: " + the parser's message.
[[nodiscard]] Read<void> read_value(ValueReader& reader, Uuid& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, Slug& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, Timestamp& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, ContentHash& out);
[[nodiscard]] Read<void> read_value(ValueReader& reader, Signature& out);

// A name outside the list fails with "unknown variant".
template<StoredByName E>
[[nodiscard]] Read<void> read_value(ValueReader& reader, E& out)
{
    out = static_cast<E>(TRY(reader.enumeration(stored_names(E {}))));
    return {};
}

// Null reads as absent, as a missing member does.
template<typename T>
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::optional<T>& out)
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

// Each element is read over the one the list already holds in its place,
// if any, which keeps nothing of it but its memory: a list read again and
// again, as into a record that is not kept, allocates nothing once its
// strings are long enough.
template<typename T>
[[nodiscard]] Read<void> read_value(ValueReader& reader, std::vector<T>& out)
{
    std::size_t count = 0;
    TRY(reader.array([&](ValueReader& element) -> Read<void> {
        if (count == out.size())
            out.emplace_back();
        TRY(read_value(element, out[count]));
        ++count;
        return {};
    }));
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(count), out.end());
    return {};
}

template<typename Record>
    requires requires(ValueReader& reader, Record& record) { read_json(reader, record); }
[[nodiscard]] Read<void> read_value(ValueReader& reader, Record& out)
{
    return read_json(reader, out);
}

// One member of a record's table; made by member() below.
template<typename Record>
struct Member {
    std::string_view name;
    bool required;
    Read<void> (*read)(ValueReader&, Record&);
    // Empties the member when the object read lacks it (null for required members).
    void (*reset)(Record&);
    // Writes the key and the value, or nothing when the member is omitted.
    void (*write)(Sink&, std::string_view name, Record const&);
    void (*write_canonical)(CanonicalWriter&, std::string_view name, Record const&);
};

// A record's members in written order, with what the reader and the
// canonical writer need of them, worked out when the table is built.
template<typename Record, std::size_t N>
struct Members {
    std::array<Member<Record>, N> list;
    std::array<std::string_view, N> names;
    std::uint64_t required { 0 };                // bit i: list[i] is required
    std::array<std::uint8_t, N> canonical_order; // positions in list, names ascending
};

// Writes the record as an object, its members in the table's order.
template<typename Record, std::size_t N>
void write_members(Sink& sink, Members<Record, N> const& table, Record const& record)
{
    sink.begin_object();
    for (Member<Record> const& member : table.list)
        member.write(sink, member.name, record);
    sink.end_object();
}

// The canonical form of the record: its members in the ascending order of
// their names, known from the table, so the writer sorts nothing.
template<typename Record, std::size_t N>
void write_members(CanonicalWriter& writer, Members<Record, N> const& table, Record const& record)
{
    writer.begin_object();
    for (std::uint8_t const position : table.canonical_order) {
        Member<Record> const& member = table.list[position];
        member.write_canonical(writer, member.name, record);
    }
    writer.end_object();
}

// A nested record with a member table, found by json_members(record) beside
// the record, goes into canonical bytes straight from that table; any other
// goes through its write_json, and the writer sorts its members.
template<typename Record>
    requires requires(Record const& record) { json_members(record); }
void write_value(CanonicalWriter& writer, Record const& record)
{
    write_members(writer, json_members(record), record);
}

// The record's canonical bytes, appended to `out`. Cannot fail: the names
// are distinct and plain, and records hold no floating-point numbers.
template<typename Record, std::size_t N>
void append_canonical_bytes(Members<Record, N> const& table, Record const& record, std::string& out)
{
    CanonicalWriter writer(out);
    write_members(writer, table, record);
}

// Reads an object into the record: the table's members in any order, each
// at most once, every required one present, other members skipped. Members
// the object lacks are left empty, so a record read over an earlier one
// keeps nothing of it.
template<typename Record, std::size_t N>
[[nodiscard]] Read<void> read_members(ValueReader& reader, Members<Record, N> const& table, Record& record)
{
    std::uint64_t const seen = TRY(reader.object(table.names, table.required,
        [&](std::size_t index, ValueReader& value) { return table.list[index].read(value, record); }));
    for (std::size_t index = 0; index < N; ++index) {
        if ((seen >> index & 1U) == 0)
            table.list[index].reset(record);
    }
    return {};
}

namespace detail {

template<typename T>
inline constexpr bool is_optional = false;
template<typename T>
inline constexpr bool is_optional<std::optional<T>> = true;
template<typename T>
inline constexpr bool is_list = false;
template<typename T>
inline constexpr bool is_list<std::vector<T>> = true;

template<typename Record, typename Field>
Record record_of(Field Record::*);
template<typename Record, typename Field>
Field value_of(Field Record::*);

// Member names are printable ASCII that needs no escape, so that their
// composed, escaped and raw forms are the same.
constexpr bool is_plain_name(std::string_view name)
{
    for (char const character : name) {
        if (character < 0x20 || character > 0x7E || character == '"' || character == '\\')
            return false;
    }
    return !name.empty();
}

// Never defined: reaching one while a table is built at compile time stops
// the compilation with its name.
void member_name_must_be_printable_ascii_without_escapes();
void member_names_must_differ();

inline void write_key(Sink& sink, std::string_view name) { sink.key(name); }
// The canonical table writer takes the members in ascending order of their names.
inline void write_key(CanonicalWriter& writer, std::string_view name) { writer.key_in_order(name); }

template<auto field, Absent absent, typename S, typename Record>
void write_member(S& sink, std::string_view name, Record const& record)
{
    auto const& value = record.*field;
    if constexpr (absent == Absent::Omitted) {
        if constexpr (is_optional<std::remove_cvref_t<decltype(value)>>) {
            if (!value)
                return;
        } else if (value.empty()) {
            return;
        }
    }
    write_key(sink, name);
    write_value(sink, value);
}

} // namespace detail

// The member `name`, held in the record field `field`. Members that are
// neither optional nor omitted lists are required when read.
template<auto field, Absent absent = Absent::Null>
consteval auto member(std::string_view name)
{
    using Record = decltype(detail::record_of(field));
    using Field = decltype(detail::value_of(field));
    static_assert(absent == Absent::Null || detail::is_optional<Field> || detail::is_list<Field>,
                  "only optional members and lists can be omitted");
    if (!detail::is_plain_name(name))
        detail::member_name_must_be_printable_ascii_without_escapes();
    constexpr bool required = !detail::is_optional<Field> && absent == Absent::Null;
    void (*reset)(Record&) = nullptr;
    if constexpr (!required)
        reset = [](Record& record) { record.*field = Field {}; };
    return Member<Record> {
        name,
        required,
        [](ValueReader& reader, Record& record) -> Read<void> {
            if constexpr (absent == Absent::Omitted && detail::is_list<Field>) {
                if (TRY(reader.is_null())) {
                    (record.*field).clear();
                    return {};
                }
            }
            return read_value(reader, record.*field);
        },
        reset,
        &detail::write_member<field, absent, Sink, Record>,
        &detail::write_member<field, absent, CanonicalWriter, Record>,
    };
}

// The table of a record's members, given in written order.
template<typename Record, std::same_as<Member<Record>>... More>
consteval auto members(Member<Record> first, More... more)
{
    constexpr std::size_t count = 1 + sizeof...(More);
    static_assert(count <= 64, "the reader tells at most 64 members apart");
    Members<Record, count> table { { first, more... }, {}, 0, {} };
    for (std::size_t index = 0; index < count; ++index) {
        table.names[index] = table.list[index].name;
        if (table.list[index].required)
            table.required |= std::uint64_t { 1 } << index;
        table.canonical_order[index] = static_cast<std::uint8_t>(index);
    }
    auto const name_at = [&](std::size_t position) { return table.names[table.canonical_order[position]]; };
    for (std::size_t sorted = 1; sorted < count; ++sorted) {
        for (std::size_t position = sorted; position > 0 && name_at(position) < name_at(position - 1); --position)
            std::swap(table.canonical_order[position], table.canonical_order[position - 1]);
    }
    for (std::size_t position = 1; position < count; ++position) {
        if (name_at(position) == name_at(position - 1))
            detail::member_names_must_differ();
    }
    return table;
}

} // namespace quenmark::json
