#include "History/HistoryStore.hpp"
#include "Presentation/HistoryRecorder.hpp"

#include "../Presentation/ScreenFixture.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/RunLoop.hpp"

#include <fstream>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace kestrova;
using namespace kestrova::testing;
namespace fs = std::filesystem;

namespace {

const joblark::Date base = joblark::Date::fromTimeIntervalSince1970(1'800'000'000); // 2027-01-15 08:00 UTC

/// An endpoint whose history holds `count` checks, one every 30 s ending at `newest`, newest first;
/// every `downEvery`th one down.
std::shared_ptr<Endpoint> withChecks(std::string id, std::size_t count, joblark::Date newest,
                                     std::size_t downEvery = 0, std::string idPrefix = "c") {
    auto e = endpoint(std::move(id));
    e->history.emplace();
    for (std::size_t k = 0; k < count; ++k) {
        auto c = check(downEvery && k % downEvery == 0 ? Check::Status::down : Check::Status::ok,
                       static_cast<std::int64_t>(100 + k));
        c->createdAt = newest.addingTimeInterval(-30.0 * static_cast<double>(k));
        c->uuid = idPrefix + std::to_string(static_cast<long long>(c->createdAt->timeIntervalSince1970()));
        e->history->push_back(c);
    }
    return e;
}

class HistoryStoreTest : public ::testing::Test {
protected:
    joblark::testing::TemporaryDirectory dir;
    fs::path file = dir.path() / "history.sqlite3";
};

TEST_F(HistoryStoreTest, RecordsEachEntryOnceAndAnswersUptimeOverWindows) {
    auto store = HistoryStore::open(file);
    ASSERT_TRUE(store);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // 30 checks, then the next sync: 10 new ones and 20 seen before.
    EXPECT_EQ(store->record({withChecks("e", 30, base, 3)}, {}), 30u);
    EXPECT_EQ(store->record({withChecks("e", 30, base.addingTimeInterval(300), 3)}, {}), 10u);
    EXPECT_EQ(store->record({withChecks("e", 30, base.addingTimeInterval(300), 3)}, {}), 0u);
    // A reopened store knows what it has (its in-memory shortcut starts empty).
    store = HistoryStore::open(file);
    EXPECT_EQ(store->record({withChecks("e", 30, base.addingTimeInterval(300), 3)}, {}), 0u);

    const auto now = base.addingTimeInterval(300);
    const auto day = store->uptime("e", std::chrono::hours(24), now);
    ASSERT_TRUE(day);
    // 40 distinct checks; those at multiples of 90 s from the newest of each sync are down.
    const auto points = store->points("e", base.addingTimeInterval(-10'000));
    ASSERT_EQ(points.size(), 40u);
    const auto ok = std::count_if(points.begin(), points.end(),
                                  [](const auto& p) { return p.status == HistoryPoint::Status::ok; });
    EXPECT_DOUBLE_EQ(*day, static_cast<double>(ok) / 40.0);
    EXPECT_TRUE(points.front().at < points.back().at) << "oldest first";
    EXPECT_EQ(store->recent("e", 3).front().at, now) << "newest first";
    EXPECT_FALSE(store->uptime("other", std::chrono::hours(24), now));
    EXPECT_FALSE(store->uptime("e", std::chrono::hours(1), now.addingTimeInterval(86'400)))
        << "nothing that recent";
}

TEST_F(HistoryStoreTest, UptimeAcrossHourBoundariesMatchesACountOfTheEntries) {
    auto store = HistoryStore::open(file);
    // Three days of checks every 30 s, every 7th down, recorded in sync-sized pieces.
    const std::size_t total = 3 * 24 * 120;
    auto all = withChecks("e", total, base, 7);
    for (std::size_t start = 0; start < total; start += 3000) {
        auto part = endpoint("e");
        const auto end = std::min(total, start + 3000);
        part->history =
            std::vector<std::shared_ptr<Check>>(all->history->end() - static_cast<std::ptrdiff_t>(end),
                                                all->history->end() - static_cast<std::ptrdiff_t>(start));
        store->record({part}, {});
    }
    for (double offset : {0.0, 1234.5, 86'400.0 + 17}) {
        const auto now = base.addingTimeInterval(-offset);
        for (auto window : {std::chrono::hours(1), std::chrono::hours(24), std::chrono::hours(48)}) {
            const double from =
                now.timeIntervalSince1970() - static_cast<double>(std::chrono::seconds(window).count());
            std::size_t count = 0, ok = 0;
            for (const auto& c : *all->history) {
                const double at = c->createdAt->timeIntervalSince1970();
                if (at >= from && at <= now.timeIntervalSince1970()) {
                    ++count;
                    ok += c->status == Check::Status::ok;
                }
            }
            const auto uptime = store->uptime("e", window, now);
            ASSERT_TRUE(uptime);
            EXPECT_NEAR(*uptime, static_cast<double>(ok) / static_cast<double>(count), 1e-12)
                << "offset " << offset << " window " << window.count();
        }
    }
}

TEST_F(HistoryStoreTest, PruningDropsWhatIsOlderThanTheRetention) {
    auto store = HistoryStore::open(file);
    const auto old = base.addingTimeInterval(-100.0 * 86'400);
    store->record({withChecks("e", 10, old), withChecks("f", 10, base)}, {});
    store->prune(base);
    EXPECT_TRUE(store->recent("e", 10).empty());
    EXPECT_EQ(store->recent("f", 10).size(), 10u);
    EXPECT_FALSE(store->uptime("e", std::chrono::hours(24 * 365), base));
}

TEST_F(HistoryStoreTest, DamagedOrNewerDatabasesAreMovedAsideNotFatal) {
    auto asideFiles = [&] {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            n += entry.path().filename().string().find(".unreadable-") != std::string::npos;
        return n;
    };
    std::ofstream(file) << std::string(4096, 'x');
    joblark::LogCapture log;
    auto store = HistoryStore::open(file);
    ASSERT_TRUE(store);
    EXPECT_EQ(asideFiles(), 1u);
    EXPECT_TRUE(log.contains("is damaged"));
    EXPECT_EQ(store->record({withChecks("e", 3, base)}, {}), 3u);
    store.reset();

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    store = HistoryStore::open(file);
    ASSERT_TRUE(store);
    EXPECT_EQ(asideFiles(), 2u);
    EXPECT_TRUE(store->recent("e", 3).empty());

    // A directory it cannot write: no store, no crash.
    EXPECT_FALSE(HistoryStore::open(dir.path() / "missing" / "history.sqlite3"));
}

TEST_F(ScreenTest, RecorderFollowsTheStateAndSignOutDeletesTheHistory) {
    const auto file = home.path() / "history.sqlite3";
    auto recorder = HistoryRecorder::make(controller, file);
    controller->setCredentials("token");
    setState(std::vector{withChecks("e", 30, joblark::Date())}, std::vector<std::shared_ptr<Measure>>{});
    auto& center = joblark::NotificationCenter::defaultCenter();
    center.post(std::string(AppStateController::endpointsDidChange));
    center.post(std::string(AppStateController::measuresDidChange));
    // The two announcements are recorded once, from the main loop's next turn.
    EXPECT_EQ(joblark::RunLoop::main()->runOnce(), 2);
    recorder->flush();
    EXPECT_EQ(HistoryStore::open(file)->recent("e", 50).size(), 30u);

    std::optional<UptimeSummary> summary;
    recorder->uptime("e", [&](UptimeSummary s) { summary = s; });
    ASSERT_TRUE(joblark::testing::pumpMainUntil([&] { return summary.has_value(); }));
    EXPECT_EQ(summary->day, 1.0);
    EXPECT_EQ(uptimeSummaryText(*summary), "Uptime: 100.0% (24 h) · 100.0% (7 d) · 100.0% (30 d)");
    EXPECT_EQ(uptimeSummaryText({0.99962, std::nullopt, 0.5}),
              "Uptime: 99.9% (24 h) · – (7 d) · 50.0% (30 d)");

    bool loaded = false;
    recorder->loadRecentEntries([&] { loaded = true; });
    ASSERT_TRUE(joblark::testing::pumpMainUntil([&] { return loaded; }));
    ASSERT_TRUE(recorder->recentEntries("e"));
    EXPECT_EQ(recorder->recentEntries("e")->size(), 30u);

    center.post(std::string(AppStateController::didLogout));
    recorder->flush();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(recorder->recentEntries("e"));
}

} // namespace

TEST(HistoryChart, LongRangesAverageIntoBucketsLeaveGapsAndKeepFlatLinesFlat) {
    LineChartData styled;
    styled.dataSets.resize(2);
    styled.dataSets[1].entries = {{0, 1000}, {1, 1000}};
    std::vector<HistoryPoint> points(6);
    for (std::size_t k = 0; k < 4; ++k)
        points[k].value = static_cast<double>(k + 1); // the last two have no value

    auto chart = historyChart(styled, points, 3);
    EXPECT_EQ(chart.dataSets[0].entries, (std::vector<ChartDataEntry>{{0, 1.5}, {1, 3.5}}));
    EXPECT_EQ(chart.dataSets[1].entries, (std::vector<ChartDataEntry>{{0, 1000}, {1, 1000}, {2, 1000}}));
    EXPECT_EQ(chart.dataSets[0].circleRadius, styled.dataSets[0].circleRadius);

    chart = historyChart(styled, std::vector<HistoryPoint>(100, HistoryPoint{{}, {}, 7.0}));
    EXPECT_EQ(chart.dataSets[0].entries.size(), 100u);
    EXPECT_EQ(chart.dataSets[0].circleRadius, 0) << "markers would cover a long line";
    EXPECT_TRUE(historyChart(styled, {}).dataSets[1].entries.empty());
    EXPECT_EQ(chartRangeWindow(ChartRange::month), std::chrono::hours(720));
    EXPECT_FALSE(chartRangeWindow(ChartRange::recentChecks));
}
