// HTTP and JSON figures, each beside a baseline measured in the same run:
//   a 1.5 MB list body parsed into Value (and then into models)  vs. RapidJSON's own Document
//   1,000 sequential small GETs through APITasks                  vs. a bare libcurl easy handle
#include "joblark/API/APITask.hpp"
#include "joblark/API/ConstructableAPITask.hpp"
#include "joblark/Foundation/JSON.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <thread>

using namespace joblark;

namespace {

// 1,000 endpoint-shaped objects, each with a 30-entry history: about 1.5 MB.
const std::string& listBody() {
    static const std::string body = [] {
        std::string s =
            R"({"count":1000,"next":"https://svc.example/api/endpoints?since=x","previous":null,"results":[)";
        for (int i = 0; i < 1000; ++i) {
            if (i)
                s += ',';
            const std::string n = std::to_string(i);
            s +=
                R"({"uuid":"6f1c2b7e-0000-4000-8000-)" + std::string(12 - n.size(), '0') + n +
                R"(","url":"https://svc.example/api/endpoints/)" + n + R"(","name":"Endpoint )" + n +
                R"( \u2014 production","endpoint_url":"https://site-)" + n +
                R"(.example.com/health","check_type":"GET","degredation_threshold":0.75,)"
                R"("ensure_valid_cert":true,"cert_check_expiry_threshold":14,"public":false,"status":"active",)"
                R"("last_check_status":"ok","last_check_message":"200 OK in 123 ms",)"
                R"("created_at":"2026-11-30T12:00:00.123Z","updated_at":"2026-12-06T08:15:42.987654Z","history":[)";
            for (int h = 0; h < 30; ++h) {
                if (h)
                    s += ',';
                s += R"({"status":")" + std::string(h % 7 == 0 ? "degraded" : "ok") +
                     R"(","response_time":)" + std::to_string(100 + h * 3) + '.' + std::to_string(h % 10) +
                     R"(,"created_at":"2026-12-06T08:)" + (h < 10 ? "0" : "") + std::to_string(h) +
                     R"(:00.000Z"})";
            }
            s += "]}";
        }
        s += "]}";
        return s;
    }();
    return body;
}

void reportBytes(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listBody().size()));
}

void BM_ParseListBodyIntoValue(benchmark::State& state) {
    for (auto _ : state) {
        auto value = JSON::parse(listBody());
        if (!value)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    reportBytes(state);
}

void BM_Baseline_RapidJSONDocument(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(listBody().data(), listBody().size());
        if (document.HasParseError())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(document);
    }
    reportBytes(state);
}

// The same guarantees as JSON::parse asks of RapidJSON: UTF-8 checked, full-precision doubles.
void BM_Baseline_RapidJSONDocumentValidating(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag>(
            listBody().data(), listBody().size());
        if (document.HasParseError())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(document);
    }
    reportBytes(state);
}

// Teardown of what a parse built: the Value tree against RapidJSON's Document (its pool allocator
// frees in chunks).
void BM_TeardownOfParsedValue(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto value = std::make_unique<Value>(*JSON::parse(listBody()));
        state.ResumeTiming();
        value.reset();
    }
}

void BM_Baseline_RapidJSONDocumentTeardown(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto document = std::make_unique<rapidjson::Document>();
        document->Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag>(
            listBody().data(), listBody().size());
        state.ResumeTiming();
        document.reset();
    }
}

struct HistoryEntry {
    std::string status;
    double responseTime = 0;
};

// A small model of the kind an application builds from such a list.
struct Site : JSONConstructable {
    std::optional<std::string> uuid, name, url, lastStatus;
    std::optional<double> threshold;
    std::vector<HistoryEntry> history;

    void populate(const Dictionary& json) override {
        auto text = [&](const char* key) -> std::optional<std::string> {
            auto it = json.find(key);
            if (it != json.end() && it->second.asString())
                return *it->second.asString();
            return std::nullopt;
        };
        uuid = text("uuid");
        name = text("name");
        url = text("endpoint_url");
        lastStatus = text("last_check_status");
        if (auto it = json.find("degredation_threshold"); it != json.end())
            threshold = it->second.asDouble();
        if (auto it = json.find("history"); it != json.end() && it->second.asArray())
            for (const Value& entry : *it->second.asArray())
                if (const Value* status = entry.find("status"); status && status->asString())
                    history.push_back(
                        {*status->asString(), entry.find("response_time")
                                                  ? entry.find("response_time")->asDouble().value_or(0)
                                                  : 0});
    }
};

void BM_ParseListBodyIntoModels(benchmark::State& state) {
    for (auto _ : state) {
        auto value = JSON::parse(listBody());
        std::vector<Dictionary> list;
        if (value)
            if (const Value* results = value->find("results"); results && results->asArray())
                for (Value& element : *const_cast<Value*>(results)->asArray())
                    if (Dictionary* d = element.asDictionary())
                        list.push_back(std::move(*d));
        auto models = constructMultiple<Site>(list);
        if (models.size() != 1000)
            state.SkipWithError("wrong model count");
        benchmark::DoNotOptimize(models);
    }
    reportBytes(state);
}

// --- 1,000 sequential small GETs ---------------------------------------------------------------

constexpr int kRequests = 1000;

class SmallServer {
public:
    SmallServer() {
        server_.Get("/api/ping", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"ok":true,"message":"pong"})", "application/json");
        });
        server_.set_tcp_nodelay(true);              // else Nagle and delayed ACKs add 40 ms to every answer
        server_.set_keep_alive_max_count(1u << 20); // both clients keep one connection throughout
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~SmallServer() {
        server_.stop();
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api/ping"; }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

SmallServer& server() {
    static SmallServer instance;
    return instance;
}

class Ping : public APITask {
public:
    explicit Ping(URL target) : target_(std::move(target)) { setRequiresAuthentication(false); }
    URL url() const override { return target_; }

private:
    URL target_;
};

void reportPerRequest(benchmark::State& state) {
    state.counters["us_per_request"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kRequests / 1e6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One serial chain of 1,000 API tasks, each starting when the one before it has its answer.
void BM_SequentialGetsThroughAPITasks(benchmark::State& state) {
    static TaskController controller;
    const URL target = *URL::parse(server().url());
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<TaskPtr> chain;
        chain.reserve(kRequests);
        for (int i = 0; i < kRequests; ++i)
            chain.push_back(std::make_shared<Ping>(target));
        state.ResumeTiming();
        TaskController::performInSeries(chain, true);
        state.PauseTiming();
        for (const auto& task : chain)
            if (!std::static_pointer_cast<Ping>(task)->results())
                state.SkipWithError("request failed");
        state.ResumeTiming();
    }
    reportPerRequest(state);
}

// The same requests, the caller waiting for each before submitting the next.
void BM_SequentialGetsEachAwaited(benchmark::State& state) {
    static TaskController controller;
    const URL target = *URL::parse(server().url());
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            auto ping = std::make_shared<Ping>(target);
            TaskController::performInSeries(std::vector<TaskPtr>{ping}, true);
            if (!ping->results())
                state.SkipWithError("request failed");
        }
    }
    reportPerRequest(state);
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BM_Baseline_CurlEasyHandleReused(benchmark::State& state) {
    const std::string url = server().url();
    CURL* curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            body.clear();
            if (curl_easy_perform(curl) != CURLE_OK)
                state.SkipWithError("request failed");
            benchmark::DoNotOptimize(body);
        }
    }
    curl_easy_cleanup(curl);
    reportPerRequest(state);
}

} // namespace

BENCHMARK(BM_ParseListBodyIntoValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_RapidJSONDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_RapidJSONDocumentValidating)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TeardownOfParsedValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_RapidJSONDocumentTeardown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseListBodyIntoModels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SequentialGetsThroughAPITasks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SequentialGetsEachAwaited)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Baseline_CurlEasyHandleReused)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
