#pragma once

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenmark {

// A 128-bit UUID, bytes in the order of its text form.
struct Uuid {
    std::array<std::uint8_t, 16> bytes {};

    // A random version-4 UUID from the operating system's random source; stops
    // the process if that source fails.
    static Uuid mint();

    // Accepts the 32-digit, hyphenated, braced and "urn:uuid:" shapes in either
    // letter case; on failure returns the parser's message (for example
    // "invalid length: found 3").
    [[nodiscard]] static Expected<Uuid, std::string> parse(std::string_view text);

    // Lowercase hyphenated form, 36 characters.
    std::string to_string() const;
    void append_to(std::string& out) const;
    // First 8 lowercase hex digits followed by U+2026, as the short debug form.
    std::string short_form() const;

    friend auto operator<=>(Uuid const&, Uuid const&) = default;
};

// A short validated text identifier: 1 to 64 bytes of [a-z0-9-], no hyphen at
// either end and no two hyphens in a row.
class Slug {
public:
    // Empty: the member of a record that is not yet read or built.
    Slug() = default;
    // On failure: InvalidIdentifier of kind "Slug" with the first broken rule.
    [[nodiscard]] static Expected<Slug, ContractError> parse(std::string_view text);
    std::string const& text() const { return m_text; }
    friend bool operator==(Slug const&, Slug const&) = default;

private:
    explicit Slug(std::string text) : m_text(std::move(text)) { }
    std::string m_text;
};

} // namespace quenmark
