// Generated input through the JSON reading rules and the archive reader: every document must give
// models and every damaged archive a state or an error, never a crash or a hang.
#include "JSONFixtures.hpp"

#include "Model/AppState.hpp"
#include "Model/Device.hpp"
#include "Model/Token.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace kestrova;
using joblark::Array;
using joblark::Dictionary;
using joblark::Value;

namespace {

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    /// Any JSON value under the models' keys, nested a few levels, with the edge values of each rule.
    Value anyValue(int depth = 0) {
        static const Value scalars[] = {Value(),
                                        Value(true),
                                        Value(INT64_MAX),
                                        Value(INT64_MIN),
                                        Value(250.0),
                                        Value(1e300),
                                        Value(-0.0),
                                        Value(9.3e18),
                                        Value(""),
                                        Value("GET"),
                                        Value("ok"),
                                        Value("less_than"),
                                        Value("http://exa mple/"),
                                        Value("https://a.example/x?y#z"),
                                        Value("2026-01-01T00:00:00.5Z"),
                                        Value("2026-13-40T99:99:99Z"),
                                        Value(" 12"),
                                        Value("inf"),
                                        Value("\xc3\xa9"),
                                        Value(std::string(5000, 'x'))};
        switch (depth > 3 ? 0 : below(3)) {
        case 0:
            return scalars[below(std::size(scalars))];
        case 1: {
            Array array;
            for (std::size_t n = below(4); n > 0; --n)
                array.push_back(anyValue(depth + 1));
            return Value(std::move(array));
        }
        default:
            return Value(anyDictionary(depth + 1));
        }
    }

    Dictionary anyDictionary(int depth = 0) {
        static const char* keys[] = {"url",
                                     "uuid",
                                     "name",
                                     "endpoint_url",
                                     "check_type",
                                     "degredation_threshold",
                                     "public",
                                     "created_at",
                                     "updated_at",
                                     "status",
                                     "last_check_status",
                                     "last_status",
                                     "history",
                                     "criteria",
                                     "comparison",
                                     "measurement",
                                     "email",
                                     "key"};
        Dictionary d;
        for (std::size_t n = below(8); n > 0; --n)
            d[keys[below(std::size(keys))]] = anyValue(depth);
        return d;
    }

private:
    std::mt19937 random_;
};

/// Builds every model class from `json` and checks what the rules promise about the result.
void exercise(const Dictionary& json) {
    const auto* uuid = json.count("uuid") ? &json.at("uuid") : nullptr;
    auto endpoint = joblark::construct<Endpoint>(json);
    EXPECT_EQ(endpoint->id.has_value(), uuid && uuid->isString());
    if (endpoint->degredationThreshold) {
        EXPECT_EQ(*json.at("degredation_threshold").asDouble(),
                  static_cast<double>(*endpoint->degredationThreshold));
    }
    auto measure = joblark::construct<Measure>(json);
    (void)measure->hasNumericMeasurements();
    for (const auto& criteria : measure->criteria.value_or(std::vector<std::shared_ptr<Criteria>>{})) {
        EXPECT_NE(criteria->summaryText().find(" is "), std::string::npos);
    }
    joblark::construct<Device>(json);
    joblark::construct<Token>(json);

    // Whatever was read can be cached, or fails to archive with a reason.
    auto state = std::make_shared<AppState>();
    state->user = joblark::construct<User>(json);
    state->endpoints = {endpoint};
    state->measures = {measure};
    auto data = state->archivedData();
    if (!data) {
        EXPECT_FALSE(data.error()->localizedDescription().empty());
        return;
    }
    auto back = AppState::fromArchive(*data);
    ASSERT_TRUE(back) << back.error()->localizedDescription();
    ASSERT_TRUE((*back)->endpoints && (*back)->endpoints->size() == 1);
    EXPECT_TRUE((*back)->endpoints->front()->isEqual(*endpoint));
}

} // namespace

TEST(Robustness, AnyJSONValuesNeverBreakTheReadingRules) {
    Generator generate(20260306);
    for (int round = 0; round < 2500; ++round)
        exercise(generate.anyDictionary());
}

TEST(Robustness, DamagedArchivesFailCleanly) {
    auto state = std::make_shared<AppState>();
    state->user =
        kestrova::testing::build<User>(R"({"uuid":"u1","email":"me@example.com","endpoints_remaining":0,
        "updated_at":"2026-01-01T00:00:00Z"})");
    state->endpoints.emplace();
    state->measures.emplace();
    for (int i = 0; i < 5; ++i) {
        state->endpoints->push_back(kestrova::testing::build<Endpoint>(
            R"({"url":"https://svc.example/api/endpoints/1","uuid":"e1","name":"Shop","check_type":"GET",
            "degredation_threshold":300,"public":false,"created_at":"2026-01-01T00:00:00Z","last_check_status":"ok"})"));
        state->measures->push_back(kestrova::testing::build<Measure>(
            R"({"uuid":"m1","name":"Queue","public":true,"status":"inactive","last_status":"degraded"})"));
    }
    auto good = state->archivedData();
    ASSERT_TRUE(good);

    Generator generate(99);
    int readable = 0, failed = 0;
    for (int round = 0; round < 3000; ++round) {
        auto bytes = *good;
        for (std::size_t edits = 1 + generate.below(4); edits > 0; --edits) {
            std::size_t at = generate.below(bytes.size());
            switch (generate.below(3)) {
            case 0:
                bytes[at] = static_cast<std::uint8_t>(generate.below(256));
                break;
            case 1:
                bytes[at] ^= static_cast<std::uint8_t>(1u << generate.below(8));
                break;
            default:
                bytes.resize(std::max<std::size_t>(at, 1));
                break;
            }
        }
        auto back = AppState::fromArchive(bytes);
        if (!back) {
            ++failed;
            EXPECT_FALSE(back.error()->localizedDescription().empty());
            continue;
        }
        ++readable;
        // What did read back is usable.
        (*back)->anyHasStatus(OverallStatus::down);
        for (const auto& endpoint : (*back)->endpoints.value_or(std::vector<std::shared_ptr<Endpoint>>{})) {
            ASSERT_TRUE(endpoint);
        }
    }
    EXPECT_GT(failed, 100);
    EXPECT_GT(readable, 0);
}
