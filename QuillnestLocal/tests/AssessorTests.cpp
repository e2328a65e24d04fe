#include "quillnest/Assessor.hpp"

#include "joblark/Foundation/JSON.hpp"

#include <gtest/gtest.h>

namespace quillnest {
namespace {

using joblark::Value;

Value json(std::string_view text) {
    return *joblark::JSON::parse(text);
}

TEST(Comparisons, JudgeNumbersNumericallyAndEverythingElseAsText) {
    struct Case {
        const char* measured;
        const char* comparison;
        const char* expected;
        bool result;
    } cases[] = {
        {"5", "less_than_equal", "5", true},
        {"5.01", "less_than_equal", "5", false},
        {"4", "less_than", "5", true},
        {"5", "less_than", "5", false},
        {"5", "greater_than_equal", "5", true},
        {"100", "greater_than", "20", true}, // numbers, not texts
        {"5", "greater_than", "5", false},
        {"5", "equal", "5.0", true}, // numerically equal although the texts differ
        {"\"10\"", "greater_than", "9",
         true}, // a numeric string counts as a number ("10" > "9" as text is false)
        {"\"abc\"", "less_than", "5", false}, // no ordering between a word and a number
        {"\"green\"", "equal", "green", true},
        {"\"Green\"", "equal", "green", false},
        {"true", "equal", "true", true},
        {"true", "greater_than", "0", false}, // booleans are not numbers
        {"null", "equal", "null", true},
        {"\"all systems nominal\"", "contains", "nominal", true},
        {"[\"a\", \"b\"]", "contains", "b", true},
        {"{\"key\": 1}", "contains", "key", true},
        {"{\"key\": 1}", "contains", "1", false},
        {"12345", "contains", "234", true},
        {"\" 5\"", "equal", "5", false}, // text with a leading space is not a number
        {"\"1e3\"", "equal", "1000", true},
    };
    for (const auto& c : cases) {
        auto measured = joblark::JSON::parse(c.measured);
        ASSERT_TRUE(measured) << c.measured;
        EXPECT_EQ(satisfies(*measured, c.comparison, c.expected), c.result)
            << c.measured << " " << c.comparison << " " << c.expected;
    }
}

TEST(ValuePaths, FindKeysAndArrayIndices) {
    auto body = json(R"({"a": {"b": [10, {"c": "deep"}]}, "x.y": 1, "n": null})");
    EXPECT_EQ(*valueAtPath(body, std::string("a.b.0")), Value(10));
    EXPECT_EQ(*valueAtPath(body, std::string("a.b.1.c")), Value("deep"));
    EXPECT_EQ(valueAtPath(body, std::nullopt), &body);
    EXPECT_EQ(valueAtPath(body, std::string()), &body);
    EXPECT_TRUE(valueAtPath(body, std::string("n"))->isNull());
    for (const char* missing : {"a.b.2", "a.b.-1", "a.b.x", "a.c", "a.b.0.z", "x", "a..b", "a.b.01x"})
        EXPECT_EQ(valueAtPath(body, std::string(missing)), nullptr) << missing;
}

TEST(Assessments, StatusFollowsTheShareOfCriteriaMet) {
    std::vector<CriteriaRecord> criteria = {
        {{}, "100", "less_than_equal", std::string("depth"), 0, 0},
        {{}, "ok", "equal", std::string("state"), 0, 0},
    };
    auto all = assess(json(R"({"depth": 3, "state": "ok"})"), criteria);
    EXPECT_EQ(all.status, "ok");
    EXPECT_TRUE(all.ok);
    EXPECT_EQ(all.measurement, "3");

    auto some = assess(json(R"({"depth": 300, "state": "ok"})"), criteria);
    EXPECT_EQ(some.status, "degraded");
    EXPECT_FALSE(some.ok);
    EXPECT_NE(some.message.find("depth is 300"), std::string::npos) << some.message;

    auto none = assess(json(R"({"depth": 300, "state": "bad"})"), criteria);
    EXPECT_EQ(none.status, "down");
    EXPECT_NE(none.message.find("; "), std::string::npos) << none.message; // both failures named

    auto missing = assess(json(R"({})"), criteria);
    EXPECT_EQ(missing.status, "down");
    EXPECT_NE(missing.message.find("No value at depth"), std::string::npos);

    // A huge reported value is kept shortened, cut between characters.
    std::string big = "\"" + std::string(5000, 'x') + "\u00e9\"";
    auto huge = assess(json("{\"v\": " + big + ", \"w\": " + big + "}"),
                       {{{}, "1", "equal", std::string("w"), 0, 0}});
    EXPECT_LE(huge.measurement.size(), maximumMeasurementBytes);
    EXPECT_LE(huge.message.size(), maximumMeasurementBytes + 100);
    auto accented = assess(json("\"" + std::string(1019, 'a') + "\u00e9\u00e9\u00e9\""), {});
    EXPECT_LE(accented.measurement.size(), maximumMeasurementBytes);
    EXPECT_EQ(accented.measurement.substr(accented.measurement.size() - 3), "\u2026");
    EXPECT_EQ(accented.measurement.substr(0, 1019), std::string(1019, 'a'));
    EXPECT_EQ(accented.measurement.size(), 1019u + 2u + 3u); // "é" (2 bytes) kept whole, then "…"

    auto unjudged = assess(json(R"({"anything": [1, 2]})"), {});
    EXPECT_EQ(unjudged.status, "ok");
    EXPECT_EQ(unjudged.measurement, R"({"anything":[1,2]})");
}

} // namespace
} // namespace quillnest
