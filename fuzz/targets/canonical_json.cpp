// Any JSON text: the syntax scanner, simdjson's full parser and the document
// reader agree on whether it is JSON (and the reader words a syntax error as
// the scanner does). A text read as a value is JSON, and the value is the one
// simdjson's full parser reads. Its canonical bytes are
// JSON that canonicalises to the same bytes again; they do not depend on the
// order of any object's members; and they are those of a plain reference
// writer (members sorted by composed key, the canonical escapes), which fails
// exactly when the canonicaliser does. A value without floating-point numbers
// is written in the pretty form and read back as the same value.

#include "json_checks.h"

#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/text.h"

#include <simdjson.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace {

using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;

void append_reference_string(std::string& out, std::string_view text)
{
    constexpr std::string_view digits = "0123456789abcdef";
    out.push_back('"');
    for (char const character : quenmark::json::compose(text)) {
        auto const byte = static_cast<unsigned char>(character);
        switch (byte) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\r':
            out.append("\\r");
            break;
        default:
            if (byte < 0x20) {
                out.append("\\u00");
                out.push_back(digits[byte >> 4U]);
                out.push_back(digits[byte & 0x0FU]);
            } else {
                out.push_back(character);
            }
        }
    }
    out.push_back('"');
}

// The canonical form written the plain way, straight from its description;
// none where it has none (a floating-point number, or two keys of an object
// equal once composed).
std::optional<std::string> reference_canonical(Value const& value)
{
    struct Writer {
        std::optional<std::string> operator()(std::nullptr_t) const { return "null"; }
        std::optional<std::string> operator()(bool flag) const { return flag ? "true" : "false"; }
        std::optional<std::string> operator()(std::uint64_t number) const { return quenmark::decimal(number); }
        std::optional<std::string> operator()(std::int64_t number) const { return quenmark::decimal(number); }
        std::optional<std::string> operator()(double) const { return std::nullopt; }
        std::optional<std::string> operator()(std::string const& text) const
        {
            std::string out;
            append_reference_string(out, text);
            return out;
        }
        std::optional<std::string> operator()(Array const& elements) const
        {
            std::string out = "[";
            for (auto const& element : elements) {
                auto const written = reference_canonical(element);
                if (!written)
                    return std::nullopt;
                if (out.size() > 1)
                    out.push_back(',');
                out += *written;
            }
            return out + "]";
        }
        std::optional<std::string> operator()(Object const& members) const
        {
            std::vector<std::pair<std::string, std::string>> sorted;
            for (auto const& [key, member] : members) {
                auto written = reference_canonical(member);
                if (!written)
                    return std::nullopt;
                sorted.emplace_back(quenmark::json::compose(key), std::move(*written));
            }
            // std::string compares bytes as unsigned values, a prefix first.
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](auto const& left, auto const& right) { return left.first < right.first; });
            std::string out = "{";
            for (std::size_t index = 0; index < sorted.size(); ++index) {
                if (index > 0 && sorted[index - 1].first == sorted[index].first)
                    return std::nullopt;
                if (index > 0)
                    out.push_back(',');
                append_reference_string(out, sorted[index].first);
                out.push_back(':');
                out += sorted[index].second;
            }
            return out + "}";
        }
    };
    return std::visit(Writer {}, value.data);
}

// Whether the value read through the document reader is the one simdjson's
// full parser reads: the same kinds, numbers, strings, and members in order.
// Non-negative integers are unsigned in the value model; the full parser
// reads -0 as a floating-point zero.
bool same_as_parsed(Value const& value, simdjson::dom::element const& element)
{
    using simdjson::dom::element_type;
    switch (element.type()) {
    case element_type::NULL_VALUE:
        return std::holds_alternative<std::nullptr_t>(value.data);
    case element_type::BOOL:
        return std::holds_alternative<bool>(value.data) && std::get<bool>(value.data) == element.get_bool().value_unsafe();
    case element_type::UINT64:
        return std::holds_alternative<std::uint64_t>(value.data)
            && std::get<std::uint64_t>(value.data) == element.get_uint64().value_unsafe();
    case element_type::INT64: {
        std::int64_t const number = element.get_int64().value_unsafe();
        if (number >= 0)
            return std::holds_alternative<std::uint64_t>(value.data)
                && std::get<std::uint64_t>(value.data) == static_cast<std::uint64_t>(number);
        return std::holds_alternative<std::int64_t>(value.data) && std::get<std::int64_t>(value.data) == number;
    }
    case element_type::DOUBLE: {
        double const number = element.get_double().value_unsafe();
        if (auto const* unsigned_value = std::get_if<std::uint64_t>(&value.data))
            return number == 0 && *unsigned_value == 0;
        return std::holds_alternative<double>(value.data) && std::get<double>(value.data) == number;
    }
    case element_type::STRING:
        return std::holds_alternative<std::string>(value.data)
            && std::get<std::string>(value.data) == element.get_string().value_unsafe();
    case element_type::ARRAY: {
        auto const* elements = std::get_if<Array>(&value.data);
        if (elements == nullptr)
            return false;
        simdjson::dom::array const children = element.get_array().value_unsafe();
        std::size_t index = 0;
        for (auto const child : children) {
            if (index >= elements->size() || !same_as_parsed((*elements)[index], child))
                return false;
            ++index;
        }
        return index == elements->size();
    }
    case element_type::OBJECT: {
        auto const* members = std::get_if<Object>(&value.data);
        if (members == nullptr)
            return false;
        simdjson::dom::object const fields = element.get_object().value_unsafe();
        std::size_t index = 0;
        for (auto const field : fields) {
            if (index >= members->size() || (*members)[index].first != field.key
                || !same_as_parsed((*members)[index].second, field.value))
                return false;
            ++index;
        }
        return index == members->size();
    }
    }
    return false;
}

// The same value with the members of every object in reverse order.
Value reversed(Value const& value)
{
    if (auto const* elements = std::get_if<Array>(&value.data)) {
        Array out;
        for (auto const& element : *elements)
            out.push_back(reversed(element));
        return Value(std::move(out));
    }
    if (auto const* members = std::get_if<Object>(&value.data)) {
        Object out;
        for (auto member = members->rbegin(); member != members->rend(); ++member)
            out.emplace_back(member->first, reversed(member->second));
        return Value(std::move(out));
    }
    return value;
}

// Writes a value without floating-point numbers to a sink, members in the
// value's own order.
void write_pretty(quenmark::json::Sink& sink, Value const& value)
{
    struct Writer {
        quenmark::json::Sink& sink;
        void operator()(std::nullptr_t) const { sink.null(); }
        void operator()(bool flag) const { sink.boolean(flag); }
        void operator()(std::uint64_t number) const { sink.unsigned_integer(number); }
        void operator()(std::int64_t number) const { sink.signed_integer(number); }
        void operator()(double) const { fuzz::require(false, "no floating-point number is written"); }
        void operator()(std::string const& text) const { sink.string(text); }
        void operator()(Array const& elements) const
        {
            sink.begin_array();
            for (auto const& element : elements)
                write_pretty(sink, element);
            sink.end_array();
        }
        void operator()(Object const& members) const
        {
            sink.begin_object();
            for (auto const& [key, member] : members) {
                sink.key(key);
                write_pretty(sink, member);
            }
            sink.end_object();
        }
    };
    std::visit(Writer { sink }, value.data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    fuzz::require_agreement(text);

    auto const value = quenmark::json::parse_value(text);
    if (!value) {
        fuzz::require(fuzz::names_a_position(value.error(), text), "a refused text names a place in it");
        return 0;
    }
    fuzz::require_json(text, "a text read as a value is JSON");
    static simdjson::dom::parser parser;
    simdjson::dom::element element;
    // The full parser refuses some numbers the reader takes (see the agreement).
    if (parser.parse(text.data(), text.size()).get(element) == simdjson::SUCCESS)
        fuzz::require(same_as_parsed(*value, element), "the reader reads the value simdjson's full parser reads");

    auto const bytes = quenmark::json::canonical_bytes(*value);
    auto const reference = reference_canonical(*value);
    fuzz::require(bytes.has_value() == reference.has_value(),
                  "the canonicaliser fails exactly where the reference writer has no form");
    if (!bytes) {
        fuzz::require(bytes.error().text().starts_with("canonical serialization failed: "),
                      "a value without canonical form gets the canonical serialisation error");
        return 0;
    }
    fuzz::require(*bytes == *reference, "canonical bytes are those of the reference writer");
    fuzz::require_json(*bytes, "canonical bytes are JSON");
    auto const reread = quenmark::json::parse_value(*bytes);
    fuzz::require(reread.has_value(), "canonical bytes read as a value");
    auto const again = quenmark::json::canonical_bytes(*reread);
    fuzz::require(again.has_value() && *again == *bytes, "canonical bytes canonicalised again are the same bytes");
    auto const from_reversed = quenmark::json::canonical_bytes(reversed(*value));
    fuzz::require(from_reversed.has_value() && *from_reversed == *bytes,
                  "canonical bytes do not depend on the order of members");

    std::string pretty;
    quenmark::json::PrettyWriter writer(pretty);
    write_pretty(writer, *value);
    auto const from_pretty = quenmark::json::parse_value(pretty);
    fuzz::require(from_pretty.has_value() && *from_pretty == *value, "a value written pretty reads back as the same value");
    return 0;
}
