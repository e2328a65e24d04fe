#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/ISO8601.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <string>

using joblark::Date;
using joblark::ISO8601Options;
namespace ISO8601 = joblark::ISO8601;

namespace {

constexpr double sample = 1772600767; // 2026-03-04T05:06:07Z (from date(1))

double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST(DateTest, ArithmeticComparisonAndNow) {
    const double before = now();
    const Date current;
    EXPECT_LE(before, current.timeIntervalSince1970());
    EXPECT_LE(current.timeIntervalSince1970(), now());

    const auto a = Date::fromTimeIntervalSince1970(sample);
    const auto b = a.addingTimeInterval(-90.25);
    EXPECT_DOUBLE_EQ(a.timeIntervalSince(b), 90.25);
    EXPECT_DOUBLE_EQ(b.timeIntervalSince(a), -90.25);
    EXPECT_LT(b, a);
    EXPECT_EQ(b.addingTimeInterval(90.25), a);
    EXPECT_EQ(a.addingTimeInterval(0.123).description(), "2026-03-04T05:06:07.123Z");
}

struct ParseCase {
    const char* text;
    double expected;
};

TEST(ISO8601Test, ReadsInternetDateTimesWithoutFraction) {
    const ParseCase cases[] = {
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
    };
    for (const auto& c : cases) {
        const auto date = ISO8601::parse(c.text, ISO8601Options::internetDateTime);
        ASSERT_TRUE(date) << c.text;
        EXPECT_EQ(date->timeIntervalSince1970(), c.expected) << c.text;
        EXPECT_EQ(ISO8601::parseInternetDate(c.text), date) << c.text;
        EXPECT_FALSE(ISO8601::parse(c.text, ISO8601Options::internetDateTimeWithFractionalSeconds)) << c.text;
    }
}

TEST(ISO8601Test, ReadsOneToNineFractionDigits) {
    const ParseCase cases[] = {
        {"2026-03-04T05:06:07.5Z", sample + 0.5},
        {"2026-03-04T05:06:07.12Z", sample + 0.12},
        {"2026-03-04T05:06:07.123Z", sample + 0.123},
        {"2026-03-04T05:06:07.1234Z", sample + 0.1234},
        {"2026-03-04T05:06:07.12345Z", sample + 0.12345},
        {"2026-03-04T05:06:07.123456Z", sample + 0.123456},
        {"2026-03-04T05:06:07.1234567Z", sample + 0.1234567},
        {"2026-03-04T05:06:07.12345678Z", sample + 0.12345678},
        {"2026-03-04T07:06:07.123456789+02:00", sample + 0.123456789},
        {"2026-03-04T05:06:07.000001Z", sample + 0.000001},
        {"1969-12-31T23:59:59.250Z", -0.75},
    };
    for (const auto& c : cases) {
        const auto date = ISO8601::parse(c.text, ISO8601Options::internetDateTimeWithFractionalSeconds);
        ASSERT_TRUE(date) << c.text;
        // A double near 1.8e9 resolves about 0.24 microseconds.
        EXPECT_NEAR(date->timeIntervalSince1970(), c.expected, 3e-7) << c.text;
        EXPECT_EQ(ISO8601::parseInternetDate(c.text), date) << c.text;
        EXPECT_FALSE(ISO8601::parse(c.text, ISO8601Options::internetDateTime)) << c.text;
    }
}

TEST(ISO8601Test, RefusesEverythingElse) {
    // "05:06:60" is refused because a leap second only ever ends a UTC day.
    const std::string refused[] = {"",
                                   "2026-03-04",
                                   "2026-03-04T05:06:07",
                                   "2026-03-04T05:06Z",
                                   "2026-03-04 05:06:07Z",
                                   "20260304T050607Z",
                                   "2026-3-4T5:6:7Z",
                                   "2026-03-04T05:06:07+0200",
                                   "2026-03-04T05:06:07+02",
                                   "2026-03-04T05:06:07+24:00",
                                   "2026-03-04T05:06:07+02:60",
                                   "2026-13-04T05:06:07Z",
                                   "2026-00-04T05:06:07Z",
                                   "2026-03-32T05:06:07Z",
                                   "2026-03-00T05:06:07Z",
                                   "2026-04-31T05:06:07Z",
                                   "2026-02-29T05:06:07Z",
                                   "2026-02-30T05:06:07Z",
                                   "1900-02-29T05:06:07Z",
                                   "2026-03-04T24:00:00Z",
                                   "2026-03-04T05:60:07Z",
                                   "2026-03-04T05:06:61Z",
                                   "2026-03-04T05:06:60Z",
                                   "2026-03-04T05:06:07Z ",
                                   " 2026-03-04T05:06:07Z",
                                   "2026-03-04T05:06:07Zjunk",
                                   "2026-03-04T05:06:07+02:00:00",
                                   "2026-03-04t05:06:07Z",
                                   "2026-03-04T05:06:07z",
                                   "2026-03-04T05:06:07.Z",
                                   "2026-03-04T05:06:07.1234567890Z",
                                   "2026-03-04T05:06:07,123Z",
                                   "-2026-03-04T05:06:07Z",
                                   "12026-03-04T05:06:07Z",
                                   "\xEF\xBC\x92"
                                   "026-03-04T05:06:07Z",         // full-width digit two
                                   "2026-03-04T05:06:0\xD9\xA7Z", // Arabic-Indic digit seven
                                   std::string("2026-03-04T05:06:07Z\0", 21),
                                   std::string("2026-03-04T05:06:07\0Z", 21)};
    for (const auto& text : refused) {
        EXPECT_FALSE(ISO8601::parse(text, ISO8601Options::internetDateTime)) << text;
        EXPECT_FALSE(ISO8601::parse(text, ISO8601Options::internetDateTimeWithFractionalSeconds)) << text;
        EXPECT_FALSE(ISO8601::parseInternetDate(text)) << text;
    }
}

TEST(ISO8601Test, WritesUTCWithMilliseconds) {
    const struct {
        double seconds;
        bool fraction;
        const char* expected;
    } cases[] = {
        {sample + 0.123, true, "2026-03-04T05:06:07.123Z"},
        {sample + 0.123, false, "2026-03-04T05:06:07Z"},
        {sample + 0.9999, true, "2026-03-04T05:06:07.999Z"}, // never rounds into the next second
        {-0.001, true, "1969-12-31T23:59:59.999Z"},
        {-1.5, true, "1969-12-31T23:59:58.500Z"},
        {1709164800, true, "2024-02-29T00:00:00.000Z"},
        {-62167219200, false, "0000-01-01T00:00:00Z"},
        {253402300799.5, true, "9999-12-31T23:59:59.500Z"},
        {-62167219200.5, true, ""},
        {253402300800, true, ""},
        {std::numeric_limits<double>::quiet_NaN(), true, ""},
        {std::numeric_limits<double>::infinity(), true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ISO8601::format(Date::fromTimeIntervalSince1970(c.seconds), c.fraction), c.expected)
            << c.seconds;
}

TEST(ISO8601Test, FormatAndParseRoundTrip) {
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

TEST(ISO8601Test, MutatedInputNeverCrashes) {
    const std::string seeds[] = {"2026-03-04T05:06:07Z", "2024-02-29T23:59:59.123456789-05:30",
                                 "0000-01-01T00:00:00+23:59", "2016-12-31T23:59:60.5Z"};
    const std::string alphabet = "0123456789-:+.TZtz \x80\xff";
    std::mt19937 random(7);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(random); };
    int accepted = 0;
    for (int i = 0; i < 5000; ++i) {
        std::string text = seeds[pick(std::size(seeds) - 1)];
        for (std::size_t edits = pick(3) + 1; edits > 0; --edits) {
            const char c = alphabet[pick(alphabet.size() - 1)];
            const std::size_t at = pick(text.size());
            switch (pick(3)) {
            case 0:
                text.insert(at, 1, c);
                break;
            case 1:
                if (at < text.size())
                    text[at] = c;
                break;
            case 2:
                if (at < text.size())
                    text.erase(at, 1);
                break;
            default:
                text.resize(at);
                break;
            }
        }
        const auto a = ISO8601::parse(text, ISO8601Options::internetDateTime);
        const auto b = ISO8601::parse(text, ISO8601Options::internetDateTimeWithFractionalSeconds);
        ASSERT_FALSE(a && b) << text;
        ASSERT_EQ(ISO8601::parseInternetDate(text), a ? a : b) << text;
        if (a || b) {
            ++accepted;
            const double seconds = (a ? a : b)->timeIntervalSince1970();
            ASSERT_TRUE(seconds > -62167219200.0 - 86400 && seconds < 253402300800.0 + 86400) << text;
        }
    }
    EXPECT_GT(accepted, 0); // the mutations must also reach the accepting paths
}

} // namespace
