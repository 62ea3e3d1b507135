#pragma once

// Typed reading of JSON documents straight into records, over simdjson's
// On-Demand API. One pass: each object's members are visited once and
// dispatched on the key; unknown members are walked (so the whole document is
// validated) and dropped. Messages follow the usual wording of typed JSON
// readers ("missing field `x`", "duplicate field `x`", "unknown variant `x`,
// expected one of `a`, `b`", "invalid type: ..., expected ...") and the
// document reader appends " at line L column C".

#include "quenmark/expected.h"

#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace quenmark::json {

// A reading failure: the message and the byte offset in the document where
// it was found. read_document turns the offset into a line and column.
struct ReadError {
    std::string message;
    std::size_t offset { 0 };
};

template<typename T>
using Read = Expected<T, ReadError>;

class Document;

// One JSON value inside a document being read. Each accessor consumes the
// value; call exactly one of them (or skip()).
class ValueReader {
public:
    ValueReader(Document& document, simdjson::ondemand::value value)
        : m_document(&document)
        , m_value(value)
    {
    }

    [[nodiscard]] Read<std::string> string();
    // Borrowed from the document's buffer; copy it before the next read.
    [[nodiscard]] Read<std::string_view> string_view();
    [[nodiscard]] Read<std::uint64_t> u64();
    [[nodiscard]] Read<std::uint32_t> u32();
    [[nodiscard]] Read<std::int64_t> i64();
    [[nodiscard]] Read<std::uint8_t> u8();
    [[nodiscard]] Read<bool> boolean();
    // True (and consumed) when the value is JSON null; otherwise false and the
    // value is left for another accessor.
    [[nodiscard]] Read<bool> is_null();
    // The index in `names` of the string's value, or "unknown variant" naming them.
    [[nodiscard]] Read<std::size_t> enumeration(std::span<std::string_view const> names);
    // Calls each_element for every element in order.
    [[nodiscard]] Read<void> array(std::function<Read<void>(ValueReader&)> const& each_element);
    // Visits the members once. A member named names[i] calls on_member(i, value);
    // a second one with the same name fails with "duplicate field"; other
    // members are validated and skipped. Afterwards the first name (in `names`
    // order) whose bit is set in `required` but that was not seen fails with
    // "missing field". Returns the bit set of the names seen.
    [[nodiscard]] Read<std::uint64_t> object(std::span<std::string_view const> names, std::uint64_t required,
                                             std::function<Read<void>(std::size_t, ValueReader&)> const& on_member);
    // Validates the whole value and discards it.
    [[nodiscard]] Read<void> skip();

    // An error at this value's position.
    ReadError error(std::string message) const;

private:
    Document* m_document;
    simdjson::ondemand::value m_value;
};

// Owns the parser and the padded input of one document.
class Document {
public:
    // Reads `text` (any bytes; invalid UTF-8 is refused) with read_root and
    // checks that only white space follows the root value. On failure returns
    // the message with " at line L column C" appended.
    [[nodiscard]] static Expected<void, std::string> read(std::string_view text,
                                                          std::function<Read<void>(ValueReader&)> const& read_root);

    // Line and column (both from 1) of a byte offset.
    std::pair<std::size_t, std::size_t> line_column(std::size_t offset) const;
    std::size_t offset_of(char const* location) const;
    simdjson::ondemand::document& ondemand() { return m_document; }

private:
    simdjson::padded_string m_text;
    simdjson::ondemand::parser m_parser;
    simdjson::ondemand::document m_document;
};

} // namespace quenmark::json
