#include "quenmark/time/timestamp.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenmark::Timestamp;

// Parses text that the test knows to be valid.
Timestamp at(std::string_view text)
{
    auto const parsed = Timestamp::parse(text);
    EXPECT_TRUE(test_support::has_value(parsed)) << text;
    return parsed ? *parsed : Timestamp {};
}

struct TextCase {
    std::string_view input;
    std::string_view expected;
};

TEST(TimestampParse, StoredTextsRoundTrip)
{
    for (std::string_view const text : { "2026-12-08T04:00:09Z", "1970-01-01T00:00:00Z", "1969-12-31T23:59:59Z",
             "2024-02-29T12:00:00Z", "0000-01-01T00:00:00Z", "0000-03-01T00:00:00Z", "9999-12-31T23:59:59Z" })
        EXPECT_EQ(at(text).to_text(), text);
}

TEST(TimestampParse, NormalisesToWholeSecondsInUtc)
{
    std::vector<TextCase> const cases {
        // The fraction is truncated, never rounded.
        { "2024-05-01T12:30:45.999999999Z", "2024-05-01T12:30:45Z" },
        { "2024-05-01T12:30:45.5Z", "2024-05-01T12:30:45Z" },
        { "2024-05-01T12:30:45.00000000000000000001Z", "2024-05-01T12:30:45Z" },
        // Offsets are converted to UTC.
        { "2024-05-01T12:30:45.75+02:00", "2024-05-01T10:30:45Z" },
        { "2024-05-01T12:30:45.1-05:30", "2024-05-01T18:00:45Z" },
        { "2024-01-01T00:30:00+01:00", "2023-12-31T23:30:00Z" },
        { "2024-02-28T23:00:00-01:00", "2024-02-29T00:00:00Z" },
        { "2024-05-01T12:30:45+00:00", "2024-05-01T12:30:45Z" },
        { "2024-05-01T12:30:45-00:00", "2024-05-01T12:30:45Z" },
        // Any single byte separates date and time; z may be lowercase.
        { "2024-05-01 12:30:45z", "2024-05-01T12:30:45Z" },
        { "2024-05-01t12:30:45Z", "2024-05-01T12:30:45Z" },
        { "2024-05-01x12:30:45Z", "2024-05-01T12:30:45Z" },
        // Year 0 with a positive offset lies in year -1, written as Unix seconds.
        { "0000-01-01T00:00:00+01:00", "-62167222800" },
        { "9999-12-31T23:59:59+23:59", "9999-12-31T00:00:59Z" },
    };
    for (auto const& [input, expected] : cases)
        EXPECT_EQ(at(input).to_text(), expected) << input;
    EXPECT_EQ(at("2024-05-01T12:30:45.999999999Z"), at("2024-05-01T12:30:45Z"));
}

TEST(TimestampParse, RejectsWithTheParserDescription)
{
    std::vector<TextCase> const cases {
        { "", "the 'year' component could not be parsed" },
        { "24-05-01T12:30:45Z", "the 'year' component could not be parsed" },
        { "-62167222800", "the 'year' component could not be parsed" },
        { "2024/05/01T12:30:45Z", "a character literal was not valid" },
        { "2024", "a character literal was not valid" },
        { "2024-5-01T12:30:45Z", "the 'month' component could not be parsed" },
        { "2024-00-01T12:30:45Z", "month was not in range" },
        { "2024-13-01T12:30:45Z", "month was not in range" },
        { "2024-05-1T12:30:45Z", "the 'day' component could not be parsed" },
        { "2024-05-00T12:30:45Z", "day was not in range" },
        { "2024-02-30T00:00:00Z", "day was not in range" },
        { "2023-02-29T00:00:00Z", "day was not in range" },
        { "2024-04-31T00:00:00Z", "day was not in range" },
        { "2024-05-01", "the 'separator' component could not be parsed" },
        { "2024-05-01T", "the 'hour' component could not be parsed" },
        { "2024-05-01TT12:30:45Z", "the 'hour' component could not be parsed" },
        { "2024-05-01T24:00:00Z", "hour was not in range" },
        { "2024-05-01T12-30:45Z", "a character literal was not valid" },
        { "2024-05-01T12:60:00Z", "minute was not in range" },
        { "2024-05-01T12:30", "a character literal was not valid" },
        { "2024-05-01T12:30:4Z", "the 'second' component could not be parsed" },
        { "2024-05-01T12:30:60Z", "second was not in range" },
        { "2024-05-01T12:30:45.Z", "the 'subsecond' component could not be parsed" },
        { "2024-05-01T12:30:45", "the 'offset hour' component could not be parsed" },
        { "2024-05-01T12:30:45 Z", "the 'offset hour' component could not be parsed" },
        { "2024-05-01T12:30:45+2:00", "the 'offset hour' component could not be parsed" },
        { "2024-05-01T12:30:45+24:00", "offset hour was not in range" },
        { "2024-05-01T12:30:45+0200", "a character literal was not valid" },
        { "2024-05-01T12:30:45+02:", "the 'offset minute' component could not be parsed" },
        { "2024-05-01T12:30:45+02:60", "offset minute was not in range" },
        { "2024-05-01T12:30:45Zx", "unexpected trailing characters; the end of input was expected" },
        { "2024-05-01T12:30:45+02:00:00", "unexpected trailing characters; the end of input was expected" },
        // Converting to UTC would leave year 9999.
        { "9999-12-31T23:30:00-01:00", "the instant converted to UTC lies after 9999-12-31T23:59:59Z" },
    };
    for (auto const& [input, description] : cases) {
        auto const parsed = Timestamp::parse(input);
        std::string expected = "validation failed: invalid RFC 3339 timestamp \"";
        expected.append(input);
        expected.append("\": ");
        expected.append(description);
        EXPECT_EQ(test_support::error_text(parsed), expected);
        if (!parsed) {
            EXPECT_EQ(parsed.error().kind(), quenmark::ContractError::Kind::ValidationFailed);
        }
    }
}

TEST(TimestampParse, QuotesTheInputInTheMessage)
{
    std::vector<TextCase> const cases {
        { "2024-05-01\t12:30:45",
            "validation failed: invalid RFC 3339 timestamp \"2024-05-01\\t12:30:45\": "
            "the 'offset hour' component could not be parsed" },
        { "2024-05-01T12:30:45Z\n",
            "validation failed: invalid RFC 3339 timestamp \"2024-05-01T12:30:45Z\\n\": "
            "unexpected trailing characters; the end of input was expected" },
        { "\"2024\"", "validation failed: invalid RFC 3339 timestamp \"\\\"2024\\\"\": "
                      "the 'year' component could not be parsed" },
    };
    for (auto const& [input, expected] : cases)
        EXPECT_EQ(test_support::error_text(Timestamp::parse(input)), expected);
}

TEST(TimestampText, RejectsItsOwnTextBeforeYearZero)
{
    Timestamp const before_year_zero = at("0000-01-01T00:00:00+01:00");
    EXPECT_FALSE(before_year_zero.is_text_writable());
    EXPECT_TRUE(at("0000-01-01T00:00:00Z").is_text_writable());
    EXPECT_FALSE(Timestamp::parse(before_year_zero.to_text()).has_value());
}

// Instants read from files are written back, so reading them refuses the
// ones whose text form would be Unix seconds, and only those.
TEST(TimestampParse, StoredInstantsAreThoseItsTextFormWritesBack)
{
    std::string const before_year_zero = "the instant converted to UTC lies before 0000-01-01T00:00:00Z";
    std::vector<TextCase> const cases {
        { "0000-01-01T00:00:00+00:01", before_year_zero },
        { "0000-01-01T00:30:00+01:00", before_year_zero },
        { "0000-01-01T23:58:59+23:59", before_year_zero },
        { "0000-01-01T00:00:00Z", "0000-01-01T00:00:00Z" },
        { "0000-01-01T01:00:00+01:00", "0000-01-01T00:00:00Z" },
        { "0000-01-01T00:00:00-23:59", "0000-01-01T23:59:00Z" },
        { "9999-12-31T23:59:59.999999999Z", "9999-12-31T23:59:59Z" },
        { "9999-12-31T23:30:00-01:00", "the instant converted to UTC lies after 9999-12-31T23:59:59Z" },
        { "x", "the 'year' component could not be parsed" },
    };
    for (auto const& [input, expected] : cases) {
        auto const stored = Timestamp::parse_stored(input);
        if (expected.find(' ') == std::string_view::npos) {
            ASSERT_TRUE(stored.has_value()) << input;
            EXPECT_EQ(stored->to_text(), expected);
            auto const again = Timestamp::parse_stored(stored->to_text());
            ASSERT_TRUE(again.has_value()) << input;
            EXPECT_EQ(*again, *stored);
            continue;
        }
        EXPECT_EQ(test_support::error_text(stored),
                  "validation failed: invalid RFC 3339 timestamp \"" + std::string(input) + "\": "
                      + std::string(expected));
    }
}

TEST(TimestampText, ClampsToTheEarliestWritableInstant)
{
    EXPECT_EQ(Timestamp::earliest_text_writable().to_text(), "0000-01-01T00:00:00Z");
    // An instant one second earlier is the last one written as Unix seconds.
    EXPECT_EQ(Timestamp::earliest_text_writable().plus_seconds(-1).to_text(), "-62167219201");
    std::vector<TextCase> const cases {
        { "-62167219201", "0000-01-01T00:00:00Z" },
        { "-62167219200", "0000-01-01T00:00:00Z" },
        { "-62167219199", "0000-01-01T00:00:01Z" },
        { "0", "1970-01-01T00:00:00Z" },
        { "-9223372036854775807", "0000-01-01T00:00:00Z" },
    };
    for (auto const& [seconds, expected] : cases) {
        auto const instant = Timestamp::from_unix_seconds(std::stoll(std::string(seconds)));
        EXPECT_EQ(instant.clamped_to_text_writable().to_text(), expected) << seconds;
    }
    EXPECT_EQ(Timestamp::max().clamped_to_text_writable(), Timestamp::max());
}

TEST(DaysToSeconds, MultipliesAndSaturates)
{
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    struct DaysCase {
        std::int64_t days;
        std::int64_t seconds;
    };
    std::vector<DaysCase> const cases {
        { 0, 0 }, { 1, 86'400 }, { -1, -86'400 }, { 365, 31'536'000 },
        // The largest day counts that still fit, and the first that do not.
        { max / 86'400, max / 86'400 * 86'400 }, { max / 86'400 + 1, max },
        { min / 86'400, min / 86'400 * 86'400 }, { min / 86'400 - 1, min },
        { max, max }, { min, min },
    };
    for (auto const& [days, seconds] : cases)
        EXPECT_EQ(quenmark::days_to_seconds(days), seconds) << days;
}

TEST(TimestampPlusSeconds, MovesByCalendarDaysAndSaturates)
{
    constexpr std::int64_t day = 86400;
    struct PlusCase {
        std::string_view start;
        std::int64_t seconds;
        std::string_view expected;
    };
    std::vector<PlusCase> const cases {
        { "2024-05-01T12:30:45Z", 0, "2024-05-01T12:30:45Z" },
        { "2024-02-28T10:00:00Z", 2 * day, "2024-03-01T10:00:00Z" },
        { "2023-02-28T10:00:00Z", 2 * day, "2023-03-02T10:00:00Z" },
        { "2023-03-01T00:00:00Z", 365 * day, "2024-02-29T00:00:00Z" },
        { "2024-12-31T23:59:59Z", 1, "2025-01-01T00:00:00Z" },
        { "1970-01-01T00:00:00Z", -1, "1969-12-31T23:59:59Z" },
        { "2024-03-01T00:00:00Z", -day, "2024-02-29T00:00:00Z" },
        { "9999-12-31T23:59:58Z", 1, "9999-12-31T23:59:59Z" },
        { "9999-12-31T23:59:59Z", 1, "9999-12-31T23:59:59.999999999Z" },
        { "2024-05-01T12:30:45Z", 1'000'000'000'000, "9999-12-31T23:59:59.999999999Z" },
        { "2024-05-01T12:30:45Z", std::numeric_limits<std::int64_t>::max(), "9999-12-31T23:59:59.999999999Z" },
        // -9999-01-01T00:00:00Z, which only the Unix seconds form can show.
        { "2024-05-01T12:30:45Z", std::numeric_limits<std::int64_t>::min(), "-377705116800" },
        { "0000-01-01T00:00:00Z", -1, "-62167219201" },
    };
    for (auto const& [start, seconds, expected] : cases)
        EXPECT_EQ(at(start).plus_seconds(seconds).to_text(), expected) << start << " + " << seconds;

    EXPECT_EQ(Timestamp::max().plus_seconds(1), Timestamp::max());
    EXPECT_EQ(Timestamp::min().plus_seconds(-1), Timestamp::min());
    EXPECT_EQ(Timestamp::max().unix_seconds(), 253402300799);
    EXPECT_EQ(Timestamp::max().nanoseconds(), 999'999'999U);
}

TEST(TimestampUnixSeconds, ConvertsAndClamps)
{
    EXPECT_EQ(Timestamp::from_unix_seconds(0).to_text(), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Timestamp::from_unix_seconds(1'700'000'000).to_text(), "2023-11-14T22:13:20Z");
    EXPECT_EQ(Timestamp::from_unix_seconds(-1).to_text(), "1969-12-31T23:59:59Z");
    EXPECT_EQ(Timestamp::from_unix_seconds(std::numeric_limits<std::int64_t>::max()), Timestamp::max());
    EXPECT_EQ(Timestamp::from_unix_seconds(std::numeric_limits<std::int64_t>::min()), Timestamp::min());
    EXPECT_EQ(Timestamp {}.to_text(), "1970-01-01T00:00:00Z");
}

TEST(TimestampCompare, OrdersAsInstants)
{
    Timestamp const earlier = at("2024-05-01T12:30:45+02:00");
    Timestamp const later = at("2024-05-01T11:00:00Z");
    EXPECT_TRUE(earlier.is_before(later));
    EXPECT_FALSE(later.is_before(earlier));
    EXPECT_FALSE(earlier.is_before(earlier));
    EXPECT_EQ(at("2024-05-01T12:30:45+02:00"), at("2024-05-01T10:30:45Z"));
    EXPECT_TRUE(Timestamp::min().is_before(at("0000-01-01T00:00:00Z")));
    EXPECT_TRUE(at("9999-12-31T23:59:59Z").is_before(Timestamp::max()));
}

TEST(TimestampNow, HasWholeSecondsAndRoundTrips)
{
    Timestamp const now = Timestamp::now();
    EXPECT_EQ(now.nanoseconds(), 0U);
    std::string const text = now.to_text();
    EXPECT_EQ(text.find('.'), std::string::npos);
    EXPECT_EQ(at(text), now);
}

} // namespace
