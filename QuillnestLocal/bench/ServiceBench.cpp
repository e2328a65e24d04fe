// Figures for quillnest-local, each beside a baseline measured in the same run:
//  - GET /api/endpoints?page_size=100 for 100 endpoints of 30 checks each, from a plain libcurl client,
//    against the same client fetching a tiny JSON answer from the same server;
//  - one prober round over 1,000 endpoints on a local target, against 1,000 sequential libcurl GETs.
#include "quillnest/Prober.hpp"
#include "quillnest/Service.hpp"
#include "quillnest/Storage.hpp"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <thread>

namespace {

using namespace quillnest;

std::filesystem::path freshDatabase(const char* name) {
    std::random_device random;
    auto dir = std::filesystem::temp_directory_path() / ("quillnest-bench-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    return dir / name;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

/// One reused libcurl handle (keep-alive), as a plain client would use it.
class PlainClient {
public:
    explicit PlainClient(const std::string& token) : handle_(curl_easy_init()) {
        if (!token.empty())
            headers_.reset(curl_slist_append(nullptr, ("Authorization: Token " + token).c_str()));
        curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.get());
        curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, &PlainClient::collect);
        curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &body_);
    }
    /// The status; the body stays in body().
    long get(const std::string& url) {
        body_.clear();
        curl_easy_setopt(handle_.get(), CURLOPT_URL, url.c_str());
        if (curl_easy_perform(handle_.get()) != CURLE_OK)
            return 0;
        long status = 0;
        curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
    const std::string& body() const { return body_; }

private:
    static std::size_t collect(char* data, std::size_t size, std::size_t count, void* context) {
        static_cast<std::string*>(context)->append(data, size * count);
        return size * count;
    }
    std::unique_ptr<CURL, CurlDeleter> handle_;
    std::unique_ptr<curl_slist, ListDeleter> headers_;
    std::string body_;
};

/// The service with one account of 100 endpoints, each with a full history of 30 checks.
struct SeededService {
    SeededService() {
        ServiceOptions options;
        options.port = 0;
        options.databasePath = database;
        options.prober = false;
        options.passwordCost = PasswordCost::minimal;
        options.endpointLimit = 1000;
        service = std::make_unique<Service>(options);
        service->start();
        std::string failure;
        auto user = service->api().createAccount("bench@example.com", "benchmark", &failure);
        token = service->api().issueToken(user->id).first;
        for (int i = 0; i < 100; ++i) {
            EndpointRecord e;
            e.userId = user->id;
            e.name = "Endpoint " + std::to_string(i);
            e.endpointUrl = "https://service-" + std::to_string(i) + ".example.com/health";
            service->storage().createEndpoint(e, 1000);
            for (int c = 0; c < Storage::historyLimit; ++c) {
                CheckRecord check;
                check.createdAt = nowMillis() - (30 - c) * 60000;
                check.responseTime = 40 + (c * 7) % 90;
                check.status = c % 10 == 0 ? "degraded" : "ok";
                check.ok = check.status == "ok";
                check.message = "Responded with HTTP 200 in " + std::to_string(check.responseTime) + " ms";
                service->storage().recordCheck(e.id, check);
            }
        }
    }
    ~SeededService() {
        service.reset();
        std::error_code ec;
        std::filesystem::remove_all(database.parent_path(), ec);
    }
    std::filesystem::path database = freshDatabase("list.sqlite3");
    std::unique_ptr<Service> service;
    std::string token;
};

SeededService& seeded() {
    static SeededService instance;
    return instance;
}

void measureRequests(benchmark::State& state, const std::string& url, const std::string& token) {
    PlainClient client(token);
    std::vector<double> latencies;
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        auto status = client.get(url);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
        if (status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        bytes = client.body().size();
    }
    if (latencies.empty())
        return;
    std::nth_element(latencies.begin(), latencies.begin() + static_cast<long>(latencies.size() / 2),
                     latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["req_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(bytes);
}

void BM_ListEndpoints100x30(benchmark::State& state) {
    auto& s = seeded();
    measureRequests(state, s.service->publicUrl() + "/api/endpoints?page_size=100", s.token);
}
BENCHMARK(BM_ListEndpoints100x30)->UseRealTime()->MinTime(3);

void BM_Baseline_TinyAnswerSameServer(benchmark::State& state) {
    auto& s = seeded();
    measureRequests(state, s.service->publicUrl() + "/demo/ok", {});
}
BENCHMARK(BM_Baseline_TinyAnswerSameServer)->UseRealTime()->MinTime(3);

/// A target that answers at once.
struct Target {
    Target() {
        server.new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(16).release(); };
        server.set_keep_alive_timeout(1);
        server.set_tcp_nodelay(true);
        server.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok", "text/plain");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~Target() {
        for (int attempt = 0; attempt < 50 && server.is_running(); ++attempt) {
            server.stop();
            httplib::Client knock("127.0.0.1", port);
            knock.set_connection_timeout(0, 100'000);
            (void)knock.Get("/ok");
        }
        thread.join();
    }
    std::string url(int i) const {
        return "http://127.0.0.1:" + std::to_string(port) + "/ok?e=" + std::to_string(i);
    }
    httplib::Server server;
    int port = 0;
    std::thread thread;
};

void BM_ProbeRound1000Endpoints(benchmark::State& state) {
    Target target;
    auto database = freshDatabase("probe.sqlite3");
    std::optional<Storage> storageHolder(std::in_place, database);
    auto& storage = *storageHolder;
    UserRecord user;
    storage.createUser("probe@example.com", "hash", 5000, &user);
    for (int i = 0; i < 1000; ++i) {
        EndpointRecord e;
        e.userId = user.id;
        e.name = "target " + std::to_string(i);
        e.endpointUrl = target.url(i);
        storage.createEndpoint(e, 5000);
    }
    {
        Prober prober(storage, ProberOptions{30, 32, 10});
        for (auto _ : state) {
            auto stored = prober.runRound();
            if (stored != 1000)
                state.SkipWithError("not every endpoint was checked");
        }
    }
    state.counters["checks_per_s"] =
        benchmark::Counter(1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    storageHolder.reset();
    std::error_code ec;
    std::filesystem::remove_all(database.parent_path(), ec);
}
BENCHMARK(BM_ProbeRound1000Endpoints)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Baseline_1000SequentialCurlGets(benchmark::State& state) {
    Target target;
    PlainClient client({});
    for (auto _ : state)
        for (int i = 0; i < 1000; ++i)
            if (client.get(target.url(i)) != 200) {
                state.SkipWithError("request failed");
                return;
            }
}
BENCHMARK(BM_Baseline_1000SequentialCurlGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
