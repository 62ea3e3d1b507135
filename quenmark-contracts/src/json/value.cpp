// The value model, and its walk through the canonical writer's two forms and
// the other sinks.

#include "quenmark/json/value.h"

#include "quenmark/text/text.h"

#include "json/strings.h"

#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>

namespace quenmark::json {

namespace {

// What a walk writes into: the canonical writer in one of its forms, or any
// other sink (the pretty writer).
enum class Target : std::uint8_t { Signing, Jcs, Plain };

// The largest integer magnitude that an IEEE double, and so an RFC 8785
// writer, holds exactly along with all those below it: 2^53 - 1.
constexpr std::uint64_t jcs_integer_limit = (std::uint64_t { 1 } << 53U) - 1;

// Feeds a value to a sink. Floating-point numbers are refused here, with the
// path where they stand, and in the JCS form integers beyond 2^53 - 1 too;
// the path is kept as plain segments (one vector pushed and popped) and
// turned into text only for the message.
template<Target target>
class ValueWalk {
public:
    using Writer = std::conditional_t<target == Target::Plain, Sink, CanonicalWriter>;

    explicit ValueWalk(Writer& writer) : m_writer(writer) { m_path.reserve(16); }

    [[nodiscard]] Expected<void, ContractError> walk(Value const& value) { return std::visit(*this, value.data); }

    [[nodiscard]] Expected<void, ContractError> operator()(std::nullptr_t)
    {
        m_writer.null();
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(bool value)
    {
        m_writer.boolean(value);
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(std::uint64_t value)
    {
        if (target == Target::Jcs && value > jcs_integer_limit)
            return integer_refused();
        m_writer.unsigned_integer(value);
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(std::int64_t value)
    {
        if (target == Target::Jcs && value < -static_cast<std::int64_t>(jcs_integer_limit))
            return integer_refused();
        m_writer.signed_integer(value);
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(double)
    {
        switch (target) {
        case Target::Signing:
            return unexpected(ContractError::canonical_serialization("floating-point number at " + path_text()
                + " cannot be canonicalised; use an integer or a decimal string in signed contracts"));
        case Target::Jcs:
            return unexpected(ContractError::canonical_serialization(
                "floating-point number at " + path_text() + " is not supported in RFC 8785 form; this tool writes none"));
        case Target::Plain:
            return unexpected(ContractError::canonical_serialization(
                "floating-point number at " + path_text() + " cannot be written; this tool writes none"));
        }
        __builtin_unreachable();
    }
    [[nodiscard]] Expected<void, ContractError> operator()(std::string const& text)
    {
        m_writer.string(text);
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(Array const& array)
    {
        m_writer.begin_array();
        for (std::size_t index = 0; index < array.size(); ++index) {
            m_path.push_back(Segment { {}, index, true });
            TRY(walk(array[index]));
            m_path.pop_back();
        }
        m_writer.end_array();
        return {};
    }
    [[nodiscard]] Expected<void, ContractError> operator()(Object const& object)
    {
        bool const in_order = target != Target::Plain && keys_in_order(object);
        m_writer.begin_object();
        for (auto const& [key, member] : object) {
            if constexpr (target != Target::Plain) {
                if (in_order)
                    m_writer.key_in_order(key);
                else
                    m_writer.key(key);
            } else {
                m_writer.key(key);
            }
            m_path.push_back(Segment { key, 0, false });
            TRY(walk(member));
            m_path.pop_back();
        }
        m_writer.end_object();
        if constexpr (target != Target::Plain)
            return m_writer.status();
        return {};
    }

private:
    // An object key or an array index.
    struct Segment {
        std::string_view key;
        std::size_t index;
        bool is_index;
    };

    [[nodiscard]] Expected<void, ContractError> integer_refused() const
    {
        return unexpected(ContractError::canonical_serialization(
            "integer at " + path_text() + " is beyond 2^53 - 1 in magnitude, which RFC 8785 cannot write exactly"));
    }

    // Keys that are plain ASCII and strictly ascending already are written as
    // they stand, with nothing to remember for sorting. ASCII keys sort alike
    // in both canonical forms.
    static bool keys_in_order(Object const& object)
    {
        for (std::size_t index = 0; index < object.size(); ++index) {
            std::string const& key = object[index].first;
            if (!detail::is_ascii(key) || !detail::needs_no_escape(key))
                return false;
            if (index != 0 && !(object[index - 1].first < key))
                return false;
        }
        return true;
    }

    // The segments joined with "." (keys composed in the signing form), or "<root>".
    std::string path_text() const
    {
        if (m_path.empty())
            return "<root>";
        std::string text;
        for (Segment const& segment : m_path) {
            if (&segment != m_path.data())
                text.push_back('.');
            if (segment.is_index)
                append_decimal(text, std::uint64_t { segment.index });
            else if (target == Target::Signing)
                text.append(compose(segment.key));
            else
                text.append(segment.key);
        }
        return text;
    }

    Writer& m_writer;
    std::vector<Segment> m_path;
};

} // namespace

Value::Value(std::int64_t value)
{
    if (value >= 0)
        data = static_cast<std::uint64_t>(value);
    else
        data = value;
}

Value const* find_member(Object const& object, std::string_view name)
{
    for (auto const& [key, value] : object) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

Expected<std::string, ContractError> canonical_bytes(Value const& value)
{
    std::string out;
    out.reserve(1024);
    CanonicalWriter writer(out);
    TRY(ValueWalk<Target::Signing>(writer).walk(value));
    return out;
}

Expected<std::string, ContractError> jcs_bytes(Value const& value)
{
    std::string out;
    out.reserve(1024);
    CanonicalWriter writer(out, CanonicalForm::Jcs);
    TRY(ValueWalk<Target::Jcs>(writer).walk(value));
    return out;
}

Expected<void, ContractError> write_tree(Sink& sink, Value const& value)
{
    return ValueWalk<Target::Plain>(sink).walk(value);
}

} // namespace quenmark::json
