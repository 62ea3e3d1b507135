// Instants as text: every instant parse() accepts is written in a form that
// parses to the same instant; parse_stored() accepts exactly the instants of
// parse() that are written as RFC 3339, and what it accepts is written back
// byte for byte once read again. A refusal quotes the input after the fixed
// prefix. A parsed instant moved by a number of seconds stays inside the
// representable range, and moves back exactly when it did not saturate.

#include "fuzz_support.h"

#include "quenmark/text/text.h"
#include "quenmark/time/timestamp.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    using quenmark::Timestamp;
    auto const text = fuzz::text_of(data, size);
    auto const parsed = Timestamp::parse(text);
    auto const stored = Timestamp::parse_stored(text);
    if (!parsed) {
        fuzz::require(!stored, "parse_stored refuses what parse refuses");
        std::string const prefix = "validation failed: invalid RFC 3339 timestamp " + quenmark::quoted(text) + ": ";
        fuzz::require(parsed.error().text().starts_with(prefix), "a refused instant is quoted after the fixed prefix");
        return 0;
    }
    fuzz::require(parsed->nanoseconds() == 0, "a parsed instant has whole seconds");
    fuzz::require(stored.has_value() == parsed->is_text_writable(),
                  "parse_stored accepts exactly the instants written as RFC 3339");
    if (stored) {
        fuzz::require(*stored == *parsed, "parse_stored reads the instant parse reads");
        std::string const written = stored->to_text();
        auto const reread = Timestamp::parse_stored(written);
        fuzz::require(reread.has_value() && *reread == *stored, "a written instant reads back as the same instant");
        fuzz::require(reread->to_text() == written, "an instant read back is written again byte for byte");
    }

    constexpr std::int64_t year = 365 * 86400;
    for (std::int64_t const seconds : { std::int64_t { 1 }, std::int64_t { -1 }, 86400 * std::int64_t { 31 }, -year,
                                        10'000 * year, -10'000 * year, INT64_MAX, INT64_MIN }) {
        Timestamp const moved = parsed->plus_seconds(seconds);
        fuzz::require(Timestamp::min() <= moved && moved <= Timestamp::max(), "moving an instant stays in range");
        if (seconds != INT64_MIN && moved != Timestamp::min() && moved != Timestamp::max())
            fuzz::require(moved.plus_seconds(-seconds) == *parsed, "an instant moved and moved back is the same");
    }
    return 0;
}
