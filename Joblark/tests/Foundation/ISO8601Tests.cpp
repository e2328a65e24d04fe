#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/ISO8601.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>

using joblark::Date;
using joblark::ISO8601Options;
namespace ISO8601 = joblark::ISO8601;

namespace {

constexpr double sample = 1772600767; // 2026-03-04T05:06:07Z (from date(1))

TEST(DateTest, ArithmeticComparisonAndNow) {
    const auto before = std::chrono::system_clock::now();
    const Date current;
    EXPECT_LE(std::chrono::duration<double>(before.time_since_epoch()).count(),
              current.timeIntervalSince1970());
    const auto a = Date::fromTimeIntervalSince1970(sample);
    const auto b = a.addingTimeInterval(-90.25);
    EXPECT_DOUBLE_EQ(a.timeIntervalSince(b), 90.25);
    EXPECT_LT(b, a);
    EXPECT_EQ(b.addingTimeInterval(90.25), a);
    EXPECT_EQ(a.addingTimeInterval(0.123).description(), "2026-03-04T05:06:07.123Z");
}

TEST(ISO8601Test, ReadsInternetDateTimesWithAndWithoutFraction) {
    const std::pair<const char*, double> cases[] = {
        {"2026-03-04T05:06:07Z", sample},
        {"2026-03-04T07:06:07+02:00", sample},
        {"2026-03-03T23:36:07-05:30", sample},
        {"2026-03-04T05:06:07-00:00", sample},
        {"2024-01-01T01:00:00+02:00", 1704063600},  // previous year in UTC
        {"2024-02-28T19:00:00-05:00", 1709164800},  // leap day in UTC
        {"2024-02-29T23:00:00-01:00", 1709251200},  // leap day rolls into March
        {"2000-02-29T23:30:00Z", 951867000},        // divisible by 400: leap
        {"1900-02-28T23:00:00-01:00", -2203891200}, // divisible by 100: not leap
        {"1970-01-01T00:59:59+01:00", -1},
        {"0000-01-01T00:00:00Z", -62167219200},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2016-12-31T23:59:60Z", 1483228800}, // leap second reads as the next midnight
        {"2017-01-01T00:59:60+01:00", 1483228800},
        {"2026-03-04T05:06:07.5Z", sample + 0.5},
        {"2026-03-04T05:06:07.12Z", sample + 0.12},
        {"2026-03-04T05:06:07.123Z", sample + 0.123},
        {"2026-03-04T05:06:07.1234Z", sample + 0.1234},
        {"2026-03-04T05:06:07.12345Z", sample + 0.12345},
        {"2026-03-04T05:06:07.000001Z", sample + 0.000001},
        {"2026-03-04T05:06:07.1234567Z", sample + 0.1234567},
        {"2026-03-04T05:06:07.12345678Z", sample + 0.12345678},
        {"2026-03-04T07:06:07.123456789+02:00", sample + 0.123456789},
        {"1969-12-31T23:59:59.250Z", -0.75},
    };
    for (const auto& [text, expected] : cases) {
        const bool fractional = std::string_view(text).find('.') != std::string_view::npos;
        const auto accepting = fractional ? ISO8601Options::internetDateTimeWithFractionalSeconds
                                          : ISO8601Options::internetDateTime;
        const auto refusing = fractional ? ISO8601Options::internetDateTime
                                         : ISO8601Options::internetDateTimeWithFractionalSeconds;
        const auto date = ISO8601::parse(text, accepting);
        ASSERT_TRUE(date) << text;
        // A double near 1.8e9 resolves about 0.24 microseconds; whole seconds must be exact.
        EXPECT_NEAR(date->timeIntervalSince1970(), expected, fractional ? 3e-7 : 0.0) << text;
        EXPECT_EQ(ISO8601::parseInternetDate(text), date) << text;
        EXPECT_FALSE(ISO8601::parse(text, refusing)) << text;
    }
}

TEST(ISO8601Test, RefusesEverythingElse) {
    const std::string refused[] = {
        "",
        "2026-03-04",
        "2026-03-04T05:06:07",
        "2026-03-04T05:06Z",
        "2026-03-04 05:06:07Z",
        "20260304T050607Z",
        "2026-03-04T05:06:07+0200",
        "2026-03-04T05:06:07+24:00",
        "2026-03-04T05:06:07+02:60",
        "2026-13-04T05:06:07Z",
        "2026-00-04T05:06:07Z",
        "2026-03-32T05:06:07Z",
        "2026-04-31T05:06:07Z",
        "2026-02-29T05:06:07Z",
        "1900-02-29T05:06:07Z",
        "2026-03-04T24:00:00Z",
        "2026-03-04T05:60:07Z",
        "2026-03-04T05:06:61Z",
        "2026-03-04T05:06:60Z", // a leap second only ever ends a UTC day
        " 2026-03-04T05:06:07Z",
        "2026-03-04T05:06:07Zjunk",
        "2026-03-04T05:06:07z",
        "2026-03-04T05:06:07.Z",
        "2026-03-04T05:06:07.1234567890Z",
        "2026-03-04T05:06:07,123Z",
        "12026-03-04T05:06:07Z",
        "\xEF\xBC\x92"
        "026-03-04T05:06:07Z",         // full-width digit two
        "2026-03-04T05:06:0\xD9\xA7Z", // Arabic-Indic digit seven
        std::string("2026-03-04T05:06:07Z\0", 21),
        std::string("2026-03-04T05:06:07\0Z", 21),
    };
    for (const auto& text : refused) {
        EXPECT_FALSE(ISO8601::parse(text, ISO8601Options::internetDateTime)) << text;
        EXPECT_FALSE(ISO8601::parse(text, ISO8601Options::internetDateTimeWithFractionalSeconds)) << text;
        EXPECT_FALSE(ISO8601::parseInternetDate(text)) << text;
    }
}

TEST(ISO8601Test, WritesUTCWithMillisecondsAndRoundTrips) {
    const std::tuple<double, bool, const char*> cases[] = {
        {sample + 0.123, true, "2026-03-04T05:06:07.123Z"},
        {sample + 0.123, false, "2026-03-04T05:06:07Z"},
        {sample + 0.9999, true, "2026-03-04T05:06:07.999Z"}, // never rounds into the next second
        {-0.001, true, "1969-12-31T23:59:59.999Z"},
        {1709164800, true, "2024-02-29T00:00:00.000Z"},
        {-62167219200, false, "0000-01-01T00:00:00Z"},
        {253402300799.5, true, "9999-12-31T23:59:59.500Z"},
        {-62167219200.5, true, ""},
        {253402300800, true, ""},
        {std::numeric_limits<double>::quiet_NaN(), true, ""},
        {std::numeric_limits<double>::infinity(), true, ""},
    };
    for (const auto& [seconds, fraction, expected] : cases)
        EXPECT_EQ(ISO8601::format(Date::fromTimeIntervalSince1970(seconds), fraction), expected) << seconds;

    std::mt19937_64 random(20260304);
    std::uniform_int_distribution<std::int64_t> millis(-62167219200000, 253402300799999);
    for (int i = 0; i < 2000; ++i) {
        const auto date = Date::fromTimeIntervalSince1970(static_cast<double>(millis(random)) / 1000.0);
        const auto text = ISO8601::format(date);
        const auto back = ISO8601::parse(text, ISO8601Options::internetDateTimeWithFractionalSeconds);
        ASSERT_TRUE(back) << text;
        EXPECT_NEAR(back->timeIntervalSince1970(), date.timeIntervalSince1970(), 1e-4) << text;
        EXPECT_EQ(ISO8601::format(*back), text);
        const auto whole = ISO8601::parse(ISO8601::format(date, false), ISO8601Options::internetDateTime);
        ASSERT_TRUE(whole) << text;
        EXPECT_EQ(whole->timeIntervalSince1970(), std::floor(date.timeIntervalSince1970())) << text;
    }
}

} // namespace
