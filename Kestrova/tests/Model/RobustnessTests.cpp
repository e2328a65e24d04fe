// Generated malformed input through the JSON reading rules and the archive reader: every document must
// give models (or a parse error) and every archive a state (or an error), never a crash or a hang.
#include "Model/AppState.hpp"
#include "Model/Device.hpp"
#include "Model/Token.hpp"

#include "joblark/Foundation/JSON.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace kestrova;
using joblark::Array;
using joblark::Dictionary;
using joblark::Value;

namespace {

const std::vector<std::string> seeds{
    R"({"url":"https://svc.example/api/endpoints/1","uuid":"e1","name":"Shop","endpoint_url":"https://shop.example/",
        "check_type":"GET","degredation_threshold":300,"ensure_valid_cert":true,"cert_check_expiry_threshold":14,
        "public":false,"created_at":"2026-01-01T00:00:00Z","updated_at":"2026-01-01T00:00:00.123Z",
        "status":"active","last_check_status":"ok","last_check_message":"fine",
        "history":[{"uuid":"c1","created_at":"2026-01-01T00:00:00Z","ok":true,"response_time":80,"status":"ok",
        "message":"m"}]})",
    R"({"url":"https://svc.example/api/measures/1","uuid":"m1","name":"Queue","public":true,"status":"inactive",
        "last_status":"degraded","criteria":[{"uuid":"k","comparison":"less_than","expected_value":"10",
        "value_path":"a.b"}],"history":[{"measurement":"12.5","status":"down","ok":false}]})",
    R"({"uuid":"u1","email":"me@example.com","endpoints_remaining":0,"contacts_remaining":2,
        "status_page_enabled":true,"updated_at":"2026-01-01T00:00:00Z"})",
    R"({"uuid":"d1","name":"laptop","device_id":"abc","active":true,"key":"tok","created_at":"2026-01-01T00:00:00Z"})",
};

const std::vector<std::string> keys{"url",
                                    "uuid",
                                    "name",
                                    "endpoint_url",
                                    "check_type",
                                    "degredation_threshold",
                                    "ensure_valid_cert",
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
                                    "endpoints_remaining",
                                    "device_id",
                                    "key"};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    /// A seed document damaged at the byte level.
    std::string damagedText() {
        std::string text = seeds[below(seeds.size())];
        static const std::string alphabet = "{}[]\":,.-+eE0123456789tfnul\\ \x00\xff\xc3\x28\t";
        for (std::size_t edits = 1 + below(6); edits > 0 && !text.empty(); --edits) {
            std::size_t at = below(text.size());
            switch (below(4)) {
            case 0:
                text[at] = alphabet[below(alphabet.size())];
                break;
            case 1:
                text.insert(at, 1, alphabet[below(alphabet.size())]);
                break;
            case 2:
                text.erase(at, 1 + below(8));
                break;
            default:
                text.resize(at);
                break;
            }
        }
        return text;
    }

    /// Any JSON value, nested a few levels.
    Value anyValue(int depth = 0) {
        switch (below(depth > 3 ? 6 : 8)) {
        case 0:
            return Value();
        case 1:
            return Value(below(2) == 0);
        case 2: {
            static const std::int64_t integers[] = {0, 1, -1, 250, INT64_MAX, INT64_MIN};
            return Value(integers[below(6)]);
        }
        case 3: {
            static const double reals[] = {0.5, 250.0, -0.0, 1e300, -1e300, 9.3e18, 4.9e-324};
            return Value(reals[below(7)]);
        }
        case 4: {
            static const char* texts[] = {"",
                                          "ok",
                                          "GET",
                                          "get",
                                          "2026-01-01T00:00:00Z",
                                          "2026-01-01T00:00:00.5Z",
                                          "2026-13-40T99:99:99Z",
                                          "http://exa mple/",
                                          "https://a.example/x?y#z",
                                          "less_than",
                                          "12.5",
                                          " 12",
                                          "inf",
                                          "\xc3\xa9"};
            return Value(texts[below(14)]);
        }
        case 5:
            return Value(std::string(below(5000), 'x'));
        case 6: {
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
        Dictionary d;
        for (std::size_t n = below(8); n > 0; --n)
            d[keys[below(keys.size())]] = anyValue(depth);
        return d;
    }

private:
    std::mt19937 random_;
};

bool isArrayOfObjects(const Value* value) {
    if (!value || !value->asArray())
        return false;
    for (const auto& element : *value->asArray())
        if (!element.asDictionary())
            return false;
    return true;
}

/// Builds every model class from `json` and checks what the rules promise about the result.
void exercise(const Dictionary& json) {
    auto uuid = json.find("uuid");
    bool uuidIsText = uuid != json.end() && uuid->second.isString();

    auto endpoint = joblark::construct<Endpoint>(json);
    EXPECT_EQ(endpoint->id.has_value(), uuidIsText);
    auto history = json.find("history");
    EXPECT_EQ(endpoint->history.has_value(),
              isArrayOfObjects(history == json.end() ? nullptr : &history->second));
    if (endpoint->degredationThreshold) {
        const auto& raw = json.at("degredation_threshold");
        EXPECT_TRUE(raw.isNumber());
        EXPECT_EQ(*raw.asDouble(), static_cast<double>(*endpoint->degredationThreshold));
    }

    auto measure = joblark::construct<Measure>(json);
    EXPECT_EQ(measure->id.has_value(), uuidIsText);
    (void)measure->hasNumericMeasurements();
    if (measure->criteria) {
        for (const auto& criteria : *measure->criteria) {
            EXPECT_NE(criteria->summaryText().find(" is "), std::string::npos);
        }
    }

    auto user = joblark::construct<User>(json);
    EXPECT_EQ(user->id.has_value(), uuidIsText);
    joblark::construct<Device>(json);
    joblark::construct<Token>(json);

    // Whatever was read can be cached, or fails to archive with a reason.
    auto state = std::make_shared<AppState>();
    state->user = user;
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

TEST(Robustness, MalformedJSONDocumentsNeverBreakTheReadingRules) {
    Generator generate(20260306);
    int parsed = 0, rejected = 0;
    for (int round = 0; round < 2500; ++round) {
        auto text = generate.damagedText();
        auto value = joblark::JSON::parse(text);
        if (!value) {
            ++rejected;
            EXPECT_FALSE(value.error()->localizedDescription().empty());
            continue;
        }
        if (const auto* json = value->asDictionary()) {
            ++parsed;
            exercise(*json);
        }
    }
    // Both paths were really taken.
    EXPECT_GT(parsed, 100);
    EXPECT_GT(rejected, 100);

    for (int round = 0; round < 2500; ++round) {
        auto json = generate.anyDictionary();
        // Through the JSON text too, so that what a server could send is what is read.
        auto text = joblark::JSON::write(Value(json));
        if (!text)
            continue;
        auto value = joblark::JSON::parse(*text);
        ASSERT_TRUE(value && value->asDictionary());
        exercise(*value->asDictionary());
    }
}

TEST(Robustness, DamagedArchivesFailCleanly) {
    auto state = std::make_shared<AppState>();
    state->user = joblark::construct<User>(*joblark::JSON::parse(seeds[2])->asDictionary());
    state->endpoints.emplace();
    state->measures.emplace();
    for (int i = 0; i < 5; ++i) {
        state->endpoints->push_back(
            joblark::construct<Endpoint>(*joblark::JSON::parse(seeds[0])->asDictionary()));
        state->measures->push_back(
            joblark::construct<Measure>(*joblark::JSON::parse(seeds[1])->asDictionary()));
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
        (*back)->allHaveStatus(OverallStatus::ok);
        (*back)->anyHasStatus(OverallStatus::down);
        if ((*back)->endpoints) {
            for (const auto& endpoint : *(*back)->endpoints) {
                ASSERT_TRUE(endpoint);
            }
        }
    }
    EXPECT_GT(failed, 100);
    EXPECT_GT(readable, 0);
}
