#include "quenmark/time/timestamp.h"

#include "quenmark/text/text.h"

#include <array>
#include <chrono>
#include <limits>

namespace quenmark {

namespace {

constexpr std::int64_t seconds_per_day = 86400;
constexpr std::uint32_t max_nanoseconds = 999'999'999;

constexpr std::int64_t days_since_epoch(int year, unsigned month, unsigned day)
{
    std::chrono::year_month_day const date { std::chrono::year { year }, std::chrono::month { month },
        std::chrono::day { day } };
    return std::chrono::sys_days { date }.time_since_epoch().count();
}

constexpr std::int64_t min_seconds = days_since_epoch(-9999, 1, 1) * seconds_per_day;
constexpr std::int64_t max_seconds = days_since_epoch(9999, 12, 31) * seconds_per_day + seconds_per_day - 1;
// The first instant whose text form is RFC 3339 rather than Unix seconds.
constexpr std::int64_t year_zero_seconds = days_since_epoch(0, 1, 1) * seconds_per_day;

// Reads an RFC 3339 date-time byte by byte. Each failure carries the
// description shown after "invalid RFC 3339 timestamp <quoted input>: ".
class Rfc3339Reader {
public:
    explicit Rfc3339Reader(std::string_view text) : m_text(text) { }

    [[nodiscard]] Expected<std::int64_t, std::string> read()
    {
        int const year = TRY(digits(4, "year"));
        TRY(literal('-'));
        int const month = TRY(digits(2, "month"));
        if (month < 1 || month > 12)
            return out_of_range("month");
        TRY(literal('-'));
        int const day = TRY(digits(2, "day"));
        std::chrono::year_month_day const date { std::chrono::year { year },
            std::chrono::month { static_cast<unsigned>(month) }, std::chrono::day { static_cast<unsigned>(day) } };
        if (day < 1 || !date.ok())
            return out_of_range("day");

        // Any single byte separates the date from the time.
        if (m_position >= m_text.size())
            return could_not_parse("separator");
        ++m_position;

        int const hour = TRY(digits(2, "hour"));
        if (hour > 23)
            return out_of_range("hour");
        TRY(literal(':'));
        int const minute = TRY(digits(2, "minute"));
        if (minute > 59)
            return out_of_range("minute");
        TRY(literal(':'));
        int const second = TRY(digits(2, "second"));
        if (second > 59)
            return out_of_range("second");

        // The fraction of a second is read and discarded.
        if (peek() == '.') {
            ++m_position;
            std::size_t const first_digit = m_position;
            while (is_digit(peek()))
                ++m_position;
            if (m_position == first_digit)
                return could_not_parse("subsecond");
        }

        std::int64_t offset_seconds = 0;
        char const designator = peek();
        if (designator == 'Z' || designator == 'z') {
            ++m_position;
        } else if (designator == '+' || designator == '-') {
            ++m_position;
            int const offset_hour = TRY(digits(2, "offset hour"));
            if (offset_hour > 23)
                return out_of_range("offset hour");
            TRY(literal(':'));
            int const offset_minute = TRY(digits(2, "offset minute"));
            if (offset_minute > 59)
                return out_of_range("offset minute");
            offset_seconds = (offset_hour * 3600 + offset_minute * 60) * (designator == '-' ? -1 : 1);
        } else {
            return could_not_parse("offset hour");
        }

        if (m_position != m_text.size())
            return unexpected(std::string("unexpected trailing characters; the end of input was expected"));

        std::int64_t const local_seconds = std::chrono::sys_days { date }.time_since_epoch().count() * seconds_per_day
            + hour * 3600 + minute * 60 + second;
        std::int64_t const utc_seconds = local_seconds - offset_seconds;
        // Only 9999-12-31 with a negative offset can leave the range; the
        // earliest input, 0000-01-01 with a positive offset, stays inside it.
        if (utc_seconds > max_seconds)
            return unexpected(std::string("the instant converted to UTC lies after 9999-12-31T23:59:59Z"));
        return utc_seconds;
    }

private:
    static bool is_digit(char character) { return character >= '0' && character <= '9'; }

    char peek() const { return m_position < m_text.size() ? m_text[m_position] : '\0'; }

    [[nodiscard]] Expected<int, std::string> digits(std::size_t count, std::string_view component)
    {
        if (m_text.size() - m_position < count)
            return could_not_parse(component);
        int value = 0;
        for (std::size_t index = 0; index < count; ++index) {
            char const character = m_text[m_position + index];
            if (!is_digit(character))
                return could_not_parse(component);
            value = value * 10 + (character - '0');
        }
        m_position += count;
        return value;
    }

    [[nodiscard]] Expected<void, std::string> literal(char expected)
    {
        if (peek() != expected || m_position >= m_text.size())
            return unexpected(std::string("a character literal was not valid"));
        ++m_position;
        return {};
    }

    static Unexpected<std::string> could_not_parse(std::string_view component)
    {
        std::string description = "the '";
        description.append(component);
        description.append("' component could not be parsed");
        return unexpected(std::move(description));
    }

    static Unexpected<std::string> out_of_range(std::string_view component)
    {
        std::string description(component);
        description.append(" was not in range");
        return unexpected(std::move(description));
    }

    std::string_view m_text;
    std::size_t m_position { 0 };
};

void append_padded(std::string& out, unsigned value, std::size_t width)
{
    std::array<char, 10> digits {};
    std::size_t length = 0;
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && length < digits.size());
    while (length < width && length < digits.size())
        digits[length++] = '0';
    while (length > 0)
        out.push_back(digits[--length]);
}

} // namespace

Timestamp Timestamp::now()
{
    auto const since_epoch = std::chrono::system_clock::now().time_since_epoch();
    // Flooring keeps the second that contains the instant, before 1970 too.
    auto const seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
    return from_unix_seconds(static_cast<std::int64_t>(seconds.count()));
}

Timestamp Timestamp::from_unix_seconds(std::int64_t seconds)
{
    if (seconds < min_seconds)
        return min();
    if (seconds > max_seconds)
        return max();
    return Timestamp(seconds, 0);
}

Timestamp Timestamp::min() { return Timestamp(min_seconds, 0); }

Timestamp Timestamp::max() { return Timestamp(max_seconds, max_nanoseconds); }

Timestamp Timestamp::earliest_text_writable() { return Timestamp(year_zero_seconds, 0); }

namespace {

ContractError invalid_timestamp(std::string_view text, std::string_view description)
{
    std::string message = "invalid RFC 3339 timestamp ";
    message.append(quoted(text));
    message.append(": ");
    message.append(description);
    return ContractError::validation_failed(std::move(message));
}

} // namespace

Expected<Timestamp, ContractError> Timestamp::parse(std::string_view text)
{
    auto seconds = Rfc3339Reader(text).read();
    if (!seconds)
        return unexpected(invalid_timestamp(text, seconds.error()));
    return Timestamp(*seconds, 0);
}

Expected<Timestamp, ContractError> Timestamp::parse_stored(std::string_view text)
{
    auto const instant = TRY(parse(text));
    if (!instant.is_text_writable())
        return unexpected(invalid_timestamp(text, "the instant converted to UTC lies before 0000-01-01T00:00:00Z"));
    return instant;
}

std::string Timestamp::to_text() const
{
    std::string out;
    append_text(out);
    return out;
}

void Timestamp::append_text(std::string& out) const
{
    if (!is_text_writable()) {
        append_decimal(out, m_seconds);
        return;
    }
    // Floor division: instants of year 0 lie before the epoch.
    std::int64_t days = m_seconds / seconds_per_day;
    if (m_seconds % seconds_per_day < 0)
        --days;
    auto const second_of_day = static_cast<unsigned>(m_seconds - days * seconds_per_day);
    std::chrono::year_month_day const date { std::chrono::sys_days { std::chrono::days { days } } };

    out.reserve(out.size() + 30);
    append_padded(out, static_cast<unsigned>(static_cast<int>(date.year())), 4);
    out.push_back('-');
    append_padded(out, static_cast<unsigned>(date.month()), 2);
    out.push_back('-');
    append_padded(out, static_cast<unsigned>(date.day()), 2);
    out.push_back('T');
    append_padded(out, second_of_day / 3600, 2);
    out.push_back(':');
    append_padded(out, second_of_day / 60 % 60, 2);
    out.push_back(':');
    append_padded(out, second_of_day % 60, 2);
    if (m_nanoseconds != 0) {
        std::string fraction;
        append_padded(fraction, m_nanoseconds, 9);
        while (fraction.back() == '0')
            fraction.pop_back();
        out.push_back('.');
        out.append(fraction);
    }
    out.push_back('Z');
}

Timestamp Timestamp::plus_seconds(std::int64_t seconds) const
{
    // Both bounds are far from the limits of int64, so the differences below
    // cannot overflow while the sum itself might.
    if (seconds > max_seconds - m_seconds)
        return max();
    if (seconds < min_seconds - m_seconds)
        return min();
    return Timestamp(m_seconds + seconds, m_nanoseconds);
}

bool Timestamp::is_text_writable() const { return m_seconds >= year_zero_seconds; }

Timestamp Timestamp::clamped_to_text_writable() const
{
    return is_text_writable() ? *this : earliest_text_writable();
}

std::int64_t days_to_seconds(std::int64_t days)
{
    std::int64_t seconds = 0;
    if (__builtin_mul_overflow(days, seconds_per_day, &seconds))
        return days < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    return seconds;
}

} // namespace quenmark
