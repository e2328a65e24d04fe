#include "Heard.hpp"
#include "ScreenFixture.hpp"

#include "Presentation/DashboardViewController.hpp"
#include "Presentation/EndpointDetailViewController.hpp"
#include "Presentation/MeasureDetailViewController.hpp"
#include "Presentation/SceneNotifications.hpp"
#include "Presentation/StatusPresentation.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/URLSession.hpp"

using namespace kestrova;
using namespace kestrova::testing;
using joblark::IndexPath;

namespace {

struct RecordingTable : DashboardTableView {
    std::optional<IndexPath> selected;
    std::vector<std::pair<IndexPath, ScrollPosition>> selections;
    int refreshEnds = 0;
    std::optional<IndexPath> indexPathForSelectedRow() const override { return selected; }
    void selectRow(const IndexPath& path, bool, ScrollPosition position) override {
        selected = path;
        selections.emplace_back(path, position);
    }
    void deselectRow(const IndexPath&, bool) override { selected.reset(); }
    void endRefreshing() override { ++refreshEnds; }
};

class OverviewTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        overview = std::make_shared<DashboardViewController>(controller, platform);
        overview->host = host;
        overview->table = table;
        overview->headerView.statusImageView = image;
        overview->headerView.statusLabel = title;
        overview->headerView.statusDescriptionLabel = description;
        overview->viewDidLoad();
    }
    std::vector<std::string> sectionTitles() {
        std::vector<std::string> out;
        auto& source = overview->tableViewDataSource();
        for (std::size_t s = 0; s < source.snapshot().numberOfSections(); ++s)
            out.push_back(source.titleForHeaderInSection(s).value_or("?") + ":" +
                          std::to_string(source.numberOfRows(overview->tableView, s)));
        return out;
    }

    std::shared_ptr<RecordingTable> table = std::make_shared<RecordingTable>();
    std::shared_ptr<RecordingImage> image = std::make_shared<RecordingImage>();
    std::shared_ptr<RecordingLabel> title = std::make_shared<RecordingLabel>();
    std::shared_ptr<RecordingLabel> description = std::make_shared<RecordingLabel>();
    std::shared_ptr<DashboardViewController> overview;
};

TEST_F(OverviewTest, HeaderAndSectionsFollowTheStateBySectionIdentity) {
    using S = Check::Status;
    using A = Assessment::Status;
    struct Case {
        const char* name;
        std::optional<std::vector<std::shared_ptr<Endpoint>>> endpoints;
        std::optional<std::vector<std::shared_ptr<Measure>>> measures;
        bool user;
        std::vector<std::string> sections;
        std::string title;
        Color tint;
    };
    const std::vector<Case> cases{
        {"signed out", std::nullopt, std::nullopt, false, {}, "All Clear", Color::systemGreen},
        {"measures only",
         std::vector<std::shared_ptr<Endpoint>>{},
         std::vector{measure("m", A::degraded)},
         true,
         {"Measures:1"},
         "Something's Up",
         Color::systemOrange},
        {"down beats degraded",
         std::vector{endpoint("a", S::down), endpoint("b")},
         std::vector{measure("m", A::degraded)},
         true,
         {"Endpoints:2", "Measures:1"},
         "Uh Oh!",
         Color::systemRed},
        {"never assessed counts as neither",
         std::vector{endpoint("a")},
         std::vector{measure("m", std::nullopt)},
         true,
         {"Endpoints:1", "Measures:1"},
         "All Clear",
         Color::systemGreen},
        {"measures not loaded",
         std::vector{endpoint("a", S::down)},
         std::nullopt,
         true,
         {"Endpoints:1"},
         "All Clear",
         Color::systemGreen},
    };
    for (const auto& c : cases) {
        setState(c.endpoints, c.measures, c.user);
        overview->reload();
        EXPECT_EQ(sectionTitles(), c.sections) << c.name;
        EXPECT_EQ(title->value, c.title) << c.name;
        EXPECT_EQ(image->tint, c.tint) << c.name;
    }
    // With measures only, the one section shows measure cards and opens measure details.
    setState(std::vector<std::shared_ptr<Endpoint>>{}, std::vector{measure("m")});
    overview->reload();
    auto cell = overview->tableView.cellForRow({0, 0});
    ASSERT_TRUE(std::dynamic_pointer_cast<MeasureCardCell>(cell));
    EXPECT_EQ(cell->text, "Measure m");
    overview->didSelectRow({0, 0});
    EXPECT_EQ(host->segues, std::vector<std::string>{"showMeasureDetail"});
    auto detail = std::make_shared<MeasureDetailViewController>(controller);
    table->selected = IndexPath{0, 0};
    overview->prepare("showMeasureDetail", detail);
    ASSERT_TRUE(detail->measure);
    EXPECT_EQ(detail->measure->id, "m");
}

TEST_F(OverviewTest, TheSelectionFollowsItsResourceAndGoesWithIt) {
    setState(std::vector{endpoint("a"), endpoint("b")}, std::vector<std::shared_ptr<Measure>>{});
    overview->reload();
    table->selected = IndexPath{0, 1};
    overview->reload();
    EXPECT_EQ(table->selected, (IndexPath{0, 1}));
    setState(std::vector{endpoint("x"), endpoint("a"), endpoint("b")},
             std::vector<std::shared_ptr<Measure>>{});
    overview->reload();
    EXPECT_EQ(table->selected, (IndexPath{0, 2})) << "still b, not whatever took its place";
    Heard heard({AppStateController::didDeselect});
    setState(std::vector{endpoint("a")}, std::vector<std::shared_ptr<Measure>>{});
    table->selections.clear();
    overview->reload();
    EXPECT_TRUE(table->selections.empty());
    EXPECT_FALSE(table->selected);
    EXPECT_EQ(heard.count[std::string(AppStateController::didDeselect)], 1) << "the detail goes blank";
    // A changed resource is a different row (it is drawn again); an unchanged one keeps its identity.
    const auto before = overview->tableViewDataSource().snapshot().itemIdentifiers();
    controller->state->endpoints->front()->updatedAt = joblark::Date();
    overview->reload();
    EXPECT_NE(overview->tableViewDataSource().snapshot().itemIdentifiers(), before);
}

TEST_F(OverviewTest, ContextMenusActOnTheResourceAtTheRow) {
    setState(std::vector{endpoint("7")}, std::vector{measure("9")});
    overview->reload();
    auto menu = overview->contextMenu({0, 0});
    ASSERT_TRUE(menu);
    EXPECT_EQ(titles(*menu), (std::vector<std::string>{"Open in Browser", "Open on Kestrova", "|",
                                                       "Copy Link", "|", "Delete Endpoint"}));
    choose(*menu, "Open in Browser");
    choose(*menu, "Open on Kestrova");
    choose(*menu, "Copy Link");
    EXPECT_EQ(platform->opened,
              (std::vector<std::string>{"https://7.example/health", "http://service.test/endpoints/7"}));
    EXPECT_EQ(platform->copied, std::vector<std::string>{"https://7.example/health"});

    menu = overview->contextMenu({1, 0});
    ASSERT_TRUE(menu);
    EXPECT_EQ(titles(*menu), (std::vector<std::string>{"Open on Kestrova", "|", "Delete Measure"}));
    choose(*menu, "Delete Measure");
    ASSERT_EQ(host->alerts.size(), 1u);
    EXPECT_EQ(host->alerts[0].title, "Are you sure?");
    EXPECT_EQ(host->alerts[0].message,
              "This will permanently delete Measure 9. This action is cannot be undone.");
    EXPECT_EQ(host->alerts[0].actions[0].style, AlertAction::Style::destructive);
    EXPECT_EQ(host->alerts[0].actions[1].style, AlertAction::Style::cancel);

    EXPECT_FALSE(overview->contextMenu({1, 5})) << "no resource there";
    EXPECT_FALSE(overview->contextMenu({4, 0})) << "no such section";
}

TEST_F(OverviewTest, EscapeDeselectsAndDeleteConfirmsOnlyWithASelection) {
    setState(std::vector{endpoint("a")}, std::vector<std::shared_ptr<Measure>>{});
    overview->reload();
    int deselections = 0;
    auto token = joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppStateController::didDeselect), std::nullopt, [&](const auto&) { ++deselections; });

    EXPECT_FALSE(overview->pressesBegan({KeyInput::escape}));
    EXPECT_FALSE(overview->pressesBegan({KeyInput::deleteKey}));
    table->selected = IndexPath{0, 0};
    EXPECT_TRUE(overview->pressesBegan({KeyInput::other, KeyInput::escape}));
    EXPECT_FALSE(table->selected);
    EXPECT_EQ(deselections, 1);
    EXPECT_TRUE(host->alerts.empty());

    table->selected = IndexPath{0, 0};
    EXPECT_TRUE(overview->pressesBegan({KeyInput::deleteKey}));
    ASSERT_EQ(host->alerts.size(), 1u);
    // Without an API address there is nothing to delete on the service; the row is deselected.
    controller->state->endpoints->front()->url.reset();
    overview->confirmDelete(controller->state->endpoints->front(), [&](bool done) { EXPECT_TRUE(done); });
    EXPECT_TRUE(host->press("Yes, Delete"));
    EXPECT_FALSE(table->selected);
    EXPECT_EQ(deselections, 2);
    EXPECT_EQ(DashboardViewController::deleteConfirmationMessage(std::nullopt),
              "This will permanently delete this resource. This action is cannot be undone.");
}

TEST_F(OverviewTest, PendingActivitiesAreConsumedAndSelectTheirResource) {
    setState(std::vector{endpoint("a"), endpoint("b")}, std::vector{measure("m")});
    overview->reload();
    auto request = [&](std::string_view type, std::string_view key, std::string id) {
        controller->activityInbox.push_back({std::string(type), {{std::string(key), joblark::Value(id)}}});
    };
    // An endpoint request that matches nothing is used up; the measure request waits for the next run.
    request(SceneNotifications::endpointActivityType, SceneNotifications::endpointKey, "gone");
    request(SceneNotifications::measureActivityType, SceneNotifications::measureKey, "m");
    overview->selectPendingResource();
    EXPECT_TRUE(table->selections.empty());
    EXPECT_EQ(controller->activityInbox.size(), 1u);
    overview->selectPendingResource();
    ASSERT_EQ(table->selections.size(), 1u);
    EXPECT_EQ(table->selections[0].first, (IndexPath{1, 0}));
    EXPECT_EQ(table->selections[0].second, DashboardTableView::ScrollPosition::middle);
    EXPECT_EQ(host->segues, std::vector<std::string>{"showMeasureDetail"});

    request(SceneNotifications::endpointActivityType, SceneNotifications::endpointKey, "b");
    joblark::NotificationCenter::defaultCenter().post(std::string(SceneNotifications::shouldSelectEndpoint));
    EXPECT_EQ(host->segues.size(), 1u) << "not observing before it appears";
    overview->viewWillAppear();
    joblark::NotificationCenter::defaultCenter().post(std::string(SceneNotifications::shouldSelectEndpoint));
    EXPECT_EQ(table->selections.back().first, (IndexPath{0, 1}));
    EXPECT_EQ(host->segues.back(), "showEndpointDetail");
    EXPECT_TRUE(controller->activityInbox.empty());
    overview->viewDidDisappear();
}

TEST_F(OverviewTest, FindAndSortShowASubsetAndRowsStillReachTheirResources) {
    using S = Check::Status;
    auto shop = endpoint("shop", S::ok), api = endpoint("api", S::down), blog = endpoint("blog", S::degraded),
         fresh = endpoint("new", std::nullopt);
    shop->name = "Shop front";
    api->name = "zeta API";
    api->endpointUrl = joblark::URL::parse("https://api.SHOP.example/v1");
    blog->name = "Blog";
    fresh->name.reset();
    setState(std::vector{shop, api, blog, fresh}, std::vector{measure("load", Assessment::Status::down)});
    auto rows = [&](OverviewFilter filter) {
        overview->setFilter(std::move(filter));
        std::vector<std::string> ids;
        for (std::size_t r = 0; r < overview->tableView.numberOfRows(0); ++r)
            ids.push_back(*overview->endpointAt({0, r})->id);
        return ids;
    };
    using Sort = OverviewFilter::Sort;
    EXPECT_EQ(rows({"shop", false, Sort::creation}), (std::vector<std::string>{"shop", "api"}))
        << "name or URL, any case";
    EXPECT_EQ(rows({"", true, Sort::creation}), (std::vector<std::string>{"api", "blog"}));
    EXPECT_EQ(rows({"", false, Sort::name}), (std::vector<std::string>{"blog", "shop", "api", "new"}));
    EXPECT_EQ(rows({"", false, Sort::worstFirst}), (std::vector<std::string>{"api", "blog", "shop", "new"}));
    EXPECT_EQ(sectionTitles(), (std::vector<std::string>{"Endpoints:4", "Measures:1"}));
    rows({"nothing matches", false, Sort::creation});
    EXPECT_EQ(sectionTitles(), (std::vector<std::string>{"Endpoints:0", "Measures:0"}));

    // Rows map to what they show: the menu and the detail act on the filtered row's resource.
    rows({"", true, Sort::worstFirst});
    choose(*overview->contextMenu({0, 1}), "Copy Link");
    EXPECT_EQ(platform->copied, std::vector<std::string>{"https://blog.example/health"});
    // The detail opened from a filtered row shows that row's resource, not the list's entry there.
    table->selected = IndexPath{0, 1};
    auto detail = std::make_shared<EndpointDetailViewController>(controller);
    overview->prepare("showEndpointDetail", detail);
    EXPECT_EQ(detail->endpoint, blog);
    // A request to show a hidden resource clears the filter.
    controller->activityInbox.push_back(
        {std::string(SceneNotifications::endpointActivityType), {{"endpoint", joblark::Value("shop")}}});
    overview->selectPendingResource();
    EXPECT_FALSE(overview->filter().isActive());
    EXPECT_EQ(table->selections.back().first, (IndexPath{0, 0}));
}

TEST_F(OverviewTest, CardsWithoutAHistoryShowTheRecordedOne) {
    using P = HistoryPoint::Status;
    auto cached = endpoint("cached"), fetched = endpoint("fetched");
    fetched->history = std::vector{check(Check::Status::down)};
    setState(std::vector{cached, fetched}, std::vector{measure("m")});
    const std::vector<HistoryPoint> recorded{{{}, P::ok, {}}, {{}, P::down, {}}, {{}, P::ok, {}}};
    overview->recordedHistory = [&](const std::string& id) {
        return id == "m" ? nullptr : &recorded; // "fetched" has its own history: never consulted
    };
    overview->reload();
    auto card = [&](IndexPath path) {
        return std::dynamic_pointer_cast<CardCell>(overview->tableView.cellForRow(path));
    };
    EXPECT_EQ(card({0, 0})->shortOverview, "66%");
    EXPECT_EQ(card({0, 0})->historyBar.slots()[29].entry->tileColor, Color::systemGreen);
    EXPECT_EQ(card({0, 0})->historyBar.slots()[28].entry->tileColor, Color::systemRed);
    EXPECT_FALSE(card({0, 0})->historyBar.slots()[26].entry);
    EXPECT_EQ(card({0, 1})->shortOverview, "0%");
    EXPECT_EQ(card({1, 0})->shortOverview, std::string(unknownUptime)) << "nothing recorded: unknown";
}

TEST_F(OverviewTest, TheOfflineLineSaysHowOldTheDataIsAndWhy) {
    auto offline = std::make_shared<RecordingLabel>();
    overview->headerView.offlineLabel = offline;
    AppStateController::SyncStatus sync;
    EXPECT_FALSE(DashboardHeaderView::offlineText(sync)) << "never failed";
    sync.lastSyncFailed = true;
    sync.lastError =
        std::make_shared<joblark::URLSessionError>(joblark::URLSessionError::Code::cannotConnectToHost);
    EXPECT_EQ(DashboardHeaderView::offlineText(sync), "Offline: no data yet");
    sync.cacheDate = joblark::Date::fromTimeIntervalSince1970(1'700'000'000);
    const auto fromCache = DashboardHeaderView::offlineText(sync);
    ASSERT_TRUE(fromCache);
    EXPECT_EQ(fromCache->rfind("Offline: data from ", 0), 0u);
    sync.lastSuccess = joblark::Date::fromTimeIntervalSince1970(1'750'000'000);
    EXPECT_NE(DashboardHeaderView::offlineText(sync), fromCache)
        << "a later successful sync is the data's date";
    sync.lastError = std::make_shared<joblark::GenericError>("Service unavailable");
    EXPECT_EQ(
        DashboardHeaderView::offlineText(sync)->rfind("Not refreshed (Service unavailable): data from ", 0),
        0u);

    overview->headerView.update(sync);
    EXPECT_FALSE(offline->hidden);
    overview->headerView.update(AppStateController::SyncStatus{});
    EXPECT_TRUE(offline->hidden);
}

TEST_F(OverviewTest, StopsObservingWhenItsOwnWindowCloses) {
    overview->sceneIdentifier = 3;
    setState(std::vector{endpoint("a")}, std::vector<std::shared_ptr<Measure>>{});
    overview->viewWillAppear();
    const int before = table->refreshEnds;
    auto& center = joblark::NotificationCenter::defaultCenter();
    center.post(std::string(sceneDidDisconnectNotification), joblark::Value(4));
    center.post(std::string(AppStateController::endpointsDidChange));
    EXPECT_EQ(table->refreshEnds, before + 1) << "another window closing changes nothing";
    center.post(std::string(sceneDidDisconnectNotification), joblark::Value(3));
    center.post(std::string(AppStateController::endpointsDidChange));
    EXPECT_EQ(table->refreshEnds, before + 1);
}

} // namespace
