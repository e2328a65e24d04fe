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

namespace {

joblark::Date at(std::string_view text) {
    return *joblark::ISO8601::parseInternetDate(text);
}

} // namespace

TEST(JSONRules, TextIsAStringOrAbsent) {
    struct Case {
        const char* json;
        std::optional<std::string> name;
    };
    for (const auto& c : std::vector<Case>{{R"({"name":"Shop"})", "Shop"},
                                           {R"({"name":""})", ""},
                                           {R"({"name":42})", std::nullopt},
                                           {R"({"name":null})", std::nullopt},
                                           {R"({"name":["Shop"]})", std::nullopt},
                                           {R"({})", std::nullopt}})
        EXPECT_EQ(build<Endpoint>(c.json)->name, c.name) << c.json;
    // A numeric "uuid" gives no id.
    EXPECT_EQ(build<Endpoint>(R"({"uuid":7})")->id, std::nullopt);

    // Text fields are always overwritten, even by a wrong type.
    Endpoint endpoint;
    endpoint.populate(object(R"({"name":"before","uuid":"u1"})"));
    endpoint.populate(object(R"({"name":false})"));
    EXPECT_EQ(endpoint.name, std::nullopt);
    EXPECT_EQ(endpoint.id, std::nullopt);
}

TEST(JSONRules, IntegerIsAWholeNumberWithinRange) {
    struct Case {
        const char* json;
        std::optional<std::int64_t> threshold;
    };
    for (const auto& c : std::vector<Case>{{R"({"degredation_threshold":250})", 250},
                                           {R"({"degredation_threshold":250.0})", 250},
                                           {R"({"degredation_threshold":-3})", -3},
                                           {R"({"degredation_threshold":2.5e2})", 250},
                                           {R"({"degredation_threshold":250.5})", std::nullopt},
                                           {R"({"degredation_threshold":1e300})", std::nullopt},
                                           {R"({"degredation_threshold":9223372036854775807})", INT64_MAX},
                                           {R"({"degredation_threshold":9223372036854775808})", std::nullopt},
                                           {R"({"degredation_threshold":-9.3e18})", std::nullopt},
                                           {R"({"degredation_threshold":"250"})", std::nullopt},
                                           {R"({"degredation_threshold":true})", std::nullopt},
                                           {R"({})", std::nullopt}})
        EXPECT_EQ(build<Endpoint>(c.json)->degredationThreshold, c.threshold) << c.json;
    // Zero is a value, not absence.
    EXPECT_EQ(build<User>(R"({"endpoints_remaining":0})")->endpointsRemaining, 0);
    EXPECT_EQ(build<User>(R"({})")->endpointsRemaining, std::nullopt);
}

TEST(JSONRules, BooleanIsAJSONBooleanOnly) {
    struct Case {
        const char* json;
        std::optional<bool> isPublic;
    };
    for (const auto& c : std::vector<Case>{{R"({"public":true})", true},
                                           {R"({"public":false})", false},
                                           {R"({"public":1})", std::nullopt},
                                           {R"({"public":"true"})", std::nullopt},
                                           {R"({"public":null})", std::nullopt}})
        EXPECT_EQ(build<Measure>(c.json)->isPublic, c.isPublic) << c.json;
}

TEST(JSONRules, URLIsSetOnlyFromAParseableString) {
    auto endpoint = build<Endpoint>(R"({"url":"https://svc.example/api/endpoints/1",
                                        "endpoint_url":"https://shop.example/a?b=1&c=%20d"})");
    ASSERT_TRUE(endpoint->url && endpoint->endpointUrl);
    EXPECT_EQ(endpoint->url->absoluteString(), "https://svc.example/api/endpoints/1");
    EXPECT_EQ(endpoint->endpointUrl->absoluteString(), "https://shop.example/a?b=1&c=%20d");

    for (const char* json :
         {R"({"endpoint_url":"http://exa mple.com/"})", R"({"endpoint_url":"http://[::1"})",
          R"({"endpoint_url":"http://host:99999/"})", R"({"endpoint_url":42})", R"({"endpoint_url":""})"})
        EXPECT_EQ(build<Endpoint>(json)->endpointUrl, std::nullopt) << json;

    // Unlike text, an unusable URL leaves the field as it was.
    Endpoint existing;
    existing.populate(object(R"({"url":"https://svc.example/api/endpoints/1"})"));
    existing.populate(object(R"({"url":"http://bad host/"})"));
    existing.populate(object(R"({"url":null})"));
    ASSERT_TRUE(existing.url);
    EXPECT_EQ(existing.url->absoluteString(), "https://svc.example/api/endpoints/1");
}

TEST(JSONRules, DatesTryWithoutThenWithFractionalSeconds) {
    struct Case {
        const char* json;
        std::optional<joblark::Date> date;
    };
    for (const auto& c : std::vector<Case>{
             {R"({"created_at":"2026-03-04T05:06:07Z"})", at("2026-03-04T05:06:07Z")},
             {R"({"created_at":"2026-03-04T07:06:07+02:00"})", at("2026-03-04T05:06:07Z")},
             {R"({"created_at":"2026-03-04T05:06:07.123Z"})", at("2026-03-04T05:06:07.123Z")},
             {R"({"created_at":"2026-03-04T05:06:07.123456+00:00"})", at("2026-03-04T05:06:07.123456Z")},
             {R"({"created_at":"2026-03-04"})", std::nullopt},
             {R"({"created_at":"2026-03-04T05:06:07"})", std::nullopt},
             {R"({"created_at":"2026-02-30T05:06:07Z"})", std::nullopt},
             {R"({"created_at":"yesterday"})", std::nullopt},
             {R"({"created_at":1700000000})", std::nullopt}}) {
        auto endpoint = build<Endpoint>(c.json);
        ASSERT_EQ(endpoint->createdAt.has_value(), c.date.has_value()) << c.json;
        if (c.date) {
            EXPECT_NEAR(endpoint->createdAt->timeIntervalSince1970(), c.date->timeIntervalSince1970(), 1e-6)
                << c.json;
        }
    }
    // A string that does not parse clears the date; a missing or non-string value leaves it alone.
    Endpoint endpoint;
    endpoint.populate(object(R"({"created_at":"2026-03-04T05:06:07Z","updated_at":"2026-03-04T05:06:07Z"})"));
    endpoint.populate(object(R"({"created_at":12,"updated_at":"garbage"})"));
    EXPECT_TRUE(endpoint.createdAt);
    EXPECT_FALSE(endpoint.updatedAt);
}

TEST(JSONRules, EnumerationsMatchRawValuesExactly) {
    EXPECT_EQ(build<Endpoint>(R"({"status":"active"})")->status, Endpoint::Status::active);
    EXPECT_EQ(build<Endpoint>(R"({"status":"Active"})")->status, std::nullopt);
    EXPECT_EQ(build<Endpoint>(R"({"last_check_status":"degraded"})")->lastCheckStatus,
              Check::Status::degraded);
    EXPECT_EQ(build<Endpoint>(R"({"last_check_status":"unknown"})")->lastCheckStatus, std::nullopt);
    EXPECT_EQ(build<Measure>(R"({"last_status":"down","status":"inactive"})")->lastStatus,
              Assessment::Status::down);
    EXPECT_EQ(build<Measure>(R"({"last_status":"DOWN"})")->lastStatus, std::nullopt);
    EXPECT_EQ(build<Measure>(R"({"status":"INACTIVE"})")->status, std::nullopt);

    // The probe method alone is upper-cased first.
    struct Case {
        const char* json;
        std::optional<Endpoint::CheckType> type;
    };
    for (const auto& c : std::vector<Case>{{R"({"check_type":"GET"})", Endpoint::CheckType::get},
                                           {R"({"check_type":"get"})", Endpoint::CheckType::get},
                                           {R"({"check_type":"Head"})", Endpoint::CheckType::head},
                                           {R"({"check_type":"POST"})", std::nullopt},
                                           {R"({"check_type":" GET"})", std::nullopt},
                                           {R"({"check_type":1})", std::nullopt}})
        EXPECT_EQ(build<Endpoint>(c.json)->checkType, c.type) << c.json;

    // An unknown text keeps what was there.
    Endpoint endpoint;
    endpoint.populate(object(R"({"status":"inactive"})"));
    endpoint.populate(object(R"({"status":"paused"})"));
    EXPECT_EQ(endpoint.status, Endpoint::Status::inactive);
}

TEST(JSONRules, ComparisonIsClearedByAnUnknownText) {
    EXPECT_EQ(build<Criteria>(R"({"comparison":"greater_than"})")->comparison,
              Criteria::Comparison::greaterThan);
    Criteria criteria;
    criteria.populate(object(R"({"comparison":"contains"})"));
    criteria.populate(object(R"({"comparison":7})"));
    EXPECT_EQ(criteria.comparison, Criteria::Comparison::contains);
    criteria.populate(object(R"({"comparison":"between"})"));
    EXPECT_EQ(criteria.comparison, std::nullopt);
}

TEST(JSONRules, NestedListsNeedAnArrayOfObjects) {
    auto endpoint = build<Endpoint>(R"({"history":[
        {"uuid":"c2","status":"down","response_time":1200,"ok":false,"created_at":"2026-03-04T05:06:07Z"},
        {"uuid":"c1","status":"ok","response_time":80.0,"ok":true,"message":"fine"}]})");
    ASSERT_TRUE(endpoint->history);
    ASSERT_EQ(endpoint->history->size(), 2u);
    // Kept in the order the service sent.
    EXPECT_EQ((*endpoint->history)[0]->uuid, "c2");
    EXPECT_EQ((*endpoint->history)[0]->status, Check::Status::down);
    EXPECT_EQ((*endpoint->history)[0]->isOk, false);
    EXPECT_TRUE((*endpoint->history)[0]->createdAt);
    EXPECT_EQ((*endpoint->history)[1]->responseTime, 80);
    EXPECT_EQ((*endpoint->history)[1]->message, "fine");

    auto empty = build<Endpoint>(R"({"history":[]})");
    ASSERT_TRUE(empty->history);
    EXPECT_TRUE(empty->history->empty());
    for (const char* json :
         {R"({"history":"none"})", R"({"history":[{"uuid":"a"}, 3]})", R"({"history":{}})"})
        EXPECT_EQ(build<Endpoint>(json)->history, std::nullopt) << json;

    auto measure = build<Measure>(R"({"criteria":[{"comparison":"equal","expected_value":"ok",
        "value_path":"status"}],"history":[{"measurement":"12.5","status":"ok"}]})");
    ASSERT_TRUE(measure->criteria && measure->history);
    EXPECT_EQ((*measure->criteria)[0]->valuePath, "status");
    EXPECT_EQ((*measure->history)[0]->measurement, "12.5");
}

TEST(JSONRules, UsersDevicesAndTokensReadTheirKeys) {
    auto user = build<User>(R"({"url":"https://svc.example/api/me","uuid":"u1","email":"a@b.example",
        "contacts_remaining":3,"status_page_enabled":true,"updated_at":"2026-01-01T00:00:00Z"})");
    EXPECT_EQ(user->id, "u1");
    EXPECT_EQ(user->email, "a@b.example");
    EXPECT_EQ(user->contactsRemaining, 3);
    EXPECT_EQ(user->isStatusPageEnabled, true);
    EXPECT_TRUE(user->updatedAt);

    auto device = build<Device>(R"({"uuid":"d1","name":"laptop","active":true})");
    EXPECT_EQ(device->name, "laptop");
    EXPECT_EQ(device->deviceId, std::nullopt);
    EXPECT_EQ(device->isActive, true);
    EXPECT_EQ(build<Device>(R"({"device_id":"abc"})")->deviceId, "abc");

    EXPECT_EQ(build<Token>(R"({"key":"t0k3n","created_at":"2026-01-01T00:00:00.5Z"})")->key, "t0k3n");
    EXPECT_EQ(build<Token>(R"({"created_at":"2026-01-01T00:00:00Z"})")->key, std::nullopt);

    // No JSON key fills the cursor.
    EXPECT_EQ(build<Endpoint>(R"({"cursor_id":"c","cursorId":"c"})")->cursorId(), std::nullopt);
}
