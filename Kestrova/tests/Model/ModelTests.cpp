#include "JSONFixtures.hpp"

#include "Model/AppState.hpp"
#include "Model/Device.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using kestrova::testing::build;

TEST(ModelIdentity, ResourcesCompareAndHashByIDWithinTheirClass) {
    auto a = build<Endpoint>(R"({"uuid":"x","name":"one"})");
    auto b = build<Endpoint>(R"({"uuid":"x","name":"two","status":"inactive"})");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*build<Endpoint>(R"({"uuid":"y"})")));

    auto noID = build<Endpoint>("{}");
    EXPECT_TRUE(noID->isEqual(*build<Endpoint>(R"({"name":"other"})")));
    EXPECT_FALSE(noID->isEqual(*a));
    EXPECT_FALSE(a->isEqual(*noID));

    auto measure = build<Measure>(R"({"uuid":"x"})");
    EXPECT_FALSE(a->isEqual(*measure));
    EXPECT_FALSE(measure->isEqual(*a));
    EXPECT_FALSE(build<User>(R"({"uuid":"x"})")->isEqual(*build<Device>(R"({"uuid":"x"})")));
    // Checks and criteria keep identity.
    auto check = build<Check>(R"({"uuid":"c"})");
    EXPECT_TRUE(check->isEqual(*check));
    EXPECT_FALSE(check->isEqual(*build<Check>(R"({"uuid":"c"})")));

    auto user = build<User>(R"({"uuid":"u1","updated_at":"2026-01-01T00:00:00Z"})");
    EXPECT_EQ(user->identifier(), user->identifier());
    EXPECT_NE(user->identifier(),
              build<User>(R"({"uuid":"u1","updated_at":"2026-01-02T00:00:00Z"})")->identifier());
    auto anonymous = build<User>(R"({"updated_at":"2026-01-01T00:00:00Z"})");
    EXPECT_NE(anonymous->identifier(), anonymous->identifier()) << "without an id every call draws a new one";
}

TEST(MeasureValues, NumericMeasurementsAndCriteriaText) {
    struct Case {
        std::vector<const char*> measurements;
        bool numeric;
    };
    for (const auto& c : std::vector<Case>{{{"word", "", "12.5"}, true},
                                           {{"0x1p3"}, true},
                                           {{" 12"}, false},
                                           {{"12ms"}, false},
                                           {{"1,5"}, false},
                                           {{}, false}}) {
        joblark::Array history;
        for (const char* m : c.measurements)
            history.emplace_back(joblark::Dictionary{{"measurement", m}});
        Measure measure;
        measure.populate(joblark::Dictionary{{"history", history}});
        EXPECT_EQ(measure.hasNumericMeasurements(), c.numeric)
            << (c.measurements.empty() ? "" : c.measurements[0]);
    }
    EXPECT_FALSE(Measure::isNumericMeasurement(std::string("12\0", 3))) << "an embedded NUL ends the number";
    EXPECT_FALSE(build<Measure>(R"({"history":[{"status":"ok"}]})")->hasNumericMeasurements());

    EXPECT_EQ(build<Criteria>(R"({"comparison":"less_than_equal","expected_value":"100"})")->summaryText(),
              "Entire Request Body is less than or equal to 100");
    EXPECT_EQ(build<Criteria>(R"({"comparison":"like","value_path":"a.b"})")->summaryText(),
              "a.b is ... some value");
}
