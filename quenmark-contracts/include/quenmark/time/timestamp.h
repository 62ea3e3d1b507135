#pragma once

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenmark {

// A UTC instant between -9999-01-01T00:00:00Z and 9999-12-31T23:59:59.999999999Z.
// Every value read from the clock or from text has whole seconds; only the
// saturated maximum of plus_seconds carries a fraction.
class Timestamp {
public:
    // The Unix epoch; records overwrite it when they are read or built.
    constexpr Timestamp() = default;
    // Current wall-clock time in UTC, fraction of a second truncated.
    static Timestamp now();
    // Seconds since 1970-01-01T00:00:00Z, clamped to the representable range.
    static Timestamp from_unix_seconds(std::int64_t seconds);
    static Timestamp min();
    static Timestamp max(); // 9999-12-31T23:59:59.999999999Z
    // 0000-01-01T00:00:00Z: the earliest instant whose text form parse()
    // reads back. An earlier one is written as Unix seconds, which no reader
    // accepts.
    static Timestamp earliest_text_writable();

    // RFC 3339: full date, any one separator byte, time with seconds, optional
    // fraction (truncated), Z/z or +hh:mm/-hh:mm (converted to UTC). Failure:
    // ValidationFailed "invalid RFC 3339 timestamp " + quoted input + ": " + description.
    [[nodiscard]] static Expected<Timestamp, ContractError> parse(std::string_view text);
    // parse() for an instant read from a file that is written back: one that
    // lies before 0000-01-01T00:00:00Z once converted to UTC (a year 0000
    // date with a positive offset) would be written as Unix seconds, which
    // no reader accepts, so it is refused with the description "the instant
    // converted to UTC lies before 0000-01-01T00:00:00Z".
    [[nodiscard]] static Expected<Timestamp, ContractError> parse_stored(std::string_view text);

    // RFC 3339 with "Z" (fraction only when non-zero, trailing zeros removed),
    // or signed Unix seconds for years before 0.
    std::string to_text() const;
    void append_text(std::string& out) const;

    // That many seconds later (earlier when negative), saturating at min()/max().
    Timestamp plus_seconds(std::int64_t seconds) const;

    std::int64_t unix_seconds() const { return m_seconds; }
    std::uint32_t nanoseconds() const { return m_nanoseconds; }
    // True when to_text() gives RFC 3339 that parse() reads back (year 0 or later).
    bool is_text_writable() const;
    // This instant, or earliest_text_writable() when it lies before that.
    Timestamp clamped_to_text_writable() const;

    bool is_before(Timestamp other) const { return *this < other; }
    friend auto operator<=>(Timestamp const&, Timestamp const&) = default;

private:
    constexpr Timestamp(std::int64_t seconds, std::uint32_t nanoseconds)
        : m_seconds(seconds)
        , m_nanoseconds(nanoseconds)
    {
    }
    std::int64_t m_seconds { 0 };
    std::uint32_t m_nanoseconds { 0 };
};

// Days as seconds, saturating at the ends of the signed 64-bit range.
std::int64_t days_to_seconds(std::int64_t days);

} // namespace quenmark
