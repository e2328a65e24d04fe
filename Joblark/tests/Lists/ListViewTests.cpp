#include "ListTestModels.hpp"
#include "LocalHTTPServer.hpp"
#include "TestSupport.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Lists/PaginatedListViewController.hpp"

#include <gtest/gtest.h>

#include <numeric>

using namespace joblark;
using namespace joblark::testing;

namespace {

using Snapshot = DiffableSnapshot<int, std::string>;
using Move = SnapshotDifference::Move;

Snapshot snapshotOf(std::vector<std::pair<int, std::vector<std::string>>> sections) {
    Snapshot snapshot;
    for (auto& [section, items] : sections) {
        snapshot.appendSections({section});
        snapshot.appendItems(items, section);
    }
    return snapshot;
}

/// Replays a difference on the old rows the way a list view would, to check it is complete.
std::vector<std::string> replay(const Snapshot& from, const Snapshot& to, const SnapshotDifference& d) {
    std::vector<std::string> rows(to.numberOfItems());
    std::vector<bool> filled(rows.size(), false);
    auto flat = [&](const IndexPath& p) {
        std::size_t at = 0;
        for (std::size_t s = 0; s < p.section; ++s)
            at += to.numberOfItems(to.sectionIdentifiers()[s]);
        return at + p.row;
    };
    for (const auto& path : d.insertedItems)
        rows[flat(path)] = *to.item(path), filled[flat(path)] = true;
    for (const auto& move : d.movedItems)
        rows[flat(move.to)] = *from.item(move.from), filled[flat(move.to)] = true;
    // Whatever is neither inserted nor moved keeps its relative order among the old items.
    std::vector<std::string> stayed;
    for (const auto& item : from.itemIdentifiers()) {
        auto path = from.indexPath(item);
        bool deleted = std::find(d.deletedItems.begin(), d.deletedItems.end(), *path) != d.deletedItems.end();
        bool moved = std::any_of(d.movedItems.begin(), d.movedItems.end(),
                                 [&](const Move& m) { return m.from == *path; });
        if (!deleted && !moved)
            stayed.push_back(item);
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!filled[i] && next < stayed.size())
            rows[i] = stayed[next++];
    return rows;
}

TEST(SnapshotDifferenceTest, ReportsInsertsDeletesAndTheFewestMoves) {
    struct Case {
        const char* name;
        Snapshot from, to;
        std::vector<IndexPath> inserted, deleted;
        std::vector<Move> moved;
    };
    const std::vector<Case> cases{
        {"unchanged", snapshotOf({{0, {"a", "b", "c"}}}), snapshotOf({{0, {"a", "b", "c"}}}), {}, {}, {}},
        {"insert at both ends",
         snapshotOf({{0, {"b", "c"}}}),
         snapshotOf({{0, {"a", "b", "c", "d"}}}),
         {{0, 0}, {0, 3}},
         {},
         {}},
        {"delete", snapshotOf({{0, {"a", "b", "c"}}}), snapshotOf({{0, {"a", "c"}}}), {}, {{0, 1}}, {}},
        {"one item to the front",
         snapshotOf({{0, {"a", "b", "c", "d"}}}),
         snapshotOf({{0, {"d", "a", "b", "c"}}}),
         {},
         {},
         {{{0, 3}, {0, 0}}}},
        {"swap", snapshotOf({{0, {"a", "b"}}}), snapshotOf({{0, {"b", "a"}}}), {}, {}, {{{0, 1}, {0, 0}}}},
        {"into another section",
         snapshotOf({{0, {"a", "b"}}, {1, {"c"}}}),
         snapshotOf({{0, {"a"}}, {1, {"b", "c"}}}),
         {},
         {},
         {{{0, 1}, {1, 0}}}},
        {"everything replaced",
         snapshotOf({{0, {"a", "b"}}}),
         snapshotOf({{0, {"x"}}}),
         {{0, 0}},
         {{0, 0}, {0, 1}},
         {}},
    };
    for (const auto& c : cases) {
        auto d = difference(c.from, c.to);
        EXPECT_EQ(d.insertedItems, c.inserted) << c.name;
        EXPECT_EQ(d.deletedItems, c.deleted) << c.name;
        EXPECT_EQ(d.movedItems, c.moved) << c.name;
        EXPECT_EQ(replay(c.from, c.to, d), c.to.itemIdentifiers()) << c.name;
    }

    auto sections = difference(snapshotOf({{0, {"a"}}, {1, {"b"}}}), snapshotOf({{1, {"b"}}, {2, {"c"}}}));
    EXPECT_EQ(sections.deletedSections, std::vector<std::size_t>{0});
    EXPECT_EQ(sections.insertedSections, std::vector<std::size_t>{1});
}

TEST(SnapshotDifferenceTest, ALargeShuffleReplaysExactly) {
    std::vector<std::string> before(2000);
    for (std::size_t i = 0; i < before.size(); ++i)
        before[i] = "item" + std::to_string(i);
    std::vector<std::string> after = before;
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i) // moves, deletions and insertions mixed
        std::swap(after[random() % after.size()], after[random() % after.size()]);
    after.erase(after.begin() + 100, after.begin() + 130);
    for (int i = 0; i < 40; ++i)
        after.insert(after.begin() + static_cast<std::ptrdiff_t>(random() % after.size()),
                     "new" + std::to_string(i));
    auto from = snapshotOf({{0, before}});
    auto to = snapshotOf({{0, after}});
    auto d = difference(from, to);
    EXPECT_EQ(d.insertedItems.size(), 40u);
    EXPECT_EQ(d.deletedItems.size(), 30u);
    EXPECT_LE(d.movedItems.size(), 120u);
    EXPECT_EQ(replay(from, to, d), after);
}

TEST(SnapshotDifferenceTest, DuplicatesAndUnknownSectionsAreIgnored) {
    LogCapture log;
    Snapshot snapshot;
    snapshot.appendItems({"lost"}); // no section yet
    snapshot.appendSections({0, 0});
    snapshot.appendItems({"a", "b", "a"});
    snapshot.appendItems({"b"}, 0);
    snapshot.appendItems({"c"}, 9);
    EXPECT_EQ(snapshot.itemIdentifiers(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(snapshot.numberOfSections(), 1u);
    EXPECT_EQ(log.count("Ignoring"), 5u);
}

// Items compare as model objects: by identifier, not by pointer.
struct Row : Object {
    explicit Row(std::string rowId) : id(std::move(rowId)) {}
    std::string id;
    bool isEqual(const Object& other) const override {
        auto* row = dynamic_cast<const Row*>(&other);
        return row && row->id == id;
    }
    std::size_t hash() const override { return std::hash<std::string>{}(id); }
};

TEST(SnapshotDifferenceTest, EqualModelObjectsAreTheSameRow) {
    DiffableSnapshot<int, std::shared_ptr<Row>> from, to;
    from.appendSections({0});
    to.appendSections({0});
    from.appendItems({std::make_shared<Row>("a"), std::make_shared<Row>("b")});
    to.appendItems({std::make_shared<Row>("a"), std::make_shared<Row>("b")}); // fresh objects
    EXPECT_TRUE(difference(from, to).empty());
}

// --- the list view controller, against a real paged collection ---

class ItemSource : public CursorPaginatedDataSource<Widget> {
public:
    explicit ItemSource(URL base) : base_(std::move(base)) {}
    TaskPtr task(std::optional<std::string> since, std::optional<Direction> direction) override {
        return std::make_shared<WidgetPage>(base_, since, direction && *direction == Direction::previous, 2);
    }

private:
    URL base_;
};

class ItemList : public CursorPaginatedListViewController<Widget, ItemSource> {
public:
    using CursorPaginatedListViewController::CursorPaginatedListViewController;
    TableViewCellPtr cellProvider(TableView&, const IndexPath&,
                                  const std::shared_ptr<Widget>& item) override {
        auto cell = std::make_shared<TableViewCell>();
        cell->text = item->id.value_or("");
        return cell;
    }
    void endRefreshing() override { ++refreshesEnded; }
    void fetchDidComplete(const std::optional<std::vector<IndexPath>>& paths, bool overwrite) override {
        CursorPaginatedListViewController::fetchDidComplete(paths, overwrite);
        ++completions;
    }
    int refreshesEnded = 0;
    int completions = 0;
};

struct RecordingBinding : TableViewObserver {
    void tableViewDidReloadData(TableView&) override { ++reloads; }
    void tableViewDidApply(TableView&, const SnapshotDifference& d, bool animated) override {
        applied.push_back(d);
        lastAnimated = animated;
    }
    int reloads = 0;
    std::vector<SnapshotDifference> applied;
    bool lastAnimated = false;
};

TEST(PaginatedListViewControllerTest, RedrawsFromSnapshotsAfterEveryFetch) {
    useTaskController();
    LocalHTTPServer server;
    int served = 0;
    server.on("GET", "/items", [&](const httplib::Request&, httplib::Response& response) {
        if (served++ == 2) {
            response.status = 503;
            return;
        }
        const char* body = served == 1 ? R"({"results":[{"id":"b"},{"id":"c"}],"previous":null})"
                                       : R"({"results":[{"id":"a"}]})";
        response.set_content(body, "application/json");
    });

    auto list = std::make_shared<ItemList>(TableViewStyle::plain);
    EXPECT_FALSE(list->dataSource());
    EXPECT_FALSE(list->hasTableViewDataSource());
    list->setDataSource(std::make_shared<ItemSource>(server.url("/items")));
    RecordingBinding binding;
    list->tableView().addObserver(&binding);
    list->loadViewIfNeeded();
    EXPECT_TRUE(list->tableView().tableFooterView);
    EXPECT_EQ(list->tableView().dataSource(), &list->tableViewDataSource());

    LogCapture log;
    list->fetchDown(true); // deprecated overwrite: warned, still drawn
    ASSERT_TRUE(pumpMainUntil([&] { return list->completions == 1; }));
    EXPECT_EQ(log.count("[WARN] Overwriting table view data is deprectated and no longer needed."), 1u);
    EXPECT_EQ(binding.reloads, 1) << "the first snapshot reloads the table";
    ASSERT_EQ(list->tableView().numberOfRows(0), 2u);
    EXPECT_EQ(list->tableView().cellForRow({0, 1})->text, "c");

    list->doFetchUp(); // cursor "b" going up: "a" lands in front
    ASSERT_TRUE(pumpMainUntil([&] { return list->completions == 2; }));
    ASSERT_EQ(binding.applied.size(), 1u);
    EXPECT_EQ(binding.applied[0].insertedItems, (std::vector<IndexPath>{{0, 0}}));
    EXPECT_TRUE(binding.applied[0].movedItems.empty());
    EXPECT_TRUE(binding.lastAnimated);
    EXPECT_EQ(list->tableView().cellForRow({0, 0})->text, "a");

    list->doFetchUp(); // fails: refreshing still ends, an unchanged snapshot is applied
    ASSERT_TRUE(pumpMainUntil([&] { return list->completions == 3; }));
    EXPECT_EQ(list->refreshesEnded, 3);
    ASSERT_EQ(binding.applied.size(), 2u);
    EXPECT_TRUE(binding.applied[1].empty());
    EXPECT_EQ(list->numberOfRowsInSection(list->tableView(), 0), 3u);
    EXPECT_EQ(list->numberOfSections(list->tableView()), 1u);
    EXPECT_EQ(log.count("[WARN]"), 1u);
}

} // namespace
