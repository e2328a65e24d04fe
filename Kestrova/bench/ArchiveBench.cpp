// The cache file's keyed archive against plain JSON of the same data, in the same run: an AppState
// with 1,000 endpoints and 1,000 measures, written and read back.
#include "Model/AppState.hpp"

#include "joblark/Foundation/ISO8601.hpp"
#include "joblark/Foundation/JSON.hpp"

#include <benchmark/benchmark.h>

#include <string>

using namespace kestrova;
using joblark::Array;
using joblark::Date;
using joblark::Dictionary;
using joblark::Value;

namespace {

constexpr int kResources = 1000;

Date dateFor(int i) {
    return Date::fromTimeIntervalSince1970(1.7e9 + i * 60.0);
}

std::shared_ptr<AppState> makeState() {
    auto state = std::make_shared<AppState>();
    state->user = std::make_shared<User>();
    state->user->id = "user-1";
    state->user->email = "someone@example.com";
    state->user->url = joblark::URL::parse("https://quillnest.example/api/me");
    state->user->endpointsRemaining = 10;
    state->user->createdAt = dateFor(0);
    state->endpoints.emplace();
    state->measures.emplace();
    for (int i = 0; i < kResources; ++i) {
        auto endpoint = std::make_shared<Endpoint>();
        auto n = std::to_string(i);
        endpoint->id = "endpoint-" + n;
        endpoint->url = joblark::URL::parse("https://quillnest.example/api/endpoints/" + n);
        endpoint->name = "Endpoint " + n;
        endpoint->endpointUrl = joblark::URL::parse("https://site" + n + ".example/health");
        endpoint->checkType = Endpoint::CheckType::get;
        endpoint->lastCheckStatus = Check::Status::ok;
        endpoint->degredationThreshold = 500;
        endpoint->ensureValidCert = true;
        endpoint->certCheckExpiryThreshold = 14;
        endpoint->isPublic = i % 2 == 0;
        endpoint->createdAt = dateFor(i);
        endpoint->updatedAt = dateFor(i + 1);
        state->endpoints->push_back(endpoint);

        auto measure = std::make_shared<Measure>();
        measure->id = "measure-" + n;
        measure->url = joblark::URL::parse("https://quillnest.example/api/measures/" + n);
        measure->name = "Measure " + n;
        measure->status = Measure::Status::active;
        measure->lastStatus = Assessment::Status::degraded;
        measure->isPublic = false;
        measure->createdAt = dateFor(i);
        measure->updatedAt = dateFor(i + 2);
        state->measures->push_back(measure);
    }
    return state;
}

// The same fields as the archive holds, as JSON would carry them.
Value dateValue(const std::optional<Date>& date) {
    return date ? Value(joblark::ISO8601::format(*date)) : Value();
}

Value jsonOf(const AppState& state) {
    Array endpoints;
    for (const auto& e : *state.endpoints)
        endpoints.emplace_back(Dictionary{{"id", *e->id},
                                          {"url", e->url->absoluteString()},
                                          {"name", *e->name},
                                          {"endpointUrl", e->endpointUrl->absoluteString()},
                                          {"checkType", std::string(rawValue(*e->checkType))},
                                          {"lastCheckStatus", std::string(rawValue(*e->lastCheckStatus))},
                                          {"degredationThreshold", *e->degredationThreshold},
                                          {"ensureValidCert", *e->ensureValidCert},
                                          {"certCheckExpiryThreshold", *e->certCheckExpiryThreshold},
                                          {"isPublic", *e->isPublic},
                                          {"createdAt", dateValue(e->createdAt)},
                                          {"updatedAt", dateValue(e->updatedAt)}});
    Array measures;
    for (const auto& m : *state.measures)
        measures.emplace_back(Dictionary{{"id", *m->id},
                                         {"url", m->url->absoluteString()},
                                         {"name", *m->name},
                                         {"status", std::string(rawValue(*m->status))},
                                         {"lastStatus", std::string(rawValue(*m->lastStatus))},
                                         {"isPublic", *m->isPublic},
                                         {"createdAt", dateValue(m->createdAt)},
                                         {"updatedAt", dateValue(m->updatedAt)}});
    Dictionary user{{"id", *state.user->id}, {"email", *state.user->email}};
    return Dictionary{{"user", user}, {"endpoints", endpoints}, {"measures", measures}};
}

// Reading JSON back into model objects, so that both sides end with the same AppState.
std::shared_ptr<AppState> stateFromJSON(const Value& json) {
    auto state = std::make_shared<AppState>();
    state->endpoints.emplace();
    state->measures.emplace();
    for (const auto& item : *json.find("endpoints")->asArray()) {
        auto endpoint = std::make_shared<Endpoint>();
        const auto& d = *item.asDictionary();
        endpoint->id = *d.at("id").asString();
        endpoint->url = joblark::URL::parse(*d.at("url").asString());
        endpoint->name = *d.at("name").asString();
        endpoint->endpointUrl = joblark::URL::parse(*d.at("endpointUrl").asString());
        endpoint->checkType = fromRawValue<Endpoint::CheckType>(*d.at("checkType").asString());
        endpoint->lastCheckStatus = fromRawValue<Check::Status>(*d.at("lastCheckStatus").asString());
        endpoint->degredationThreshold = d.at("degredationThreshold").asInteger();
        endpoint->ensureValidCert = d.at("ensureValidCert").asBool();
        endpoint->certCheckExpiryThreshold = d.at("certCheckExpiryThreshold").asInteger();
        endpoint->isPublic = d.at("isPublic").asBool();
        endpoint->createdAt = joblark::ISO8601::parseInternetDate(*d.at("createdAt").asString());
        endpoint->updatedAt = joblark::ISO8601::parseInternetDate(*d.at("updatedAt").asString());
        state->endpoints->push_back(endpoint);
    }
    for (const auto& item : *json.find("measures")->asArray()) {
        auto measure = std::make_shared<Measure>();
        const auto& d = *item.asDictionary();
        measure->id = *d.at("id").asString();
        measure->url = joblark::URL::parse(*d.at("url").asString());
        measure->name = *d.at("name").asString();
        measure->status = fromRawValue<Measure::Status>(*d.at("status").asString());
        measure->lastStatus = fromRawValue<Assessment::Status>(*d.at("lastStatus").asString());
        measure->isPublic = d.at("isPublic").asBool();
        measure->createdAt = joblark::ISO8601::parseInternetDate(*d.at("createdAt").asString());
        measure->updatedAt = joblark::ISO8601::parseInternetDate(*d.at("updatedAt").asString());
        state->measures->push_back(measure);
    }
    return state;
}

void ArchiveWrite(benchmark::State& s) {
    auto state = makeState();
    std::size_t bytes = 0;
    for (auto _ : s) {
        auto data = state->archivedData();
        if (!data) {
            s.SkipWithError(data.error()->localizedDescription().c_str());
            return;
        }
        bytes = data->size();
        benchmark::DoNotOptimize(data);
    }
    s.counters["bytes"] = static_cast<double>(bytes);
}

void ArchiveRead(benchmark::State& s) {
    auto data = makeState()->archivedData();
    for (auto _ : s) {
        auto state = AppState::fromArchive(*data);
        if (!state || (*state)->endpoints->size() != kResources) {
            s.SkipWithError("archive did not read back");
            return;
        }
        benchmark::DoNotOptimize(state);
    }
}

// The baseline: the same model objects to JSON text (building the tree included) and back.
void JSONWrite(benchmark::State& s) {
    auto state = makeState();
    std::size_t bytes = 0;
    for (auto _ : s) {
        auto text = joblark::JSON::write(jsonOf(*state));
        bytes = text->size();
        benchmark::DoNotOptimize(text);
    }
    s.counters["bytes"] = static_cast<double>(bytes);
}

void JSONRead(benchmark::State& s) {
    auto text = *joblark::JSON::write(jsonOf(*makeState()));
    for (auto _ : s) {
        auto parsed = joblark::JSON::parse(text);
        auto state = stateFromJSON(*parsed);
        if (state->endpoints->size() != kResources) {
            s.SkipWithError("JSON did not read back");
            return;
        }
        benchmark::DoNotOptimize(state);
    }
}

} // namespace

BENCHMARK(ArchiveWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(JSONWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(ArchiveRead)->Unit(benchmark::kMillisecond);
BENCHMARK(JSONRead)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
