#pragma once

// The small JSON value model used for canonical bytes, the event sink that
// records write themselves to, the pretty writer of the state and audit
// files, and the canonical writer.

#include "quenmark/contract_error.h"
#include "quenmark/expected.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quenmark::json {

struct Value;
using Array = std::vector<Value>;
// Members kept in ascending byte order of their keys, one value per key.
using Object = std::vector<std::pair<std::string, Value>>;

struct Value {
    std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array, Object> data { nullptr };

    Value() = default;
    Value(std::nullptr_t) { }
    Value(bool value) : data(value) { }
    Value(std::uint64_t value) : data(value) { }
    // Non-negative values are held as unsigned, negative ones as signed.
    Value(std::int64_t value);
    Value(double value) : data(value) { }
    Value(std::string value) : data(std::move(value)) { }
    Value(char const* value) : data(std::string(value)) { }
    Value(Array value) : data(std::move(value)) { }
    Value(Object value) : data(std::move(value)) { }

    friend bool operator==(Value const&, Value const&) = default;
};

// Inserts or replaces a member, keeping the object's keys in byte order.
void set_member(Object& object, std::string key, Value value);

// Receives a document as a stream of events. Records describe their JSON form
// once, as calls on a sink, so the file form and the signed form agree.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void begin_object() = 0;
    virtual void key(std::string_view name) = 0;
    virtual void end_object() = 0;
    virtual void begin_array() = 0;
    virtual void end_array() = 0;
    virtual void null() = 0;
    virtual void boolean(bool value) = 0;
    virtual void unsigned_integer(std::uint64_t value) = 0;
    virtual void signed_integer(std::int64_t value) = 0;
    virtual void string(std::string_view value) = 0;
};

// Writes the pretty layout of the state and audit files into a caller's
// buffer: two-space indent, one member or element per line, ": " after keys,
// "[]" and "{}" for empty containers, canonical string escapes, no final line feed.
class PrettyWriter final : public Sink {
public:
    explicit PrettyWriter(std::string& out) : m_out(out) { }
    void begin_object() override;
    void key(std::string_view name) override;
    void end_object() override;
    void begin_array() override;
    void end_array() override;
    void null() override;
    void boolean(bool value) override;
    void unsigned_integer(std::uint64_t value) override;
    void signed_integer(std::int64_t value) override;
    void string(std::string_view value) override;

private:
    void before_value();
    void open(char bracket);
    void close(char bracket);
    std::string& m_out;
    std::vector<unsigned char> m_has_element; // one flag per open container: written an element yet
    bool m_after_key { false };
};

// Builds a Value from sink events (objects come out sorted by key).
class ValueBuilder final : public Sink {
public:
    void begin_object() override;
    void key(std::string_view name) override;
    void end_object() override;
    void begin_array() override;
    void end_array() override;
    void null() override;
    void boolean(bool value) override;
    void unsigned_integer(std::uint64_t value) override;
    void signed_integer(std::int64_t value) override;
    void string(std::string_view value) override;
    // The finished value; valid once every opened container is closed.
    Value take();

private:
    void put(Value value);
    std::vector<Value> m_stack;
    std::vector<std::string> m_keys;
    Value m_result;
};

// Appends a JSON string literal with the canonical escapes (quotation mark,
// backslash, \b \t \n \f \r, other controls as \u00xx); all else verbatim.
void append_string(std::string& out, std::string_view text);

// Key composition: the fixed table of 57 base letter + combining mark pairs.
std::string compose(std::string_view text);

// Canonicalises (composes strings and keys, sorts members bytewise, refuses
// floating-point numbers and keys equal after composition) with `path` as the
// starting location for messages. Errors are CanonicalSerialization.
[[nodiscard]] Expected<Value, ContractError> canonicalise(Value const& value, std::vector<std::string>& path);
// Writes an already canonical value without whitespace.
void write_canonical(Value const& value, std::string& out);
// canonicalise + write_canonical.
[[nodiscard]] Expected<std::string, ContractError> canonical_bytes(Value const& value);

} // namespace quenmark::json
