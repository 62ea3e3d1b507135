#pragma once

// JSON writing: the small value model, the event sink that records write
// themselves to, the pretty writer of the state and audit files, and the one
// canonical writer, which gives the bytes that are signed and hashed. Records
// describe their members once, in json/binding.h.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quenmark::json {

struct Value;
using Array = std::vector<Value>;
// Members in the order given; the canonical writer sorts them by key.
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

// The value of the first member called `name`, searched in the object's own
// order; null when there is none.
Value const* find_member(Object const& object, std::string_view name);

// Receives a document as a stream of events, in the order of the text.
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
    // A string of printable ASCII that needs no escape, written as it stands:
    // the text forms of identifiers, instants, hashes, signatures and
    // enumeration names.
    virtual void plain_string(std::string_view value) = 0;
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
    void plain_string(std::string_view value) override;

private:
    void before_value();
    void open(char bracket);
    void close(char bracket);
    std::string& m_out;
    std::vector<unsigned char> m_has_element; // one flag per open container: written an element yet
    bool m_after_key { false };
};

// The two canonical forms of the one canonical writer. They share the
// escapes, the integers and the layout, and differ in two points only.
enum class CanonicalForm : std::uint8_t {
    // The form records are signed and hashed in: strings and keys composed
    // (the fixed table of pairs), members in byte order of their keys.
    Signing,
    // RFC 8785, the JSON Canonicalization Scheme, for exported credentials:
    // nothing composed, members in the order of their keys' UTF-16 code
    // units. Its numbers are IEEE doubles written as ECMAScript writes them;
    // this system writes no floating-point numbers, so the form is written
    // for integers alone, which ECMAScript writes as plain decimal up to
    // 2^53 in magnitude (jcs_bytes refuses the others).
    Jcs,
};

// Writes canonical bytes straight into a caller's buffer: no white space,
// strings and keys escaped (and, in the signing form, composed), integers in
// plain decimal, each object's members in ascending order of their keys
// (composed keys in byte order, unsigned bytes, a prefix first; in the JCS
// form the keys as UTF-16 code units). Members that come out of order are
// sorted when their object ends; two equal keys in one object make status()
// fail. The writer takes no floating-point numbers: the value model refuses
// them before they reach it.
class CanonicalWriter final : public Sink {
public:
    explicit CanonicalWriter(std::string& out, CanonicalForm form = CanonicalForm::Signing)
        : m_out(out)
        , m_form(form)
    {
    }
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
    void plain_string(std::string_view value) override;
    // A key of printable ASCII that needs no escape and sorts after every
    // key before it in its object, written as it stands: the member tables'
    // names in their canonical order. An object takes its keys either all
    // through key_in_order or all through key.
    void key_in_order(std::string_view name);
    // CanonicalSerialization "duplicate object key <quoted key> after Unicode
    // normalisation" (in the JCS form "duplicate object key <quoted key>")
    // for the first object that ended with two equal keys (the bytes written
    // are then not canonical); otherwise nothing.
    [[nodiscard]] Expected<void, ContractError> status() const;

private:
    // A member of an object that takes its keys through key(): where its
    // composed key is kept and where its "key":value text starts and ends.
    struct Member {
        std::size_t key_start;
        std::size_t key_size;
        std::size_t start;
        std::size_t end;
    };
    struct OpenObject {
        std::size_t depth;
        std::size_t first_member;
        bool in_order;
    };
    void separate();
    void sort_members(OpenObject const& object);
    bool key_less(std::string_view left, std::string_view right) const;

    std::string& m_out;
    CanonicalForm m_form;
    std::vector<OpenObject> m_objects; // objects open now that took a key(), innermost last
    std::vector<Member> m_members;     // their members so far
    std::string m_keys;                // their members' composed keys
    std::size_t m_depth { 0 };         // containers open now
    bool m_comma { false };            // a value just ended, so a comma comes before the next
    std::optional<ContractError> m_error;
};

// Appends a JSON string literal with the canonical escapes (quotation mark,
// backslash, \b \t \n \f \r, other controls as \u00xx); all else verbatim.
void append_string(std::string& out, std::string_view text);

// Key composition: the fixed table of 57 base letter + combining mark pairs.
std::string compose(std::string_view text);

// Whether `left` sorts before `right` as sequences of UTF-16 code units, the
// order of RFC 8785's keys. Both must be valid UTF-8.
bool utf16_less(std::string_view left, std::string_view right);

// The value's canonical bytes through CanonicalWriter. A floating-point
// number fails with CanonicalSerialization "floating-point number at <path>
// cannot be canonicalised; ..." (the path of composed keys and indices joined
// by ".", or "<root>"); keys equal after composition fail as status() says.
// Whichever comes first in the document is reported, a member's value before
// its object's keys.
[[nodiscard]] Expected<std::string, ContractError> canonical_bytes(Value const& value);

// The value's RFC 8785 (JCS) bytes through CanonicalWriter in the JCS form:
// the exported credentials' canonical form. Nothing is composed; keys equal
// as given fail with CanonicalSerialization "duplicate object key <quoted
// key>". A floating-point number fails with CanonicalSerialization
// "floating-point number at <path> is not supported in RFC 8785 form; this
// tool writes none", and an integer beyond 2^53 - 1 in magnitude, which an
// RFC 8785 writer cannot hold exactly, with "integer at <path> is beyond
// 2^53 - 1 in magnitude, which RFC 8785 cannot write exactly" (the path of
// keys and indices joined by ".", or "<root>").
[[nodiscard]] Expected<std::string, ContractError> jcs_bytes(Value const& value);

// Writes the value to any sink (the pretty writer, say), objects' members in
// their given order. A floating-point number fails with CanonicalSerialization
// "floating-point number at <path> cannot be written; this tool writes none",
// before anything after it is written.
[[nodiscard]] Expected<void, ContractError> write_tree(Sink& sink, Value const& value);

} // namespace quenmark::json
