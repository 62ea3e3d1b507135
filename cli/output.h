#pragma once

// Result lines on standard output, report lines on standard error, and the
// joining of the parts of a line.

#include "context.h"

#include "quenmark/text/text.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace corvellactl {

// Appends each part in turn: text and characters as they stand, an unsigned
// number in decimal, an identifier or an instant in its text form.
template<typename... Parts>
void append_parts(std::string& out, Parts const&... parts)
{
    auto const append_part = [&out]<typename Part>(Part const& part) {
        if constexpr (std::is_same_v<Part, char>)
            out.push_back(part);
        else if constexpr (std::is_unsigned_v<Part>)
            quenmark::append_decimal(out, std::uint64_t { part });
        else if constexpr (requires { part.append_to(out); })
            part.append_to(out);
        else if constexpr (requires { part.append_text(out); })
            part.append_text(out);
        else
            out.append(part);
    };
    (append_part(parts), ...);
}

// The parts joined as append_parts() writes them.
template<typename... Parts>
std::string concat(Parts const&... parts)
{
    std::string out;
    append_parts(out, parts...);
    return out;
}

// A text that comes from a file, as a result line shows it: as it stands
// when it is printable text, otherwise in quoted form, so that it can never
// break the line it is printed in.
std::string shown(std::string_view text);

// One result's JSON object, written compactly on one line, its members in
// the order they are added.
class JsonObject {
public:
    // Opens the object at the end of `out`; close() ends it.
    explicit JsonObject(std::string& out);
    void close() { m_out.push_back('}'); }

    JsonObject& text(std::string_view name, std::string_view value);
    JsonObject& text(std::string_view name, char const* value) { return text(name, std::string_view(value)); }
    // An identifier or an instant, in its text form.
    template<typename Value>
        requires requires(Value const& value, std::string& out) { value.append_to(out); }
                 || requires(Value const& value, std::string& out) { value.append_text(out); }
    JsonObject& text(std::string_view name, Value const& value)
    {
        key(name);
        m_out.push_back('"');
        append_parts(m_out, value);
        m_out.push_back('"');
        return *this;
    }
    // The value's text, or null when it is absent.
    template<typename Value>
    JsonObject& text(std::string_view name, std::optional<Value> const& value)
    {
        if (!value)
            return null(name);
        return text(name, *value);
    }
    JsonObject& texts(std::string_view name, std::span<std::string const> values);
    JsonObject& number(std::string_view name, std::uint64_t value);
    JsonObject& number(std::string_view name, std::int64_t value);
    JsonObject& boolean(std::string_view name, bool value);
    JsonObject& null(std::string_view name);
    // A value that is JSON text already.
    JsonObject& raw(std::string_view name, std::string_view json);
    // A nested object, filled by `fill(JsonObject&)`.
    template<typename Fill>
    JsonObject& object(std::string_view name, Fill const& fill)
    {
        key(name);
        JsonObject nested(m_out);
        fill(nested);
        nested.close();
        return *this;
    }
    // An array of objects, one per item, each filled by `fill(JsonObject&, item)`.
    template<typename Items, typename Fill>
    JsonObject& objects(std::string_view name, Items const& items, Fill const& fill)
    {
        key(name);
        m_out.push_back('[');
        bool first = true;
        for (auto const& item : items) {
            if (!std::exchange(first, false))
                m_out.push_back(',');
            JsonObject element(m_out);
            fill(element, item);
            element.close();
        }
        m_out.push_back(']');
        return *this;
    }

private:
    void key(std::string_view name);
    std::string& m_out;
    bool m_first { true };
};

// The result lines of a command: each record or fact as the command words it
// in text, or with --json as one JSON object per line (JSON Lines), whose
// "type" member says what it is.
class Results {
public:
    explicit Results(OutputFormat format) : m_format(format) { }

    bool json() const { return m_format == OutputFormat::JsonLines; }

    // One record or fact: `text` is its line(s), ending in a line feed; with
    // --json, `fill(JsonObject&)` adds the members after "type".
    template<typename Fill>
    void add(std::string_view text, std::string_view type, Fill const& fill)
    {
        if (!json()) {
            m_out.append(text);
            return;
        }
        JsonObject object(m_out);
        object.text("type", type);
        fill(object);
        object.close();
        m_out.push_back('\n');
    }

    std::string const& bytes() const { return m_out; }

private:
    OutputFormat m_format;
    std::string m_out;
};

// Writes the text to standard output at once; Io when it cannot be written.
// On a terminal, control characters and bidirectional overrides are shown
// escaped (see shown_on_terminal()); a pipe or a file gets the bytes as they
// stand.
[[nodiscard]] CommandResult<void> print(std::string_view text);

// Writes the text to standard error at once, as print() writes to standard
// output; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print_to_stderr(std::string_view text);

// Writes the results to standard output at once; Io when they cannot be written.
[[nodiscard]] CommandResult<void> print(Results const& results);

// Prints the results of a change that is stored already. A failure to print
// them cannot undo the change, so it is not reported as a failed change but
// as Stored: `stored` (what was stored, "the change was stored" by default)
// + ", but its result could not be printed: " + the Io error's text.
[[nodiscard]] CommandResult<void> print_after_commit(Results const& results,
                                                     std::string_view stored = "the change was stored");

// The text as a terminal should show it: the control characters (C0 but the
// line feed, DEL and C1) and the bidirectional embeddings, overrides and
// isolates (U+202A to U+202E, U+2066 to U+2069), which could move the cursor,
// retitle the window or reorder what is shown, are written as JSON escapes
// ("\u001b", "\u202e"); everything else stands as it is. Inside a JSON string
// such an escape means the same character, so JSON Lines stay JSON.
std::string shown_on_terminal(std::string_view text);

} // namespace corvellactl
