#include "ListTestModels.hpp"
#include "LocalHTTPServer.hpp"
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Lists/PaginatedDataSource.hpp"

#include <gtest/gtest.h>

using namespace joblark;
using namespace joblark::testing;

namespace {

class WidgetSource : public CursorPaginatedDataSource<Widget> {
public:
    explicit WidgetSource(URL base) : base_(std::move(base)) {}
    TaskPtr task(std::optional<std::string> since, std::optional<Direction> direction) override {
        return std::make_shared<WidgetPage>(base_, since, direction && *direction == Direction::previous, 3);
    }
    void fetchDidComplete() override { ++completed; }
    int completed = 0;

private:
    URL base_;
};

std::vector<std::string> ids(const std::vector<std::shared_ptr<Widget>>& widgets) {
    std::vector<std::string> out;
    for (const auto& w : widgets)
        out.push_back(w->id.value_or("?"));
    return out;
}

std::vector<IndexPath> rows(std::initializer_list<std::size_t> list) {
    std::vector<IndexPath> out;
    for (auto r : list)
        out.push_back({0, r});
    return out;
}

struct Finish {
    int calls = 0;
    std::optional<std::vector<IndexPath>> paths;
    bool overwrite = false;
    PaginatedDataSource<std::shared_ptr<Widget>>::OnFinish handler() {
        return [this](std::optional<std::vector<IndexPath>> p, bool o) {
            ++calls;
            paths = std::move(p);
            overwrite = o;
        };
    }
};

class PaginatedDataSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        useTaskController();
        // The middle page links to a newer page (next) and an older one (previous); the ends do not.
        page("/widgets", {"w4", "w5", "w6"}, "/widgets/newer", "/widgets/older");
        page("/widgets/newer", {"w1", "w2", "w3"}, "", "");
        page("/widgets/older", {"w7", "w8"}, "", "");
        source = std::make_shared<WidgetSource>(server.url("/widgets"));
    }

    void page(const std::string& path, std::vector<std::string> items, std::string next,
              std::string previous) {
        server.on("GET", path, [=, this](const httplib::Request&, httplib::Response& response) {
            Array results;
            for (const auto& id : items)
                results.push_back(Dictionary{{"id", id}});
            Dictionary body{{"count", 8},
                            {"results", results},
                            {"next", next.empty() ? Value() : Value(server.urlString(next))},
                            {"previous", previous.empty() ? Value() : Value(server.urlString(previous))}};
            response.set_content(*JSON::write(body), "application/json");
        });
    }

    void fetchAndWait(bool up, bool overwrite, Finish& finish) {
        const int before = finish.calls;
        if (up)
            source->fetchUp(overwrite, finish.handler());
        else
            source->fetchDown(overwrite, finish.handler());
        ASSERT_TRUE(pumpMainUntil([&] { return finish.calls > before; }));
        EXPECT_FALSE(source->isRefreshing());
    }

    LocalHTTPServer server;
    std::shared_ptr<WidgetSource> source;
};

TEST_F(PaginatedDataSourceTest, GrowsAtBothEndsFollowingThePageLinks) {
    Finish finish;
    fetchAndWait(true, false, finish); // nothing held: the initial page
    EXPECT_EQ(ids(source->items()), (std::vector<std::string>{"w4", "w5", "w6"}));
    EXPECT_EQ(finish.paths, rows({0, 1, 2}));
    EXPECT_EQ(source->hasPrevious(), true);
    ASSERT_EQ(source->tasks().size(), 1u);
    auto first = server.requests().at(0);
    EXPECT_EQ(first.path, "/widgets");
    EXPECT_EQ(first.query, (std::multimap<std::string, std::string>{{"count", "3"}, {"reverse", "0"}}));

    fetchAndWait(false, false, finish); // the previous link of the back page
    EXPECT_EQ(ids(source->items()), (std::vector<std::string>{"w4", "w5", "w6", "w7", "w8"}));
    EXPECT_EQ(finish.paths, rows({3, 4}));
    EXPECT_EQ(source->hasPrevious(), false) << "the older page has no previous link";

    fetchAndWait(true, false, finish); // the next link of the front page
    EXPECT_EQ(ids(source->items()),
              (std::vector<std::string>{"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8"}));
    EXPECT_EQ(finish.paths, rows({0, 1, 2}));
    EXPECT_EQ(source->hasPrevious(), true);
    EXPECT_EQ(source->tasks().size(), 3u);
    EXPECT_EQ(std::dynamic_pointer_cast<WidgetPage>(source->tasks().front())->url().path(), "/widgets/newer");
    EXPECT_EQ(std::dynamic_pointer_cast<WidgetPage>(source->tasks().back())->url().path(), "/widgets/older");
    EXPECT_EQ(source->completed, 3);

    // At the newer end there is no link any more: the cursor of the first item starts a page.
    fetchAndWait(true, false, finish);
    auto last = server.requests().back();
    EXPECT_EQ(last.path, "/widgets");
    EXPECT_EQ(last.query,
              (std::multimap<std::string, std::string>{{"count", "3"}, {"reverse", "0"}, {"since", "w1"}}));
    EXPECT_EQ(source->items().front()->id, "w4") << "the same page again lands at the front";

    EXPECT_EQ(source->get(0)->get()->id, "w4");
    EXPECT_FALSE(source->get(-1));
    EXPECT_FALSE(source->get(source->items().size()));
    EXPECT_FALSE(source->get(3, 1)) << "only section 0 has rows";
    EXPECT_EQ(source->get(IndexPath{0, 1})->get()->id, "w5");
}

TEST_F(PaginatedDataSourceTest, OverwriteReplacesAndAnEmptyPageRecordsNothing) {
    Finish finish;
    fetchAndWait(true, false, finish);
    fetchAndWait(false, false, finish);
    ASSERT_EQ(source->items().size(), 5u);

    source->clear();
    fetchAndWait(true, true, finish);
    EXPECT_EQ(ids(source->items()), (std::vector<std::string>{"w4", "w5", "w6"}));
    EXPECT_EQ(source->tasks().size(), 1u);
    EXPECT_EQ(finish.paths, rows({0, 1, 2}));
    EXPECT_TRUE(finish.overwrite);

    // A page with no results empties the list when overwriting, but is not recorded.
    page("/widgets", {}, "", "");
    source->clear();
    fetchAndWait(true, false, finish);
    source->setItems({Widget::named("x")});
    fetchAndWait(true, true, finish);
    EXPECT_TRUE(source->items().empty());
    EXPECT_TRUE(source->tasks().empty());
    EXPECT_FALSE(finish.paths);
}

TEST_F(PaginatedDataSourceTest, AFailedPageChangesNothingAndStillFinishes) {
    Finish finish;
    fetchAndWait(true, false, finish);
    server.on("GET", "/widgets/older", [](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content(R"({"message":"boom"})", "application/json");
    });
    LogCapture log;
    fetchAndWait(false, false, finish);
    EXPECT_FALSE(finish.paths);
    EXPECT_EQ(ids(source->items()), (std::vector<std::string>{"w4", "w5", "w6"}));
    EXPECT_EQ(source->tasks().size(), 1u);
    EXPECT_EQ(source->hasPrevious(), true) << "unchanged from the first page";
    EXPECT_TRUE(log.contains("encountered error: boom"));
}

TEST_F(PaginatedDataSourceTest, ASecondFetchWhileOneRunsIsRefused) {
    server.on("GET", "/widgets", [this](const httplib::Request&, httplib::Response& response) {
        server.holdUntilReleased(std::chrono::seconds(10));
        response.set_content(R"({"results":[{"id":"a"}]})", "application/json");
    });
    LogCapture log;
    Finish first, second;
    source->fetchDown(false, first.handler());
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(10)));
    EXPECT_TRUE(source->isRefreshing());
    source->fetchDown(false, second.handler());
    EXPECT_EQ(log.count("Refusing to fetch while fetch is already in progress."), 1u);
    server.release();
    ASSERT_TRUE(pumpMainUntil([&] { return first.calls == 1; }));
    EXPECT_EQ(first.paths, rows({0}));
    EXPECT_EQ(source->hasPrevious(), false);
    EXPECT_EQ(second.calls, 0);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(PaginatedDataSourceTest, WithoutAPageTaskTheFetchFinishesAtOnce) {
    auto plain = std::make_shared<PaginatedDataSource<int>>();
    int calls = 0;
    plain->fetchUp(false, [&](std::optional<std::vector<IndexPath>> paths, bool) {
        ++calls;
        EXPECT_FALSE(paths);
    });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(plain->isRefreshing());
    EXPECT_FALSE(plain->hasPrevious());

    // The data source may be gone when its fetch ends: the caller still hears of it.
    Finish finish;
    auto weak = std::weak_ptr<WidgetSource>(source);
    source->fetchUp(false, finish.handler());
    source.reset();
    ASSERT_TRUE(pumpMainUntil([&] { return finish.calls == 1; }));
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(finish.paths);
}

TEST_F(PaginatedDataSourceTest, StoresTheFirstPageOfItemsForAQuickStart) {
    TemporaryDirectory temp;
    KeyedUnarchiver::registerClass<Widget>();
    StorageController::setDefault(StorageController(temp.path() / "Store.archive"));
    std::vector<std::shared_ptr<Widget>> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(Widget::named("w" + std::to_string(i)));

    source->preloadData("widgets");
    EXPECT_TRUE(source->items().empty()) << "nothing stored yet";
    source->setItems(many);
    source->storeData("widgets");

    auto restored = std::make_shared<WidgetSource>(server.url("/widgets"));
    restored->preloadData("widgets");
    ASSERT_EQ(restored->items().size(), 25u);
    EXPECT_EQ(ids(restored->items()).back(), "w24");
    EXPECT_TRUE(restored->tasks().empty());
    StorageController::setDefault(StorageController());
}

} // namespace
