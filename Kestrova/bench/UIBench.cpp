// The desktop client's figures, each beside a bare Qt baseline measured in the same run:
//   overview reload of 1,000 endpoints + 1,000 measures in the real overview window (the screen's
//        snapshot, difference, model update, paint of one viewport) vs. a QListView + QStringListModel of the
//        same 2,000 names (new list, paint of one viewport)
//   a reload where 10 of the 2,000 rows changed: the cards painted again are counted
//   cold start to the first painted window: kestrova from a cache of 1,000 endpoints vs. a bare
//        QMainWindow (this file built with KESTROVA_BARE_WINDOW), time and peak memory
// Everything runs on the offscreen platform.

#ifdef KESTROVA_BARE_WINDOW

#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QStringListModel>

#include <cstdlib>

namespace {
// Leaves at the first paint of the window's list, as kestrova does for the benchmark.
class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            QMetaObject::invokeMethod(
                qApp, [] { std::_Exit(0); }, Qt::QueuedConnection);
        return false;
    }
};
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    QStringListModel model(QStringList{QStringLiteral("Endpoint 1"), QStringLiteral("Endpoint 2")});
    QListView list;
    list.setModel(&model);
    FirstPaint quit;
    list.viewport()->installEventFilter(&quit);
    window.setCentralWidget(&list);
    window.resize(460, 640);
    window.show();
    return QApplication::exec();
}

#else

#include "Model/AppState.hpp"
#include "Model/Application.hpp"
#include "Model/User.hpp"
#include "Presentation/Cards.hpp"
#include "State/AppStateController.hpp"
#include "UI/App/Application.hpp"
#include "UI/Kit/Cards.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/MainLoop.hpp"
#include "UI/Kit/SnapshotListModel.hpp"
#include "UI/Overview/OverviewWindow.hpp"

#include "joblark/Foundation/UUID.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListView>
#include <QStringListModel>
#include <QStyledItemDelegate>

#include <filesystem>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using kestrova::Endpoint;
using kestrova::Measure;

// The overview's identifiers: a row by resource id and update time, a section by its id and the
// reload time (so every reload makes new section identities).
struct Identifier {
    std::string id;
    double updatedAt = 0;
    bool operator==(const Identifier&) const = default;
};

} // namespace

template <>
struct std::hash<Identifier> {
    std::size_t operator()(const Identifier& identifier) const noexcept {
        return std::hash<std::string>{}(identifier.id) ^ std::hash<double>{}(identifier.updatedAt);
    }
};

namespace {

constexpr int kResources = 1000;

template <class Item>
std::vector<std::shared_ptr<Item>> historyOf(int seed) {
    std::vector<std::shared_ptr<Item>> history;
    for (int i = 0; i < 30; ++i) {
        auto item = std::make_shared<Item>();
        const int v = (seed * 31 + i * 7) % 29;
        item->status = v == 0 ? Item::Status::down : v == 1 ? Item::Status::degraded : Item::Status::ok;
        history.push_back(item);
    }
    return history;
}

struct Resources {
    std::vector<std::shared_ptr<Endpoint>> endpoints;
    std::vector<std::shared_ptr<Measure>> measures;
};

Resources& resources() {
    static Resources made = [] {
        Resources r;
        for (int i = 0; i < kResources; ++i) {
            auto endpoint = std::make_shared<Endpoint>();
            endpoint->id = "endpoint-" + std::to_string(i);
            endpoint->name = "Endpoint " + std::to_string(i);
            endpoint->updatedAt = joblark::Date::fromTimeIntervalSince1970(1.8e9 + i);
            endpoint->history = historyOf<kestrova::Check>(i);
            endpoint->lastCheckStatus = endpoint->history->front()->status;
            r.endpoints.push_back(endpoint);
            auto measure = std::make_shared<Measure>();
            measure->id = "measure-" + std::to_string(i);
            measure->name = "Measure " + std::to_string(i);
            measure->updatedAt = joblark::Date::fromTimeIntervalSince1970(1.8e9 + i);
            measure->history = historyOf<kestrova::Assessment>(i);
            measure->lastStatus = measure->history->front()->status;
            r.measures.push_back(measure);
        }
        return r;
    }();
    return made;
}

using Snapshot = joblark::DiffableSnapshot<Identifier, Identifier>;

// What the overview's reload does: one row per resource in list order, sections stamped now.
Snapshot snapshotOf(const Resources& r) {
    const double now = joblark::Date().timeIntervalSince1970();
    Snapshot snapshot;
    std::vector<Identifier> rows;
    rows.reserve(kResources);
    auto row = [](const auto& resource) {
        return Identifier{*resource->id, resource->updatedAt->timeIntervalSince1970()};
    };
    snapshot.appendSections({{"Endpoint-Section", now}});
    for (const auto& e : r.endpoints)
        rows.push_back(row(e));
    snapshot.appendItems(rows);
    rows.clear();
    snapshot.appendSections({{"Measure-Section", now}});
    for (const auto& m : r.measures)
        rows.push_back(row(m));
    snapshot.appendItems(rows);
    return snapshot;
}

fs::path scratch();

// The real overview window on a controller holding the 2,000 resources: the list's reload goes
// through the overview screen, its snapshot, the reconciliation, the Qt model and the card delegate.
struct Overview {
    std::shared_ptr<kestrova::AppStateController> controller;
    std::unique_ptr<kestrova::ui::DesktopApplication> app;
    kestrova::ui::OverviewWindow* window = nullptr;

    Overview() {
        controller = kestrova::AppStateController::make(scratch() / "overview" / "AppState.plist");
        auto state = std::make_shared<kestrova::AppState>();
        state->user = std::make_shared<kestrova::User>();
        state->user->id = "1";
        state->endpoints.emplace(resources().endpoints);
        state->measures.emplace(resources().measures);
        controller->state = state;
        controller->setCredentials("bench-token");
        kestrova::ui::DesktopApplication::Options options;
        options.controller = controller;
        options.pluginFolders = std::vector<fs::path>{};
        options.historyFile = std::nullopt;
        app = std::make_unique<kestrova::ui::DesktopApplication>(options);
        app->launch();
        window = qobject_cast<kestrova::ui::OverviewWindow*>(
            app->windows().window(kestrova::WindowKind::overview));
        if (!window)
            std::abort();
        window->resize(900, 900);
        QCoreApplication::processEvents();
    }
    ~Overview() {
        app.reset();
        controller->queue().sync([] {});
    }
    kestrova::ui::CardListView& view() { return *window->sidebar()->listView(); }
    void reload() { window->list()->reload(); }
    void paint() { view().viewport()->repaint(); }
};

void BM_Overview_ReloadOf2000AndPaint(benchmark::State& state) {
    Overview overview;
    overview.view().cardDelegate()->resetCardsPainted();
    for (auto _ : state) {
        overview.reload();
        overview.paint();
    }
    state.counters["cards_painted_per_reload"] =
        benchmark::Counter(static_cast<double>(overview.view().cardDelegate()->cardsPainted()),
                           benchmark::Counter::kAvgIterations);
}

// Qt's own delegate, counting what it paints so the baseline shows it did paint a viewport.
class CountingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        ++painted;
        QStyledItemDelegate::paint(painter, option, index);
    }
    mutable std::size_t painted = 0;
};

void BM_Baseline_QStringListModelOf2000AndPaint(benchmark::State& state) {
    QStringList names;
    for (int i = 0; i < kResources; ++i)
        names << QStringLiteral("Endpoint %1").arg(i);
    for (int i = 0; i < kResources; ++i)
        names << QStringLiteral("Measure %1").arg(i);
    QStringListModel model(names);
    QListView view;
    CountingDelegate delegate;
    view.setItemDelegate(&delegate);
    view.setModel(&model);
    view.resize(400, 800);
    view.show();
    QCoreApplication::processEvents();
    delegate.painted = 0;
    for (auto _ : state) {
        model.setStringList(names); // a reload: the whole list again
        view.doItemsLayout();       // QListView defers its layout to a timer; the tree lays out at paint
        view.viewport()->repaint();
    }
    state.counters["rows_painted_per_reload"] =
        benchmark::Counter(static_cast<double>(delegate.painted), benchmark::Counter::kAvgIterations);
}

// The reload alone (no Qt): snapshot from the model objects and the reconciliation.
void BM_Overview_SnapshotAndDifferenceOnly(benchmark::State& state) {
    const Snapshot shown = snapshotOf(resources());
    for (auto _ : state) {
        const Snapshot next = snapshotOf(resources());
        auto steps = kestrova::reconcile(
            shown, next, [](const Identifier& s) { return s.id; },
            [](const Identifier& row) { return row.id; });
        benchmark::DoNotOptimize(steps);
    }
}

// 10 of 2,000 rows checked again (new update time); what the view paints afterwards is counted.
void BM_Overview_ReloadWith10ChangedAndRepaint(benchmark::State& state) {
    Overview overview;
    overview.window->resize(900, 1900); // the 10 changed rows (every other one from the top) all in view
    QCoreApplication::processEvents();
    auto& r = resources();
    std::size_t painted = 0, iterations = 0;
    double tick = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tick += 1;
        for (int i = 0; i < 10; ++i)
            r.endpoints[static_cast<std::size_t>(i * 2)]->updatedAt =
                joblark::Date::fromTimeIntervalSince1970(1.9e9 + tick);
        overview.view().cardDelegate()->resetCardsPainted();
        state.ResumeTiming();
        overview.reload();
        QCoreApplication::processEvents(); // the view repaints what the model announced, and only that
        painted += overview.view().cardDelegate()->cardsPainted();
        ++iterations;
    }
    state.counters["cards_repainted_per_reload"] =
        static_cast<double>(painted) / static_cast<double>(iterations);
}

// --- cold start ---

fs::path scratch() {
    static const fs::path dir = [] {
        auto path =
            fs::temp_directory_path() / ("kestrova-ui-bench-" + std::to_string(std::random_device{}()));
        fs::create_directories(path / "cache" / "kestrova");
        // The cache kestrova starts from: a signed-in user's 1,000 endpoints.
        auto state = std::make_shared<kestrova::AppState>();
        state->user = std::make_shared<kestrova::User>();
        state->user->id = "1";
        state->user->email = "bench@quillnest.local";
        state->endpoints.emplace(resources().endpoints);
        state->measures.emplace();
        if (auto error = state->writeToFile(path / "cache" / "kestrova" / "AppState.plist"))
            std::abort();
        return path;
    }();
    return dir;
}

// Runs `program` under GNU time (so the peak is the program's, not this large process's) and
// returns its peak memory in KiB.
long startToFirstPaint(const char* program, benchmark::State& state) {
    const auto report = scratch() / "time.out";
    std::vector<std::string> env{"HOME=" + scratch().string(),
                                 "XDG_CACHE_HOME=" + (scratch() / "cache").string(),
                                 "XDG_CONFIG_HOME=" + (scratch() / "config").string(),
                                 "XDG_DATA_HOME=" + (scratch() / "data").string(),
                                 "XDG_RUNTIME_DIR=" + scratch().string(),
                                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus",
                                 "QT_QPA_PLATFORM=offscreen",
                                 "LANG=C.UTF-8",
                                 "KESTROVA_EXIT_AFTER_FIRST_PAINT=1",
                                 "KESTROVA_SERVICE_URL=http://127.0.0.1:9"};
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments{"/usr/bin/time", "-f", "%M", "-o", report.string(), program};
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError("the program did not reach its first paint");
    std::ifstream in(report);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return std::atol(last.c_str());
}

void coldStart(benchmark::State& state, const char* program) {
    long peak = 0;
    for (auto _ : state)
        peak = std::max(peak, startToFirstPaint(program, state));
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
}

void BM_ColdStart_KestrovaFromACacheOf1000(benchmark::State& state) {
    coldStart(state, KESTROVA_PATH);
}

void BM_Baseline_ColdStart_BareQMainWindow(benchmark::State& state) {
    coldStart(state, BARE_WINDOW_PATH);
}

} // namespace

BENCHMARK(BM_Overview_ReloadOf2000AndPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_QStringListModelOf2000AndPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overview_SnapshotAndDifferenceOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overview_ReloadWith10ChangedAndRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColdStart_KestrovaFromACacheOf1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK(BM_Baseline_ColdStart_BareQMainWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

int main(int argc, char** argv) {
    // The in-process overview keeps its files (preferences, cache, credentials) in the scratch folder.
    for (const auto& [name, sub] : {std::pair{"HOME", ""},
                                    {"XDG_CONFIG_HOME", "config"},
                                    {"XDG_DATA_HOME", "data"},
                                    {"XDG_CACHE_HOME", "cache"}})
        setenv(name, (scratch() / sub).c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    setenv("KESTROVA_SERVICE_URL", "http://127.0.0.1:9", 1); // nothing answers: no sync gets through
    kestrova::identifyApplication("error");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kestrova::ui::initResources();
    kestrova::ui::MainLoopIntegration mainLoop;
    kestrova::AppStateController::registerDefaults();
    joblark::UserDefaults::standard().set(false, kestrova::AppStateController::kShouldAutoRefresh);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#endif
