// Local history and find-as-you-type, each beside a baseline measured in the same run:
//   recording a sync of 1,000 endpoints x 30 checks into the history store
//        vs. the same 30,000 rows inserted by bare SQLite (one transaction, one prepared statement)
//   the main thread's part of that recording (what the recorder does before handing off)
//        vs. the writer's part
//   24 h / 7 d / 30 d uptime of one endpoint with 30 days of checks every 30 s (86,400 entries)
//        vs. a bare SQLite count over the raw entries with an index on (resource, time)
//   the overview filter over 2,000 endpoints for one keystroke
//        vs. a plain case-sensitive substring scan of the names
#include "History/HistoryStore.hpp"
#include "Model/Application.hpp"
#include "Presentation/HistoryRecorder.hpp"
#include "Presentation/OverviewFilter.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/UserDefaults.hpp"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

const joblark::Date newest = joblark::Date::fromTimeIntervalSince1970(1'800'000'000);

fs::path scratch() {
    static const fs::path dir = [] {
        auto path =
            fs::temp_directory_path() / ("kestrova-history-bench-" + std::to_string(std::random_device{}()));
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

std::shared_ptr<Endpoint> endpointWithChecks(std::size_t index, std::size_t count, double spacing,
                                             joblark::Date last = newest) {
    auto e = std::make_shared<Endpoint>();
    e->id = "endpoint-" + std::to_string(index);
    e->name = (index % 7 == 0 ? "Shop API " : "Service ") + std::to_string(index);
    e->endpointUrl = joblark::URL::parse("https://host" + std::to_string(index) + ".example/health");
    e->lastCheckStatus = index % 11 == 0 ? Check::Status::down : Check::Status::ok;
    e->history.emplace();
    e->history->reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        auto c = std::make_shared<Check>();
        c->createdAt = last.addingTimeInterval(-spacing * static_cast<double>(k));
        c->uuid = e->id.value() + "-" +
                  std::to_string(static_cast<long long>(c->createdAt->timeIntervalSince1970()));
        c->status = k % 17 == 0 ? Check::Status::down : Check::Status::ok;
        c->responseTime = static_cast<std::int64_t>(100 + k % 50);
        e->history->push_back(std::move(c));
    }
    return e;
}

std::vector<std::shared_ptr<Endpoint>> sync1000x30(joblark::Date last = newest) {
    std::vector<std::shared_ptr<Endpoint>> list;
    for (std::size_t i = 0; i < 1000; ++i)
        list.push_back(endpointWithChecks(i, 30, 30, last));
    return list;
}

void freshFile(const fs::path& file) {
    HistoryStore::remove(file);
    fs::remove(file);
}

void BM_RecordSync_HistoryStore(benchmark::State& state) {
    const auto list = sync1000x30();
    const auto file = scratch() / "record.sqlite3";
    for (auto _ : state) {
        state.PauseTiming();
        freshFile(file);
        auto store = HistoryStore::open(file);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->record(list, {}));
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RecordSync_HistoryStore)->Unit(benchmark::kMillisecond)->UseRealTime();

// The usual sync: every endpoint has one check more than last time.
void BM_RecordNextSync_HistoryStore(benchmark::State& state) {
    const auto file = scratch() / "steady.sqlite3";
    freshFile(file);
    auto store = HistoryStore::open(file);
    store->record(sync1000x30(), {});
    double shift = 0;
    for (auto _ : state) {
        state.PauseTiming();
        shift += 30;
        const auto next = sync1000x30(newest.addingTimeInterval(shift));
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->record(next, {}));
    }
}
BENCHMARK(BM_RecordNextSync_HistoryStore)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordSync_BareSQLite(benchmark::State& state) {
    const auto list = sync1000x30();
    const auto file = scratch() / "bare.sqlite3";
    for (auto _ : state) {
        state.PauseTiming();
        freshFile(file);
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                     "CREATE TABLE entries(resource TEXT, entry TEXT, at REAL, status INTEGER, value REAL,"
                     " PRIMARY KEY(resource, entry)) WITHOUT ROWID;",
                     nullptr, nullptr, nullptr);
        state.ResumeTiming();
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO entries VALUES(?,?,?,?,?)", -1, &insert, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (const auto& e : list)
            for (const auto& c : *e->history) {
                sqlite3_bind_text(insert, 1, e->id->c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(insert, 2, c->uuid->c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_double(insert, 3, c->createdAt->timeIntervalSince1970());
                sqlite3_bind_int(insert, 4, static_cast<int>(*c->status));
                sqlite3_bind_double(insert, 5, static_cast<double>(*c->responseTime));
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_finalize(insert);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RecordSync_BareSQLite)->Unit(benchmark::kMillisecond)->UseRealTime();

// The main thread's part: the recorder copies the two lists and posts them to its writer.
void BM_RecordSync_MainThreadPart(benchmark::State& state) {
    const auto home = scratch() / "home";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    joblark::UserDefaults::resetStandard(home / "UserDefaults.json");
    auto controller = AppStateController::make(home / "AppState.plist");
    controller->setCredentials("bench-token");
    controller->state = std::make_shared<AppState>();
    controller->state->user = std::make_shared<User>();
    controller->state->user->id = "bench";
    controller->state->endpoints = sync1000x30();
    auto recorder = HistoryRecorder::make(controller, home / "history.sqlite3");
    for (auto _ : state) {
        recorder->recordState();
        state.PauseTiming();
        recorder->flush();
        state.ResumeTiming();
    }
    recorder.reset();
    controller->setCredentials(std::nullopt);
}
BENCHMARK(BM_RecordSync_MainThreadPart)->Unit(benchmark::kMicrosecond)->UseRealTime();

/// 30 days of checks every 30 s for one endpoint, recorded 30 at a time as syncs would.
const fs::path& monthFile() {
    static const fs::path file = [] {
        auto path = scratch() / "month.sqlite3";
        auto store = HistoryStore::open(path);
        auto month = endpointWithChecks(0, 86'400, 30);
        auto& all = *month->history;
        for (std::size_t start = 0; start < all.size(); start += 3000) {
            auto slice = std::make_shared<Endpoint>();
            slice->id = month->id;
            slice->history.emplace(all.begin() + static_cast<std::ptrdiff_t>(start),
                                   all.begin() +
                                       static_cast<std::ptrdiff_t>(std::min(all.size(), start + 3000)));
            store->record({slice}, {});
        }
        return path;
    }();
    return file;
}

void BM_Uptime_HistoryStore(benchmark::State& state) {
    auto store = HistoryStore::open(monthFile());
    const std::chrono::hours window(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(store->uptime("endpoint-0", window, newest));
}
BENCHMARK(BM_Uptime_HistoryStore)->Arg(24)->Arg(24 * 7)->Arg(24 * 30)->Unit(benchmark::kMicrosecond);

void BM_Uptime_BareSQLiteCount(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(monthFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT count(*), sum(status = 0) FROM entries WHERE resource = ? AND at > ? AND at <= ?", -1,
        &query, nullptr);
    const double end = newest.timeIntervalSince1970();
    const double start = end - 3600.0 * static_cast<double>(state.range(0));
    for (auto _ : state) {
        sqlite3_bind_text(query, 1, "endpoint-0", -1, SQLITE_STATIC);
        sqlite3_bind_double(query, 2, start);
        sqlite3_bind_double(query, 3, end);
        sqlite3_step(query);
        benchmark::DoNotOptimize(sqlite3_column_int64(query, 1));
        sqlite3_reset(query);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
}
BENCHMARK(BM_Uptime_BareSQLiteCount)->Arg(24)->Arg(24 * 7)->Arg(24 * 30)->Unit(benchmark::kMicrosecond);

const std::vector<std::shared_ptr<Endpoint>>& twoThousand() {
    static const auto list = [] {
        std::vector<std::shared_ptr<Endpoint>> all;
        for (std::size_t i = 0; i < 2000; ++i)
            all.push_back(endpointWithChecks(i, 0, 30));
        return all;
    }();
    return list;
}

void BM_Filter2000_OverviewFilter(benchmark::State& state) {
    OverviewFilter filter;
    filter.query = "shop";
    filter.sort = state.range(0) ? OverviewFilter::Sort::worstFirst : OverviewFilter::Sort::creation;
    for (auto _ : state)
        benchmark::DoNotOptimize(filter.rows(twoThousand()));
}
BENCHMARK(BM_Filter2000_OverviewFilter)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Filter2000_PlainNameScan(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<std::size_t> rows;
        const auto& list = twoThousand();
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i]->name->find("Shop") != std::string::npos)
                rows.push_back(i);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_Filter2000_PlainNameScan)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    kestrova::identifyApplication();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(scratch(), ignored);
    return 0;
}
