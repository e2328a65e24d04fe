#include "joblark/Foundation/DateFormatter.hpp"

#include "TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using joblark::Date;
using joblark::DateFormatter;
using joblark::DateStyle;

namespace {

const Date sample = Date::fromTimeIntervalSince1970(1772600767); // 2026-03-04T05:06:07Z

TEST(DateFormatterTest, MediumDateAndShortTimeFollowLocaleAndZone) {
    using S = const char*;
    const std::tuple<S, S, S, S, S> cases[] = {
        {"en_US", "UTC", "Mar 4, 2026", "5:06", "AM"},
        {"de_DE", "UTC", "04.03.2026", "05:06", ""},
        {"fr_FR", "UTC", "4 mars 2026", "05:06", ""},
        {"en_US", "America/New_York", "Mar 4, 2026", "12:06", "AM"}, // still standard time on 4 March
        {"en_US", "America/Los_Angeles", "Mar 3, 2026", "9:06", "PM"},
        {"en_US", "Asia/Kolkata", "Mar 4, 2026", "10:36", "AM"},
        {"en_US", "Mars/Olympus_Mons", "Mar 4, 2026", "5:06", "AM"}, // unknown zone: UTC
    };
    for (const auto& [locale, zone, day, time, marker] : cases) {
        const DateFormatter date(DateStyle::mediumStyle, DateStyle::none, locale, zone);
        EXPECT_EQ(date.string(sample), day) << locale << " " << zone;
        EXPECT_EQ(date.localeIdentifier(), locale);
        const auto text = DateFormatter(DateStyle::none, DateStyle::shortStyle, locale, zone).string(sample);
        EXPECT_NE(text.find(time), std::string::npos) << zone << ": " << text;
        EXPECT_NE(text.find(marker), std::string::npos) << zone << ": " << text;
        EXPECT_EQ(text.find(":07"), std::string::npos) << "short time has no seconds: " << text;
    }
    const DateFormatter neither(DateStyle::none, DateStyle::none, "en_US", "UTC");
    EXPECT_EQ(neither.timeZoneIdentifier(), "UTC");
    EXPECT_EQ(neither.string(sample), "");
    EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::shortStyle, "en_US", "UTC")
                  .string(Date::fromTimeIntervalSince1970(std::numeric_limits<double>::quiet_NaN())),
              "");
}

TEST(DateFormatterTest, DefaultLocaleComesFromTheEnvironment) {
    using S = const char*;
    const std::tuple<S, S, S, S> cases[] = {
        {"de_DE.UTF-8", "fr_FR.UTF-8", "en_GB.UTF-8", "de_DE"},
        {"", "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR"}, // empty counts as unset
        {nullptr, nullptr, "de_DE.UTF-8@euro", "de_DE"},
        {nullptr, nullptr, nullptr, "en_US_POSIX"},
        {"C", nullptr, "de_DE.UTF-8", "en_US_POSIX"},
        {"C.UTF-8", nullptr, nullptr, "en_US_POSIX"},
        {"POSIX", nullptr, nullptr, "en_US_POSIX"},
        {"../../etc/passwd", nullptr, nullptr, "en_US_POSIX"},
    };
    for (const auto& [lcAll, lcTime, lang, expected] : cases) {
        joblark::testing::ScopedEnvironment environment;
        for (const auto& [name, value] : {std::pair{"LC_ALL", lcAll}, {"LC_TIME", lcTime}, {"LANG", lang}})
            value ? environment.set(name, value) : environment.unset(name);
        EXPECT_EQ(DateFormatter::environmentLocaleIdentifier(), expected) << expected;
        EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::none, {}, "UTC").localeIdentifier(),
                  expected);
    }

    joblark::testing::ScopedEnvironment environment;
    environment.set("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::none, {}, "UTC").string(sample), "04.03.2026");
    // A malformed explicit locale name falls back to the environment's.
    EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::none, "en_US;\n", "UTC").string(sample),
              "04.03.2026");
}

TEST(DateFormatterTest, OneFormatterServesSeveralThreads) {
    const DateFormatter formatter(DateStyle::mediumStyle, DateStyle::shortStyle, "en_US", "UTC");
    const Date other = sample.addingTimeInterval(-400 * 86400.0);
    const std::string expected = formatter.string(sample), expectedOther = formatter.string(other);
    ASSERT_NE(expected, expectedOther);
    std::atomic<int> mismatches = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 300; ++i)
                    mismatches +=
                        (formatter.string(sample) != expected) + (formatter.string(other) != expectedOther);
            });
    }
    EXPECT_EQ(mismatches, 0);
}

} // namespace
