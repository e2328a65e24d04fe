#include "Harness.hpp"

#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <httplib.h>

#include <QApplication>

#include <chrono>
#include <cmath>

namespace kestrova::ui::tests {

DemoService::DemoService(const std::filesystem::path& directory,
                         const std::vector<std::string>& extraArguments) {
    std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--db",
                                       (directory / "service.sqlite3").string(), "--demo"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    process_ = std::make_unique<kestrova::testing::ChildProcess>(QUILLNEST_LOCAL_PATH, arguments);
    using std::chrono::seconds;
    constexpr std::string_view serving = "quillnest-local serving ";
    if (auto line = process_->waitForLine(std::string(serving), seconds(30))) {
        auto rest = line->substr(serving.size());
        url = rest.substr(0, rest.find(' '));
    }
    if (auto line = process_->waitForLine("Demo token: ", seconds(30)))
        token = line->substr(12);
}

std::optional<joblark::Value> DemoService::get(const std::string& path, int* status) const {
    httplib::Client client(url);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    auto reply = client.Get(path, httplib::Headers{{"Authorization", "Token " + token}});
    if (status)
        *status = reply ? reply->status : 0;
    if (!reply || reply->status != 200)
        return std::nullopt;
    auto parsed = joblark::JSON::parse(reply->body);
    if (!parsed)
        return std::nullopt;
    return *parsed;
}

AppHarness::AppHarness(const std::filesystem::path& folder) {
    purgeCredentials();
    controller_ = AppStateController::make(folder / "AppState.plist");
    DesktopApplication::Options options;
    options.controller = controller_;
    options.pluginFolders = std::vector<std::filesystem::path>{}; // no update plug-in
    options.historyFile = folder / "history.sqlite3";
    app_ = std::make_unique<DesktopApplication>(options);
}

AppHarness::~AppHarness() {
    app_->shutDown();
    app_.reset();
    controller_->queue().sync([] {});
}

QModelIndex rowNamed(OverviewSidebar& sidebar, const std::string& name) {
    auto& model = sidebar.model();
    for (int s = 0; s < model.rowCount(); ++s) {
        const QModelIndex section = model.index(s, 0);
        for (int r = 0; r < model.rowCount(section); ++r) {
            const QModelIndex row = model.index(r, 0, section);
            if (auto cell = model.cell(row); cell && cell->text == name)
                return row;
        }
    }
    return {};
}

std::vector<std::string> rowNames(OverviewSidebar& sidebar) {
    std::vector<std::string> names;
    auto& model = sidebar.model();
    for (int s = 0; s < model.rowCount(); ++s)
        for (int r = 0; r < model.rowCount(model.index(s, 0)); ++r)
            if (auto cell = model.cell(model.index(r, 0, model.index(s, 0))))
                names.push_back(cell->text);
    return names;
}

QMessageBox* openAlert(QWidget* window) {
    const auto boxes = window ? window->findChildren<QMessageBox*>() : [] {
        QList<QMessageBox*> all;
        for (auto* top : QApplication::topLevelWidgets())
            all += top->findChildren<QMessageBox*>();
        return all;
    }();
    for (auto* box : boxes)
        if (box->isVisible())
            return box;
    return nullptr;
}

QAbstractButton* buttonNamed(QMessageBox& box, const QString& text) {
    for (auto* button : box.buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

namespace {

template <class Entry>
std::vector<std::shared_ptr<Entry>> history(const std::vector<typename Entry::Status>& statuses,
                                            const std::function<void(Entry&, std::size_t)>& fill) {
    std::vector<std::shared_ptr<Entry>> entries;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        auto entry = std::make_shared<Entry>();
        entry->uuid = "entry-" + std::to_string(i);
        entry->status = statuses[i];
        entry->createdAt = joblark::Date().addingTimeInterval(-60.0 * static_cast<double>(i));
        fill(*entry, i);
        entries.push_back(entry);
    }
    return entries;
}

template <class Status>
std::vector<Status> pattern(std::size_t count, const std::function<Status(std::size_t)>& at) {
    std::vector<Status> statuses;
    for (std::size_t i = 0; i < count; ++i)
        statuses.push_back(at(i));
    return statuses;
}

} // namespace

std::shared_ptr<AppState> demoState() {
    using S = Check::Status;
    using A = Assessment::Status;
    auto state = std::make_shared<AppState>();
    state->user = std::make_shared<User>();
    state->user->id = "demo";
    state->user->email = "demo@quillnest.local";
    state->user->isStatusPageEnabled = true;
    const joblark::Date now;
    struct EndpointSpec {
        const char* name;
        const char* path;
        std::function<S(std::size_t)> status;
        std::function<double(std::size_t)> milliseconds;
        Endpoint::CheckType type;
    };
    const std::vector<EndpointSpec> endpoints{
        {"Demo OK", "/demo/ok", [](std::size_t) { return S::ok; },
         [](std::size_t i) { return 40 + 12 * std::sin(static_cast<double>(i) / 2.5); },
         Endpoint::CheckType::get},
        {"Demo Slow", "/demo/slow", [](std::size_t i) { return i % 7 == 3 ? S::ok : S::degraded; },
         [](std::size_t i) { return i % 7 == 3 ? 820.0 : 1500 + 30 * std::cos(static_cast<double>(i)); },
         Endpoint::CheckType::get},
        {"Demo Flaky", "/demo/flaky", [](std::size_t i) { return i % 3 == 2 ? S::down : S::ok; },
         [](std::size_t i) { return i % 3 == 2 ? 0.0 : 55 + 20 * std::sin(static_cast<double>(i)); },
         Endpoint::CheckType::head},
        {"Demo Down", "/demo/down", [](std::size_t) { return S::down; }, [](std::size_t) { return 0.0; },
         Endpoint::CheckType::get},
        {"Demo Metrics", "/demo/metrics", [](std::size_t) { return S::ok; },
         [](std::size_t i) { return 70 + 25 * std::cos(static_cast<double>(i) / 3.0); },
         Endpoint::CheckType::get},
    };
    std::vector<std::shared_ptr<Endpoint>> endpointList;
    for (std::size_t n = 0; n < endpoints.size(); ++n) {
        const auto& seed = endpoints[n];
        auto e = std::make_shared<Endpoint>();
        e->id = "e" + std::to_string(n + 1);
        e->name = seed.name;
        e->url = joblark::URL::parse("http://127.0.0.1:8787/api/endpoints/" + *e->id);
        e->endpointUrl = joblark::URL::parse(std::string("http://127.0.0.1:8787") + seed.path);
        e->checkType = seed.type;
        e->degredationThreshold = 1000;
        e->ensureValidCert = false;
        e->isPublic = n == 0;
        e->status = Endpoint::Status::active;
        e->createdAt = now.addingTimeInterval(-86400.0 * 12 + static_cast<double>(n));
        e->updatedAt = now.addingTimeInterval(-20);
        e->history = history<Check>(pattern<S>(30, seed.status), [&](Check& c, std::size_t i) {
            c.responseTime = static_cast<std::int64_t>(seed.milliseconds(i));
        });
        e->lastCheckStatus = e->history->front()->status;
        if (e->lastCheckStatus == S::down)
            e->lastCheckMessage = "Injected failure: HTTP 500";
        endpointList.push_back(e);
    }
    struct MeasureSpec {
        const char* name;
        std::function<A(std::size_t)> status;
        std::function<std::string(std::size_t)> value;
        std::vector<std::tuple<const char*, const char*, const char*>> criteria;
    };
    const std::vector<MeasureSpec> measures{
        {"Queue depth",
         [](std::size_t) { return A::ok; },
         [](std::size_t i) {
             return std::to_string(30 + static_cast<int>(25 * std::sin(static_cast<double>(i) / 1.1)));
         },
         {{"less_than_equal", "100", "queue.depth"}}},
        {"Build",
         [](std::size_t) { return A::degraded; },
         [](std::size_t) { return std::string("passing"); },
         {{"equal", "passing", "build.status"}, {"greater_than_equal", "80", "build.coverage"}}},
        {"Disk space",
         [](std::size_t i) { return i % 4 == 0 ? A::degraded : A::down; },
         [](std::size_t i) {
             return std::to_string(10 + static_cast<int>(2 * std::sin(static_cast<double>(i) / 1.7)));
         },
         {{"greater_than", "20", "disk.free_percent"}}},
    };
    std::vector<std::shared_ptr<Measure>> measureList;
    for (std::size_t n = 0; n < measures.size(); ++n) {
        const auto& seed = measures[n];
        auto m = std::make_shared<Measure>();
        m->id = "m" + std::to_string(n + 1);
        m->name = seed.name;
        m->url = joblark::URL::parse("http://127.0.0.1:8787/api/measures/" + *m->id);
        m->status = Measure::Status::active;
        m->isPublic = false;
        m->createdAt = now.addingTimeInterval(-86400.0 * 12 + static_cast<double>(n));
        m->updatedAt = now.addingTimeInterval(-35);
        std::vector<std::shared_ptr<Criteria>> criteria;
        for (const auto& [comparison, expected, path] : seed.criteria) {
            auto c = std::make_shared<Criteria>();
            c->comparison = fromRawValue<Criteria::Comparison>(comparison);
            c->expectedValue = expected;
            c->valuePath = path;
            criteria.push_back(c);
        }
        m->criteria = criteria;
        m->history = history<Assessment>(pattern<A>(30, seed.status), [&](Assessment& a, std::size_t i) {
            a.measurement = seed.value(i);
        });
        m->lastStatus = m->history->front()->status;
        measureList.push_back(m);
    }
    state->endpoints = std::move(endpointList);
    state->measures = std::move(measureList);
    return state;
}

} // namespace kestrova::ui::tests
