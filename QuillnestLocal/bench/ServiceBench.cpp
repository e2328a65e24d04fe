// Figures for quillnest-local, each beside a baseline measured in the same run:
//  - GET /api/endpoints?page_size=100 for 100 endpoints of 30 checks each, from a plain libcurl client,
//    against the same client fetching a tiny JSON answer from the same server;
//  - one prober round over 1,000 endpoints on a local target, against 1,000 sequential libcurl GETs;
//  - the transport under load and abuse (200 keep-alive clients, a fresh client among 300 slow and 300
//    idle connections, a 64 MiB header flood), against today's transport: cpp-httplib with 48 threads,
//    one per connection, over the same Api.
#include "LoadClients.hpp"

#include "quillnest/Prober.hpp"
#include "quillnest/Service.hpp"
#include "quillnest/Storage.hpp"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
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
        // A demo-sized account (5 endpoints) for the load figures: under load every request's own cost
        // adds to everyone's wait, and the figures are about the transport.
        auto small = service->api().createAccount("small@example.com", "benchmark", &failure);
        smallToken = service->api().issueToken(small->id).first;
        for (int i = 0; i < 105; ++i) {
            EndpointRecord e;
            if (i >= 100) {
                e.userId = small->id;
                e.name = "Small " + std::to_string(i);
                e.endpointUrl = "https://small-" + std::to_string(i) + ".example.com/health";
                service->storage().createEndpoint(e, 1000);
                continue;
            }
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
    std::string smallToken;
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

// ---- the transport under load and abuse ----

/// The transport this service had before: cpp-httplib, a thread per connection (48), 10 s read time-out
/// per read, 2 s keep-alive, over the same Api.
struct ThreadPerConnection {
    explicit ThreadPerConnection(Api& api) {
        server.new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(48).release(); };
        server.set_tcp_nodelay(true);
        server.set_keep_alive_timeout(2);
        server.set_keep_alive_max_count(1000);
        server.set_read_timeout(10);
        server.set_write_timeout(10);
        server.set_payload_max_length(1024 * 1024);
        server.set_socket_options([](socket_t socket) {
            int yes = 1;
            ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        auto handler = [&api](const httplib::Request& r, httplib::Response& response) {
            Request request;
            request.method = r.method;
            request.path = r.path;
            for (const auto& [name, value] : r.params)
                request.query.emplace_back(name, value);
            for (const auto& [name, value] : r.headers)
                request.headers.emplace_back(name, value);
            request.body = r.body;
            auto reply = api.handle(request);
            response.status = reply.status;
            response.set_content(reply.body, reply.contentType.c_str());
        };
        server.Get(".*", handler);
        server.Post(".*", handler);
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        // Its backlog is 5: clients connecting before the accept loop runs would wait for SYN retries.
        for (int i = 0; i < 500 && !server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~ThreadPerConnection() {
        for (int attempt = 0; attempt < 50 && server.is_running(); ++attempt) {
            server.stop();
            httplib::Client knock("127.0.0.1", port);
            knock.set_connection_timeout(0, 100'000);
            knock.set_read_timeout(0, 200'000);
            (void)knock.Get("/");
        }
        thread.join();
    }
    httplib::Server server;
    int port = 0;
    std::thread thread;
};

enum Transport { ours = 0, threadPerConnection = 1 };

/// The port of the transport named by the benchmark's first argument, kept for the whole run.
int baselinePort() {
    static ThreadPerConnection baseline(seeded().service->api());
    return baseline.port;
}

int portOf(const benchmark::State& state) {
    return state.range(0) == ours ? seeded().service->port() : baselinePort();
}

// The list of 100 × 30 through the transport it replaced: what the transport adds to a large answer.
void BM_Baseline_ListEndpoints100x30ThreadPerConnection(benchmark::State& state) {
    measureRequests(state,
                    "http://127.0.0.1:" + std::to_string(baselinePort()) + "/api/endpoints?page_size=100",
                    seeded().token);
}
BENCHMARK(BM_Baseline_ListEndpoints100x30ThreadPerConnection)->UseRealTime()->MinTime(3);

std::string requestFor(const std::string& path, int port) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nAuthorization: Token " + seeded().smallToken + "\r\n\r\n";
}

void BM_KeepAliveClients(benchmark::State& state) {
    const int port = portOf(state);
    const auto clients = static_cast<int>(state.range(1));
    bench::LoadResult load;
    for (auto _ : state)
        load =
            bench::keepAliveLoad(port, requestFor("/api/endpoints", port), clients, std::chrono::seconds(5));
    state.counters["p50_ms"] = load.percentile(50);
    state.counters["p99_ms"] = load.percentile(99);
    state.counters["max_ms"] = load.percentile(100);
    state.counters["over_1s"] = static_cast<double>(load.over(1000));
    state.counters["req_per_s"] = load.perSecond();
    state.counters["failures"] = static_cast<double>(load.failures);
    state.counters["unanswered"] = static_cast<double>(load.unansweredMs.size());
    state.counters["connect_s"] = load.connectSeconds;
}
BENCHMARK(BM_KeepAliveClients)
    ->ArgNames({"baseline", "clients"})
    ->Args({ours, 48})
    ->Args({ours, 200})
    // 48 first: with 200, connections the old transport never served linger in its queue.
    ->Args({threadPerConnection, 48})
    ->Args({threadPerConnection, 200})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_FreshClientAmongHeldConnections(benchmark::State& state) {
    const int port = portOf(state);
    const int tries = state.range(0) == ours ? 20 : 4;
    std::vector<double> times;
    int unanswered = 0;
    for (auto _ : state) {
        bench::HeldConnections held(port, 300, 300, 100);
        std::atomic<bool> done{false};
        std::thread trickler([&] {
            while (!done) {
                held.trickle();
                for (int i = 0; i < 10 && !done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        for (int i = 0; i < tries; ++i) {
            auto answer = bench::exchange(port, requestFor("/api/me", port), std::chrono::seconds(3));
            times.push_back(answer.ms);
            unanswered += answer.status != 200;
        }
        done = true;
        trickler.join();
        state.counters["held_open"] = static_cast<double>(held.open());
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["max_ms"] = times.back();
    state.counters["unanswered"] = unanswered;
}
BENCHMARK(BM_FreshClientAmongHeldConnections)
    ->ArgNames({"baseline"})
    ->Arg(ours)
    ->Arg(threadPerConnection)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_HeaderFlood64MiB(benchmark::State& state) {
    const int port = portOf(state);
    bench::Flood flood;
    std::size_t before = 0;
    std::size_t after = 0;
    for (auto _ : state) {
        before = bench::residentBytes();
        flood = bench::headerFlood(port, 64u << 20, std::chrono::seconds(30));
        after = bench::residentBytes();
    }
    state.counters["refused_ms"] = flood.ms;
    state.counters["status"] = flood.status;
    state.counters["sent_MiB"] = static_cast<double>(flood.sent) / (1 << 20);
    state.counters["rss_growth_MB"] = (static_cast<double>(after) - static_cast<double>(before)) / 1e6;
}
// Ours first: the baseline's growth stays in the process.
BENCHMARK(BM_HeaderFlood64MiB)
    ->ArgNames({"baseline"})
    ->Arg(ours)
    ->Arg(threadPerConnection)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
