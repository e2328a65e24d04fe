// Application figures, each beside a baseline measured in the same run:
//   sync of 100 endpoints and 100 measures (30-entry histories) from quillnest-local
//        vs. three parallel plain-libcurl GETs of the same URLs plus a RapidJSON parse of each body
//   kestrova-cli status from a cache of 1,000 endpoints: whole-process time and peak memory
//        vs. /bin/true started the same way (both under /usr/bin/time, which reports the peak)
#include "Model/AppState.hpp"
#include "Model/Application.hpp"
#include "State/AppStateController.hpp"
#include "quillnest/Service.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path dir = [] {
        auto path = fs::temp_directory_path() / ("kestrova-bench-" + std::to_string(std::random_device{}()));
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

/// An in-process service with one account holding 100 endpoints and 100 measures, each with 30
/// history entries.
struct SeededService {
    SeededService() {
        quillnest::ServiceOptions options;
        options.port = 0;
        options.databasePath = scratch() / "service.sqlite3";
        options.prober = false;
        options.passwordCost = quillnest::PasswordCost::minimal;
        service = std::make_unique<quillnest::Service>(options);
        service->start();
        auto& storage = service->storage();
        quillnest::UserRecord user;
        storage.createUser("bench@quillnest.local",
                           quillnest::hashPassword("bench", quillnest::PasswordCost::minimal), 1000, &user);
        token = quillnest::newTokenKey();
        storage.addToken(user.id, quillnest::tokenHash(token));
        const auto now = quillnest::nowMillis();
        for (int i = 0; i < 100; ++i) {
            quillnest::EndpointRecord endpoint;
            endpoint.userId = user.id;
            endpoint.name = "Endpoint " + std::to_string(i);
            endpoint.endpointUrl = "https://site-" + std::to_string(i) + ".example.com/health";
            storage.createEndpoint(endpoint, 1000);
            for (int c = 0; c < 30; ++c) {
                quillnest::CheckRecord check;
                check.createdAt = now - (30 - c) * 60'000;
                check.ok = c % 9 != 0;
                check.status = check.ok ? "ok" : "degraded";
                check.responseTime = 100 + c;
                check.message = "200 OK";
                storage.recordCheck(endpoint.id, check);
            }
            quillnest::MeasureRecord measure;
            measure.userId = user.id;
            measure.name = "Measure " + std::to_string(i);
            quillnest::CriteriaRecord criterion;
            criterion.comparison = "less_than_equal";
            criterion.expectedValue = "100";
            criterion.valuePath = "queue.depth";
            measure.criteria.push_back(criterion);
            storage.createMeasure(measure);
            for (int a = 0; a < 30; ++a) {
                quillnest::AssessmentRecord assessment;
                assessment.createdAt = now - (30 - a) * 60'000;
                assessment.ok = true;
                assessment.status = "ok";
                assessment.measurement = std::to_string(40 + a);
                assessment.message = "40 <= 100";
                storage.recordAssessment(measure.id, assessment);
            }
        }
        url = service->publicUrl();
    }
    std::unique_ptr<quillnest::Service> service;
    std::string token;
    std::string url;
};

SeededService& seeded() {
    static SeededService instance;
    return instance;
}

std::shared_ptr<kestrova::AppStateController>& controller() {
    static std::shared_ptr<kestrova::AppStateController> instance = [] {
        static joblark::TaskController tasks;
        auto made = kestrova::AppStateController::make(scratch() / "AppState.plist");
        made->setCredentials(seeded().token);
        return made;
    }();
    return instance;
}

void BM_SyncThroughTheController(benchmark::State& state) {
    auto& app = controller();
    std::size_t endpoints = 0;
    for (auto _ : state) {
        bool done = false, ok = false;
        app->sync([&](bool success, joblark::ErrorPtr) {
            done = true;
            ok = success;
        });
        joblark::RunLoop::main()->runUntil([&] { return done; }, std::chrono::seconds(30));
        if (!ok)
            state.SkipWithError("sync failed");
        endpoints = app->state->endpoints ? app->state->endpoints->size() : 0;
        // The save it queued runs after the completion; it must not slow down the next call.
        state.PauseTiming();
        app->queue().sync([] {});
        state.ResumeTiming();
    }
    state.counters["endpoints"] = static_cast<double>(endpoints);
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BM_Baseline_ThreeParallelCurlGetsAndParse(benchmark::State& state) {
    const std::string base = seeded().url + "/api/";
    // The URLs the sync asks for.
    const std::vector<std::string> urls{base + "me", base + "endpoints?page_size=100",
                                        base + "measures?page_size=100"};
    const std::string authorization = "Authorization: Token " + seeded().token;
    CURLM* multi = curl_multi_init();
    std::vector<CURL*> handles;
    std::vector<std::string> bodies(urls.size());
    curl_slist* headers = curl_slist_append(nullptr, authorization.c_str());
    headers = curl_slist_append(headers, "Accept: application/json");
    for (std::size_t i = 0; i < urls.size(); ++i) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, urls[i].c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[i]);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING,
                         "gzip"); // as the client asks, so the server does the same work
        handles.push_back(easy);
    }
    for (auto _ : state) {
        for (std::size_t i = 0; i < handles.size(); ++i) {
            bodies[i].clear();
            curl_multi_add_handle(multi, handles[i]);
        }
        int running = 1;
        while (running) {
            curl_multi_perform(multi, &running);
            if (running)
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        for (auto* easy : handles)
            curl_multi_remove_handle(multi, easy);
        for (const auto& body : bodies) {
            rapidjson::Document document;
            document.Parse(body.data(), body.size());
            if (document.HasParseError() || !document.IsObject() || !document.HasMember("results"))
                state.SkipWithError(("not a list: " + body.substr(0, 200)).c_str());
            benchmark::DoNotOptimize(document);
        }
    }
    for (auto* easy : handles)
        curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);
}

// --- the terminal front end from a large cache ---

fs::path cliHome() {
    static const fs::path home = [] {
        auto dir = scratch() / "cli-home";
        fs::create_directories(dir / "cache" / "kestrova");
        auto state = std::make_shared<kestrova::AppState>();
        state->endpoints.emplace();
        state->measures.emplace();
        for (int i = 0; i < 1000; ++i) {
            auto endpoint = std::make_shared<kestrova::Endpoint>();
            endpoint->id = "endpoint-" + std::to_string(i);
            endpoint->name = "Endpoint " + std::to_string(i);
            endpoint->url = joblark::URL::parse("https://svc.example/api/endpoints/" + std::to_string(i));
            endpoint->endpointUrl =
                joblark::URL::parse("https://site-" + std::to_string(i) + ".example.com/");
            endpoint->lastCheckStatus =
                i % 50 == 0 ? kestrova::Check::Status::degraded : kestrova::Check::Status::ok;
            endpoint->createdAt = joblark::Date::fromTimeIntervalSince1970(1.7e9 + i);
            endpoint->updatedAt = joblark::Date::fromTimeIntervalSince1970(1.8e9 + i);
            state->endpoints->push_back(endpoint);
        }
        if (auto error = state->writeToFile(dir / "cache" / "kestrova" / "AppState.plist"))
            std::abort();
        return dir;
    }();
    return home;
}

/// Runs `program` with `arguments` (output discarded) under GNU time and returns its peak memory
/// in KiB. Spawned straight from this large process, a child's maximum resident size would start at
/// ours; time, itself small, starts the program and reports the figure of the program alone.
long runOnce(const char* program, std::vector<std::string> arguments, benchmark::State& state) {
    const auto report = scratch() / "time.out";
    std::vector<std::string> env{"HOME=" + cliHome().string(),
                                 "XDG_CACHE_HOME=" + (cliHome() / "cache").string(),
                                 "XDG_CONFIG_HOME=" + (cliHome() / "config").string(),
                                 "XDG_DATA_HOME=" + (cliHome() / "data").string(),
                                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus",
                                 "LANG=C.UTF-8",
                                 "KESTROVA_SERVICE_URL=http://127.0.0.1:9"};
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    arguments.insert(arguments.begin(), {"/usr/bin/time", "-f", "%M", "-o", report.string(), program});
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        state.SkipWithError("could not start /usr/bin/time");
        return 0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    // The figure is the last line ("Command exited with non-zero status 3" may come first).
    std::ifstream in(report);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return std::atol(last.c_str());
}

void BM_CommandLineStatusFromACacheOf1000(benchmark::State& state) {
    long peak = 0;
    for (auto _ : state)
        peak = std::max(peak, runOnce(KESTROVA_CLI_PATH, {"status", "--offline"}, state));
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
}

void BM_Baseline_ProcessStart(benchmark::State& state) {
    long peak = 0;
    for (auto _ : state)
        peak = std::max(peak, runOnce("/bin/true", {}, state));
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
}

} // namespace

BENCHMARK(BM_SyncThroughTheController)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline_ThreeParallelCurlGetsAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommandLineStatusFromACacheOf1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_Baseline_ProcessStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

int main(int argc, char** argv) {
    kestrova::identifyApplication("error");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    ::setenv("XDG_CONFIG_HOME", (scratch() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (scratch() / "data").c_str(), 1);
    // The client reads the service's address once; the seeded service has to be up first.
    ::setenv("KESTROVA_SERVICE_URL", seeded().url.c_str(), 1);
    joblark::UserDefaults::standard().set(false, kestrova::AppStateController::kShouldAutoRefresh);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    seeded().service->stop();
    std::error_code ignored;
    if (!std::getenv("KESTROVA_BENCH_KEEP"))
        fs::remove_all(scratch(), ignored);
    else
        std::fprintf(stderr, "kept %s\n", scratch().c_str());
    return 0;
}
