#include "JSONFixtures.hpp"

#include "Model/AppState.hpp"
#include "Model/Device.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using kestrova::testing::build;

TEST(ModelIdentity, ResourcesCompareAndHashByID) {
    auto a = build<Endpoint>(R"({"uuid":"x","name":"one"})");
    auto b = build<Endpoint>(R"({"uuid":"x","name":"two","status":"inactive"})");
    auto c = build<Endpoint>(R"({"uuid":"y"})");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));

    auto noID1 = build<Endpoint>("{}");
    auto noID2 = build<Endpoint>(R"({"name":"other"})");
    EXPECT_TRUE(noID1->isEqual(*noID2));
    EXPECT_EQ(noID1->hash(), 0u);
    EXPECT_FALSE(noID1->isEqual(*a));
    EXPECT_FALSE(a->isEqual(*noID1));

    // Same id, different class: not equal.
    auto measure = build<Measure>(R"({"uuid":"x"})");
    auto user = build<User>(R"({"uuid":"x"})");
    auto device = build<Device>(R"({"uuid":"x"})");
    EXPECT_FALSE(a->isEqual(*measure));
    EXPECT_FALSE(measure->isEqual(*a));
    EXPECT_FALSE(user->isEqual(*device));
    EXPECT_TRUE(measure->isEqual(*build<Measure>(R"({"uuid":"x","name":"n"})")));
    EXPECT_TRUE(device->isEqual(*build<Device>(R"({"uuid":"x"})")));

    // Checks, assessments and criteria keep identity.
    auto check1 = build<Check>(R"({"uuid":"c"})");
    auto check2 = build<Check>(R"({"uuid":"c"})");
    EXPECT_TRUE(check1->isEqual(*check1));
    EXPECT_FALSE(check1->isEqual(*check2));
    auto criteria1 = build<Criteria>("{}");
    EXPECT_FALSE(criteria1->isEqual(*build<Criteria>("{}")));
}

TEST(ModelIdentity, UserIdentifierFollowsIDAndUpdateTime) {
    auto user = build<User>(R"({"uuid":"u1","updated_at":"2026-01-01T00:00:00Z"})");
    EXPECT_EQ(user->identifier(), user->identifier());
    EXPECT_EQ(std::hash<User::Identifier>{}(user->identifier()),
              std::hash<User::Identifier>{}(user->identifier()));
    auto changed = build<User>(R"({"uuid":"u1","updated_at":"2026-01-02T00:00:00Z"})");
    EXPECT_NE(user->identifier(), changed->identifier());

    // Without an id every call draws a new one.
    auto anonymous = build<User>(R"({"updated_at":"2026-01-01T00:00:00Z"})");
    auto first = anonymous->identifier();
    auto second = anonymous->identifier();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.id.size(), 36u);
}

TEST(MeasureValues, NumericMeasurementsFollowStrtodInTheCLocale) {
    struct Case {
        std::vector<const char*> measurements;
        bool numeric;
    };
    for (const auto& c : std::vector<Case>{{{"word", "", "12.5"}, true},
                                           {{"-3"}, true},
                                           {{"1e3"}, true},
                                           {{"0x1p3"}, true},
                                           {{"inf"}, true},
                                           {{"+.5"}, true},
                                           {{" 12"}, false},
                                           {{"\t12"}, false},
                                           {{"12ms"}, false},
                                           {{"12 "}, false},
                                           {{"1,5"}, false},
                                           {{"."}, false},
                                           {{""}, false},
                                           {{}, false}}) {
        joblark::Array history;
        for (const char* m : c.measurements)
            history.emplace_back(joblark::Dictionary{{"measurement", m}});
        Measure measure;
        measure.populate(joblark::Dictionary{{"history", history}});
        EXPECT_EQ(measure.hasNumericMeasurements(), c.numeric)
            << (c.measurements.empty() ? "(empty)" : c.measurements.front());
    }
    // An embedded NUL ends the number early, so the whole text is not one.
    EXPECT_FALSE(Measure::isNumericMeasurement(std::string("12\0", 3)));
    EXPECT_FALSE(Measure::isNumericMeasurement(std::string("\0", 1)));
    // Absent history, and assessments without a measurement.
    EXPECT_FALSE(Measure().hasNumericMeasurements());
    EXPECT_FALSE(build<Measure>(R"({"history":[{"status":"ok"}]})")->hasNumericMeasurements());
}

TEST(MeasureValues, CriteriaSummaryText) {
    EXPECT_EQ(build<Criteria>(R"({"comparison":"greater_than","expected_value":"100"})")->summaryText(),
              "Entire Request Body is greater than 100");
    EXPECT_EQ(build<Criteria>("{}")->summaryText(), "Entire Request Body is ... some value");
    EXPECT_EQ(build<Criteria>(R"({"comparison":"like","value_path":"a.b"})")->summaryText(),
              "a.b is ... some value");
    struct Case {
        const char* raw;
        const char* text;
    };
    for (const auto& c : std::vector<Case>{{"less_than_equal", "less than or equal to"},
                                           {"less_than", "less than"},
                                           {"greater_than_equal", "greater than or equal to"},
                                           {"greater_than", "greater than"},
                                           {"equal", "equal to"},
                                           {"contains", "contains"}}) {
        joblark::Dictionary json{{"comparison", c.raw}, {"value_path", "v"}, {"expected_value", "x"}};
        EXPECT_EQ(joblark::construct<Criteria>(json)->summaryText(), std::string("v is ") + c.text + " x");
    }
}

namespace {

std::shared_ptr<Endpoint> endpointWith(std::optional<Check::Status> status) {
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->lastCheckStatus = status;
    return endpoint;
}
std::shared_ptr<Measure> measureWith(std::optional<Assessment::Status> status) {
    auto measure = std::make_shared<Measure>();
    measure->lastStatus = status;
    return measure;
}

/// The overview header's rule.
OverallStatus header(const AppState& state) {
    if (state.allHaveStatus(OverallStatus::ok))
        return OverallStatus::ok;
    if (state.anyHasStatus(OverallStatus::down))
        return OverallStatus::down;
    if (state.anyHasStatus(OverallStatus::degraded))
        return OverallStatus::degraded;
    return OverallStatus::ok;
}

} // namespace

TEST(AppStateQueries, AllAndAnyHaveStatus) {
    using S = OverallStatus;
    AppState state;
    // Nothing loaded: every query is false.
    for (auto s : {S::ok, S::degraded, S::down}) {
        EXPECT_FALSE(state.allHaveStatus(s));
        EXPECT_FALSE(state.anyHasStatus(s));
    }
    // Endpoints loaded, measures absent: still false everywhere.
    state.endpoints = {endpointWith(Check::Status::down)};
    EXPECT_FALSE(state.anyHasStatus(S::down));
    EXPECT_FALSE(state.allHaveStatus(S::down));
    EXPECT_EQ(header(state), S::ok);

    // Two empty lists: all-queries true, any-queries false.
    state.endpoints.emplace();
    state.measures.emplace();
    EXPECT_TRUE(state.allHaveStatus(S::ok));
    EXPECT_TRUE(state.allHaveStatus(S::down));
    EXPECT_FALSE(state.anyHasStatus(S::ok));

    // An absent status breaks all-ok but counts for no any-query.
    state.endpoints = {endpointWith(Check::Status::ok), endpointWith(std::nullopt)};
    state.measures = {measureWith(Assessment::Status::ok)};
    EXPECT_FALSE(state.allHaveStatus(S::ok));
    EXPECT_TRUE(state.anyHasStatus(S::ok));
    EXPECT_FALSE(state.anyHasStatus(S::down));
    EXPECT_FALSE(state.anyHasStatus(S::degraded));
    EXPECT_EQ(header(state), S::ok);

    // Endpoints down, measures degraded: the header asks for down first.
    state.endpoints = {endpointWith(Check::Status::ok), endpointWith(Check::Status::down)};
    state.measures = {measureWith(Assessment::Status::degraded)};
    EXPECT_TRUE(state.anyHasStatus(S::down));
    EXPECT_TRUE(state.anyHasStatus(S::degraded));
    EXPECT_EQ(header(state), S::down);

    // Only measures degraded.
    state.endpoints = {endpointWith(Check::Status::ok)};
    EXPECT_EQ(header(state), S::degraded);
    state.measures = {measureWith(Assessment::Status::ok)};
    EXPECT_TRUE(state.allHaveStatus(S::ok));
    EXPECT_EQ(header(state), S::ok);
}
