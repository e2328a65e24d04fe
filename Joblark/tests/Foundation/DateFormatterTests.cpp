#include "joblark/Foundation/DateFormatter.hpp"

#include "TemporaryEnvironment.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using joblark::Date;
using joblark::DateFormatter;
using joblark::DateStyle;

namespace {

const Date sample = Date::fromTimeIntervalSince1970(1772600767); // 2026-03-04T05:06:07Z

TEST(DateFormatterTest, MediumDateInExplicitLocales) {
    const struct {
        const char* locale;
        const char* expected;
    } cases[] = {
        {"en_US", "Mar 4, 2026"},
        {"de_DE", "04.03.2026"},
        {"fr_FR", "4 mars 2026"},
    };
    for (const auto& c : cases) {
        const DateFormatter formatter(DateStyle::mediumStyle, DateStyle::none, c.locale, "UTC");
        EXPECT_EQ(formatter.string(sample), c.expected) << c.locale;
        EXPECT_EQ(formatter.localeIdentifier(), c.locale);
    }
}

TEST(DateFormatterTest, ShortTimeFollowsTheTimeZone) {
    const struct {
        const char* locale;
        const char* zone;
        const char* contains;
        const char* alsoContains;
    } cases[] = {
        {"en_US", "UTC", "5:06", "AM"},
        {"de_DE", "UTC", "05:06", "05:06"},
        {"en_US", "America/New_York", "12:06", "AM"}, // still standard time on 4 March
        {"en_US", "Asia/Kolkata", "10:36", "AM"},
        {"en_US", "Mars/Olympus_Mons", "5:06", "AM"}, // unknown zone: UTC
    };
    for (const auto& c : cases) {
        const DateFormatter formatter(DateStyle::none, DateStyle::shortStyle, c.locale, c.zone);
        const auto text = formatter.string(sample);
        EXPECT_NE(text.find(c.contains), std::string::npos) << c.zone << ": " << text;
        EXPECT_NE(text.find(c.alsoContains), std::string::npos) << c.zone << ": " << text;
        EXPECT_EQ(text.find("5:06:07"), std::string::npos) << "short time has no seconds: " << text;
    }
    EXPECT_EQ(DateFormatter(DateStyle::none, DateStyle::none, "en_US", "UTC").timeZoneIdentifier(), "UTC");
    // The date itself moves when the zone is behind UTC.
    EXPECT_EQ(
        DateFormatter(DateStyle::mediumStyle, DateStyle::none, "en_US", "America/Los_Angeles").string(sample),
        "Mar 3, 2026");
}

TEST(DateFormatterTest, NothingToShowGivesEmptyText) {
    EXPECT_EQ(DateFormatter(DateStyle::none, DateStyle::none, "en_US", "UTC").string(sample), "");
    EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::shortStyle, "en_US", "UTC")
                  .string(Date::fromTimeIntervalSince1970(std::numeric_limits<double>::quiet_NaN())),
              "");
}

TEST(DateFormatterTest, DefaultLocaleComesFromTheEnvironment) {
    const struct {
        const char* lcAll;
        const char* lcTime;
        const char* lang;
        const char* expected;
    } cases[] = {
        {"de_DE.UTF-8", "fr_FR.UTF-8", "en_GB.UTF-8", "de_DE"},
        {"", "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR"}, // empty counts as unset
        {nullptr, nullptr, "de_DE.UTF-8@euro", "de_DE"},
        {nullptr, nullptr, nullptr, "en_US_POSIX"},
        {"C", nullptr, "de_DE.UTF-8", "en_US_POSIX"},
        {"C.UTF-8", nullptr, nullptr, "en_US_POSIX"},
        {"POSIX", nullptr, nullptr, "en_US_POSIX"},
        {"../../etc/passwd", nullptr, nullptr, "en_US_POSIX"},
    };
    for (const auto& c : cases) {
        joblark::testing::ScopedEnvironment environment;
        const std::pair<const char*, const char*> variables[] = {
            {"LC_ALL", c.lcAll}, {"LC_TIME", c.lcTime}, {"LANG", c.lang}};
        for (const auto& [name, value] : variables) {
            if (value)
                environment.set(name, value);
            else
                environment.unset(name);
        }
        EXPECT_EQ(DateFormatter::environmentLocaleIdentifier(), c.expected) << c.expected;
        EXPECT_EQ(DateFormatter(DateStyle::mediumStyle, DateStyle::none, {}, "UTC").localeIdentifier(),
                  c.expected);
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
    const std::string expected = formatter.string(sample);
    const std::string expectedOther = formatter.string(other);
    ASSERT_NE(expected, expectedOther);
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (auto& count : mismatches)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i)
                count += (formatter.string(sample) != expected) + (formatter.string(other) != expectedOther);
        });
    for (auto& thread : threads)
        thread.join();
    for (const int count : mismatches)
        EXPECT_EQ(count, 0);
}

} // namespace
