#pragma once

// Typed reading of JSON documents straight into records, over simdjson's
// On-Demand API. One pass: each object's members are visited once and
// dispatched on the key; unknown members are walked (so the whole document is
// validated) and dropped. Messages follow the usual wording of typed JSON
// readers ("missing field `x`", "duplicate field `x`", "unknown variant `x`,
// expected one of `a`, `b`", "invalid type: ..., expected ...") and the
// document reader appends " at line L column C".
//
// simdjson stays out of this header (it is large and slow to compile): the
// On-Demand value lives in opaque storage inside ValueReader.

#include "quenmark/expected.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quenmark::json {

// A reading failure: the message and the byte offset in the document where
// it was found. The document readers turn the offset into a line and column.
struct ReadError {
    std::string message;
    std::size_t offset { 0 };
};

template<typename T>
using Read = Expected<T, ReadError>;

// A non-owning reference to a callable, cheaper than std::function.
template<typename Signature>
class FunctionRef;

template<typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template<typename F>
        requires(std::is_invocable_r_v<R, F&, Args...> && !std::is_same_v<std::decay_t<F>, FunctionRef>)
    FunctionRef(F&& callable)
        : m_object(const_cast<void*>(static_cast<void const*>(std::addressof(callable))))
        , m_call([](void* object, Args... args) -> R {
            return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        })
    {
    }
    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void* m_object;
    R (*m_call)(void*, Args...);
};

class DocumentState;
class PlainCursor;
struct Value;
struct ValueReaderAccess;

// Arrays and objects nested deeper than this fail with "recursion limit exceeded".
inline constexpr std::size_t read_max_depth = 1024;

// One JSON value inside a document being read. Each accessor consumes the
// value; call exactly one of them (is_null() aside), or skip(). A member or
// element that a callback leaves unread is validated and skipped afterwards.
// Type errors read "invalid type: <found>, expected <wanted>" and numbers
// outside the wanted range "invalid value: integer `<n>`, expected <wanted>".
class ValueReader {
public:
    [[nodiscard]] Read<std::string> string();
    // Borrowed from the document's buffer; copy it before the next read.
    [[nodiscard]] Read<std::string_view> string_view();
    [[nodiscard]] Read<std::uint64_t> u64();
    [[nodiscard]] Read<std::uint32_t> u32();
    [[nodiscard]] Read<std::uint8_t> u8();
    [[nodiscard]] Read<bool> boolean();
    // True (and consumed) when the value is JSON null; otherwise false and the
    // value is left for another accessor.
    [[nodiscard]] Read<bool> is_null();
    // The index in `names` of the string's value, or "unknown variant" naming them.
    [[nodiscard]] Read<std::size_t> enumeration(std::span<std::string_view const> names);
    // Calls each_element for every element in order.
    [[nodiscard]] Read<void> array(FunctionRef<Read<void>(ValueReader&)> each_element);
    // Visits the members once. A member named names[i] calls on_member(i, value);
    // a second member with that name fails with "duplicate field `name`"; other
    // members are validated and skipped. Afterwards the first name (in `names`
    // order) whose bit is set in `required` but was not seen fails with
    // "missing field `name`". Returns the bit set of the names seen (at most 64 names).
    [[nodiscard]] Read<std::uint64_t> object(std::span<std::string_view const> names, std::uint64_t required,
                                             FunctionRef<Read<void>(std::size_t, ValueReader&)> on_member);
    // An externally tagged variant: an object with exactly one member whose
    // name is one of `names`; calls on_variant(index, value). Another name
    // fails with "unknown variant", and any other member count with "expected
    // a map with a single key".
    [[nodiscard]] Read<void> variant(std::span<std::string_view const> names,
                                     FunctionRef<Read<void>(std::size_t, ValueReader&)> on_variant);
    // Validates the whole value and discards it.
    [[nodiscard]] Read<void> skip();
    // Reads any value into the value model: objects keep their members in
    // document order (a name given twice fails with "duplicate field `x`"),
    // integers that fit 64 bits stay integers, every other number is a double.
    [[nodiscard]] Read<void> any(Value& out);

    // An error at this value's position.
    [[nodiscard]] ReadError error(std::string message) const;
    // Where this value starts in the document and how long the document is,
    // in bytes: enough to estimate how many more elements a list holds.
    [[nodiscard]] std::size_t offset() const;
    [[nodiscard]] std::size_t document_size() const;

    // Construction is the document reader's business: a null value pointer
    // stands for the document's root.
    ValueReader(DocumentState& state, void const* ondemand_value);

private:
    friend struct ValueReaderAccess;
    ValueReader(PlainCursor& cursor, std::size_t offset);

    DocumentState* m_state;
    // Set when the value is read by the plain reader of read_padded_elements;
    // m_value then holds the value's offset.
    PlainCursor* m_plain { nullptr };
    alignas(16) std::byte m_value[48];
    bool m_root { false };
    bool m_consumed { false };
};

// Reads `text` (any bytes; invalid UTF-8 is refused) with read_root and checks
// that only white space follows the root value. The whole input is validated
// as JSON, skipped members included; an empty input fails with "EOF while
// parsing a value". On failure returns the message with " at line L column C"
// appended (both counted from 1, the column in bytes; the position after the
// last byte for an unexpected end of input).
[[nodiscard]] Expected<void, std::string> read_document(std::string_view text,
                                                        FunctionRef<Read<void>(ValueReader&)> read_root);

// The same over a buffer that already has simdjson's padding after its
// `size` bytes (capacity at least size + 64; any bytes), which avoids copying
// the input. A document cut from a larger one is read with its root at
// `depth`, the nesting it has there, so the depth limit falls where it
// would in the whole.
[[nodiscard]] Expected<void, std::string> read_padded_document(char const* data, std::size_t size,
                                                               FunctionRef<Read<void>(ValueReader&)> read_root,
                                                               std::size_t depth = 0);
inline constexpr std::size_t read_padding = 64;

// Reads the elements of the array that `data` holds (with read_padding bytes
// after its `size`), as read_padded_document() reading the array with
// ValueReader::array would, calling each_element for each in order. Each
// element is first read by a plain reader that takes only what is plainly
// well formed: objects and arrays whose members are all read, strings
// without escapes, unsigned integers, true, false and null. At the first
// element it does not take, the whole text is read by
// read_padded_document() instead, the elements already read left unread
// there; each_element must therefore change nothing when it fails. The
// elements and the result are those of that reading, for any text, except
// that a failed reading may have handed over elements that the whole
// reading, refusing the text before its first element, never reaches: what
// a failed reading gave is to be discarded.
[[nodiscard]] Expected<void, std::string> read_padded_elements(char const* data, std::size_t size,
                                                               FunctionRef<Read<void>(ValueReader&)> each_element,
                                                               std::size_t depth = 0);

// Reads a whole document into the value model (ValueReader::any); on failure
// the message with " at line L column C", as read_document gives it.
[[nodiscard]] Expected<Value, std::string> parse_value(std::string_view text);

} // namespace quenmark::json
