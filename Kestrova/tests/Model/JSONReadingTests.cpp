#include "JSONFixtures.hpp"

#include "Model/Device.hpp"
#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"
#include "Model/Token.hpp"
#include "Model/User.hpp"

#include "joblark/Foundation/ISO8601.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using kestrova::testing::build;
using kestrova::testing::object;

TEST(JSONRules, ValuesOfTheWrongTypeOrOutOfRangeReadAsAbsent) {
    struct Case {
        const char* json;
        std::optional<std::string> name;
        std::optional<std::int64_t> threshold;
        std::optional<bool> isPublic;
    };
    const std::vector<Case> cases{
        {R"({"name":"","degredation_threshold":250.0,"public":false})", "", 250, false},
        {R"({"name":42,"degredation_threshold":2.5e2,"public":1})", std::nullopt, 250, std::nullopt},
        {R"({"name":null,"degredation_threshold":250.5,"public":"true"})", std::nullopt, std::nullopt,
         std::nullopt},
        {R"({"degredation_threshold":9223372036854775807})", std::nullopt, INT64_MAX, std::nullopt},
        {R"({"degredation_threshold":9223372036854775808})", std::nullopt, std::nullopt, std::nullopt},
        {R"({"degredation_threshold":-9.3e18})", std::nullopt, std::nullopt, std::nullopt},
        {R"({"degredation_threshold":1e300})", std::nullopt, std::nullopt, std::nullopt},
        {R"({"degredation_threshold":"250"})", std::nullopt, std::nullopt, std::nullopt},
        {R"({"degredation_threshold":true})", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto endpoint = build<Endpoint>(c.json);
        EXPECT_EQ(endpoint->name, c.name) << c.json;
        EXPECT_EQ(endpoint->degredationThreshold, c.threshold) << c.json;
        EXPECT_EQ(endpoint->isPublic, c.isPublic) << c.json;
    }
    EXPECT_EQ(build<Endpoint>(R"({"uuid":7})")->id, std::nullopt);
    EXPECT_EQ(build<User>(R"({"endpoints_remaining":0})")->endpointsRemaining, 0) << "zero is a value";
}

TEST(JSONRules, ARepeatedReadReplacesTextButKeepsAUsableURLDateOrStatus) {
    Endpoint endpoint;
    endpoint.populate(object(R"({"name":"before","uuid":"u1","url":"https://svc.example/api/endpoints/1",
        "created_at":"2026-03-04T05:06:07Z","updated_at":"2026-03-04T05:06:07Z","status":"inactive"})"));
    endpoint.populate(object(R"({"name":false,"url":"http://bad host/","created_at":12,"updated_at":"garbage",
        "status":"paused"})"));
    EXPECT_EQ(endpoint.name, std::nullopt) << "text is always overwritten";
    EXPECT_EQ(endpoint.id, std::nullopt);
    ASSERT_TRUE(endpoint.url) << "an unusable URL leaves the field as it was";
    EXPECT_EQ(endpoint.url->absoluteString(), "https://svc.example/api/endpoints/1");
    EXPECT_TRUE(endpoint.createdAt) << "a non-string date leaves it";
    EXPECT_FALSE(endpoint.updatedAt) << "a string that does not parse clears it";
    EXPECT_EQ(endpoint.status, Endpoint::Status::inactive) << "an unknown text keeps the status";

    // Unlike statuses, a comparison is cleared by an unknown text (but not by a non-text).
    Criteria criteria;
    criteria.populate(object(R"({"comparison":"contains"})"));
    criteria.populate(object(R"({"comparison":7})"));
    EXPECT_EQ(criteria.comparison, Criteria::Comparison::contains);
    criteria.populate(object(R"({"comparison":"between"})"));
    EXPECT_EQ(criteria.comparison, std::nullopt);

    for (const char* json : {R"({"endpoint_url":"http://[::1"})", R"({"endpoint_url":"http://host:99999/"})",
                             R"({"endpoint_url":""})"})
        EXPECT_EQ(build<Endpoint>(json)->endpointUrl, std::nullopt) << json;
    EXPECT_EQ(build<Endpoint>(R"({"endpoint_url":"https://shop.example/a?b=1&c=%20d"})")
                  ->endpointUrl->absoluteString(),
              "https://shop.example/a?b=1&c=%20d");
}

TEST(JSONRules, DatesTryWithoutThenWithFractionalSeconds) {
    auto at = [](std::string_view text) { return *joblark::ISO8601::parseInternetDate(text); };
    struct Case {
        const char* text;
        std::optional<joblark::Date> date;
    };
    for (const auto& c :
         std::vector<Case>{{"2026-03-04T07:06:07+02:00", at("2026-03-04T05:06:07Z")},
                           {"2026-03-04T05:06:07.123456+00:00", at("2026-03-04T05:06:07.123456Z")},
                           {"2026-03-04", std::nullopt},
                           {"2026-03-04T05:06:07", std::nullopt},
                           {"2026-02-30T05:06:07Z", std::nullopt}}) {
        auto endpoint = build<Endpoint>(std::string(R"({"created_at":")") + c.text + "\"}");
        ASSERT_EQ(endpoint->createdAt.has_value(), c.date.has_value()) << c.text;
        if (c.date) {
            EXPECT_NEAR(endpoint->createdAt->timeIntervalSince1970(), c.date->timeIntervalSince1970(), 1e-6);
        }
    }
}

TEST(JSONRules, EnumerationsMatchExactlyExceptTheProbeMethod) {
    EXPECT_EQ(build<Endpoint>(R"({"status":"Active"})")->status, std::nullopt);
    EXPECT_EQ(build<Endpoint>(R"({"last_check_status":"degraded"})")->lastCheckStatus,
              Check::Status::degraded);
    EXPECT_EQ(build<Measure>(R"({"last_status":"DOWN"})")->lastStatus, std::nullopt);
    struct Case {
        const char* json;
        std::optional<Endpoint::CheckType> type;
    };
    for (const auto& c : std::vector<Case>{{R"({"check_type":"get"})", Endpoint::CheckType::get},
                                           {R"({"check_type":"Head"})", Endpoint::CheckType::head},
                                           {R"({"check_type":"POST"})", std::nullopt},
                                           {R"({"check_type":" GET"})", std::nullopt}})
        EXPECT_EQ(build<Endpoint>(c.json)->checkType, c.type) << c.json;
}

TEST(JSONRules, NestedListsNeedAnArrayOfObjectsAndKeepTheServicesOrder) {
    auto endpoint = build<Endpoint>(R"({"history":[
        {"uuid":"c2","status":"down","response_time":1200,"ok":false,"created_at":"2026-03-04T05:06:07Z"},
        {"uuid":"c1","status":"ok","response_time":80.0,"ok":true,"message":"fine"}]})");
    ASSERT_TRUE(endpoint->history && endpoint->history->size() == 2u);
    EXPECT_EQ((*endpoint->history)[0]->uuid, "c2");
    EXPECT_EQ((*endpoint->history)[0]->isOk, false);
    EXPECT_EQ((*endpoint->history)[1]->responseTime, 80);
    EXPECT_TRUE(build<Endpoint>(R"({"history":[]})")->history->empty());
    for (const char* json :
         {R"({"history":"none"})", R"({"history":[{"uuid":"a"}, 3]})", R"({"history":{}})"})
        EXPECT_EQ(build<Endpoint>(json)->history, std::nullopt) << json;

    auto measure = build<Measure>(R"({"criteria":[{"comparison":"equal","value_path":"status"}],
        "history":[{"measurement":"12.5","status":"ok"}]})");
    ASSERT_TRUE(measure->criteria && measure->history);
    EXPECT_EQ((*measure->criteria)[0]->valuePath, "status");
    EXPECT_EQ((*measure->history)[0]->measurement, "12.5");

    EXPECT_EQ(build<Device>(R"({"device_id":"abc","active":true})")->deviceId, "abc");
    EXPECT_EQ(build<Token>(R"({"key":"t0k3n","created_at":"2026-01-01T00:00:00.5Z"})")->key, "t0k3n");
    EXPECT_EQ(build<Endpoint>(R"({"cursor_id":"c","cursorId":"c"})")->cursorId(), std::nullopt)
        << "no JSON key fills the cursor";
}
