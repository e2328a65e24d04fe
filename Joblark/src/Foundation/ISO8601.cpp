#include "joblark/Foundation/ISO8601.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

// The grammar is fixed-width, so it is scanned by hand: ICU's pattern parser is lenient in ways
// that matter here (it takes non-ASCII digits and variable field widths, and caps the fraction at
// milliseconds). The calendar arithmetic is the standard library's proleptic Gregorian calendar.

namespace joblark::ISO8601 {

namespace {

constexpr std::int64_t secondsPerDay = 86400;
// 0000-01-01T00:00:00Z and 10000-01-01T00:00:00Z.
constexpr double earliestFormattable = -62167219200.0;
constexpr double endOfFormattable = 253402300800.0;

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    bool literal(char c) {
        if (!peek(c))
            return false;
        ++pos_;
        return true;
    }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    // Exactly `count` ASCII digits.
    bool number(int count, int& out) {
        if (text_.size() - pos_ < static_cast<std::size_t>(count))
            return false;
        int value = 0;
        for (int i = 0; i < count; ++i) {
            const char c = text_[pos_ + static_cast<std::size_t>(i)];
            if (!isDigit(c))
                return false;
            value = value * 10 + (c - '0');
        }
        pos_ += static_cast<std::size_t>(count);
        out = value;
        return true;
    }
    // 1 to 9 digits after the decimal point, as a fraction of a second.
    bool fraction(double& out) {
        std::int64_t numerator = 0;
        std::int64_t denominator = 1;
        int count = 0;
        while (pos_ < text_.size() && isDigit(text_[pos_])) {
            if (++count > 9)
                return false;
            numerator = numerator * 10 + (text_[pos_] - '0');
            denominator *= 10;
            ++pos_;
        }
        if (count == 0)
            return false;
        out = static_cast<double>(numerator) / static_cast<double>(denominator);
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

} // namespace

std::optional<Date> parse(std::string_view text, ISO8601Options options) {
    Scanner scan(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!(scan.number(4, year) && scan.literal('-') && scan.number(2, month) && scan.literal('-') &&
          scan.number(2, day) && scan.literal('T') && scan.number(2, hour) && scan.literal(':') &&
          scan.number(2, minute) && scan.literal(':') && scan.number(2, second)))
        return std::nullopt;

    double fraction = 0;
    const bool hasFraction = scan.literal('.');
    if (hasFraction != (options == ISO8601Options::internetDateTimeWithFractionalSeconds))
        return std::nullopt;
    if (hasFraction && !scan.fraction(fraction))
        return std::nullopt;

    int offsetSeconds = 0;
    if (!scan.literal('Z')) {
        const bool ahead = scan.peek('+');
        if (!scan.literal('+') && !scan.literal('-'))
            return std::nullopt;
        int offsetHours = 0, offsetMinutes = 0;
        if (!(scan.number(2, offsetHours) && scan.literal(':') && scan.number(2, offsetMinutes)))
            return std::nullopt;
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (ahead ? 1 : -1) * (offsetHours * 3600 + offsetMinutes * 60);
    }
    if (!scan.atEnd())
        return std::nullopt;

    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;

    const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    const std::int64_t seconds =
        days * secondsPerDay + hour * 3600 + minute * 60 + second - static_cast<std::int64_t>(offsetSeconds);
    // A leap second only ever ends a UTC day; counted without it, 23:59:60 is the next midnight.
    if (second == 60 && seconds - floorDiv(seconds, secondsPerDay) * secondsPerDay != 0)
        return std::nullopt;
    return Date::fromTimeIntervalSince1970(static_cast<double>(seconds) + fraction);
}

std::optional<Date> parseInternetDate(std::string_view text) {
    if (auto date = parse(text, ISO8601Options::internetDateTime))
        return date;
    return parse(text, ISO8601Options::internetDateTimeWithFractionalSeconds);
}

std::string format(const Date& date, bool fractionalSeconds) {
    const double interval = date.timeIntervalSince1970();
    if (!std::isfinite(interval) || interval < earliestFormattable || interval >= endOfFormattable)
        return {};

    // Milliseconds are cut, not rounded, but only beyond what the double can tell apart: ".123"
    // read at a large magnitude may be stored a few ulps below .123 and must still write ".123".
    const double whole = std::floor(interval);
    const double ulp = std::nextafter(std::fabs(interval), HUGE_VAL) - std::fabs(interval);
    const double tolerance = std::max(0.5e-6, 2 * ulp);
    auto seconds = static_cast<std::int64_t>(whole);
    auto millis = static_cast<int>(std::floor((interval - whole + tolerance) * 1000.0));
    if (millis >= 1000) {
        ++seconds;
        millis -= 1000;
    }
    const std::int64_t days = floorDiv(seconds, secondsPerDay);
    const auto secondOfDay = static_cast<int>(seconds - days * secondsPerDay);

    const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{days}}};
    const int year = static_cast<int>(ymd.year());
    if (year < 0 || year > 9999)
        return {};

    char buffer[40];
    int length = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d", year,
                               static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                               secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    if (fractionalSeconds)
        length +=
            std::snprintf(buffer + length, sizeof buffer - static_cast<std::size_t>(length), ".%03d", millis);
    std::string text(buffer, static_cast<std::size_t>(length));
    text += 'Z';
    return text;
}

} // namespace joblark::ISO8601
