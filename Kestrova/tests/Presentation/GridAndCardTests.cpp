#include "ScreenFixture.hpp"

#include "Presentation/Cards.hpp"
#include "Presentation/CollectionLayout.hpp"
#include "Presentation/DashboardCollectionViewController.hpp"
#include "Presentation/StatusPresentation.hpp"

#include <functional>

using namespace kestrova;
using namespace kestrova::testing;

namespace {

std::string tiles(const HistoryBar& bar) {
    std::string out;
    for (const auto& slot : bar.slots()) {
        if (slot.hidden)
            out += ' ';
        else if (!slot.entry)
            out += '.';
        else
            switch (slot.entry->tileColor) {
            case Color::systemGreen:
                out += '+';
                break;
            case Color::systemRed:
                out += 'x';
                break;
            case Color::systemOrange:
                out += '~';
                break;
            case Color::systemBackground:
                out += '?';
                break;
            default:
                out += '!';
            }
    }
    return out;
}

TEST(CardTest, HistoryBarsFillFromTheRightAndNarrowCardsShowTheRecentHalf) {
    using S = Check::Status;
    auto e = endpoint("e");
    e->history = std::vector{check(S::ok), check(S::down), check(S::degraded), check(std::nullopt)};
    EndpointCardCell card;
    card.configure(*e);
    // Newest first in the list, so the newest tile is at the right end.
    EXPECT_EQ(tiles(card.historyBar), std::string(26, '.') + "?~x+");
    EXPECT_EQ(card.historyBar.accessibleDescription(), "History: 1 ok, 1 degraded, 1 down, 1 not checked");
    EXPECT_EQ(card.shortOverview, "25%");
    card.layoutSubviews(249);
    EXPECT_EQ(card.overviewLabelText, "25%");
    EXPECT_EQ(tiles(card.historyBar), std::string(15, ' ') + std::string(11, '.') + "?~x+");
    card.layoutSubviews(250);
    EXPECT_EQ(card.overviewLabelText, card.fullOverview);
    EXPECT_NE(card.fullOverview->find("25%, "), std::string::npos);

    // A longer history than the bar shows its 30 newest.
    e->history = std::vector<std::shared_ptr<Check>>(35, check(S::ok));
    (*e->history)[0] = check(S::down);
    card.configure(*e);
    EXPECT_EQ(tiles(card.historyBar), std::string(29, '+') + "x");
    EXPECT_EQ(card.historyBar.accessibleDescription(), "History: 29 ok, 1 down");
    EXPECT_EQ(HistoryBar().accessibleDescription(), "No history");
}

TEST(CardTest, GridCardShowsLastStatusAndClearsAPreviousOne) {
    EndpointOverviewCell card;
    auto e = endpoint("e", Check::Status::degraded);
    card.configure(*e);
    EXPECT_EQ(card.summaryText, "Degraded");
    EXPECT_EQ(card.summaryColor, Color::systemOrange);
    EXPECT_TRUE(card.summaryBold);
    EXPECT_EQ(card.descriptionText->rfind("Last checked at: ", 0), 0u);
    auto never = measure("m", std::nullopt);
    never->updatedAt.reset();
    card.configure(*never);
    EXPECT_FALSE(card.summaryText);
    EXPECT_EQ(card.descriptionText, "Not checked yet.");
}

TEST(CardTest, SignatureChangesWithWhatTheCardShows) {
    using S = Check::Status;
    auto base = [] {
        auto e = endpoint("e");
        auto c = check(S::ok);
        c->uuid = "c1";
        e->history = std::vector{c};
        return e;
    };
    const auto reference = contentSignature(*base());
    EXPECT_EQ(contentSignature(*base()), reference);
    struct Case {
        const char* change;
        std::function<void(Endpoint&)> apply;
    };
    const std::vector<Case> cases{
        {"name", [](Endpoint& e) { e.name = "Renamed"; }},
        {"last status", [](Endpoint& e) { e.lastCheckStatus = S::down; }},
        {"update time", [](Endpoint& e) { e.updatedAt = joblark::Date::fromTimeIntervalSince1970(1); }},
        {"no history (the cache keeps none)", [](Endpoint& e) { e.history.reset(); }},
        {"an entry's status", [](Endpoint& e) { (*e.history)[0]->status = S::degraded; }},
        {"a new entry", [](Endpoint& e) { e.history->push_back(check(S::ok)); }},
        {"an entry's id", [](Endpoint& e) { (*e.history)[0]->uuid = "c2"; }},
    };
    for (const auto& c : cases) {
        auto changed = base();
        c.apply(*changed);
        EXPECT_NE(contentSignature(*changed), reference) << c.change;
    }
    auto m = measure("m");
    auto n = measure("m");
    n->history = std::vector<std::shared_ptr<Assessment>>{};
    EXPECT_NE(contentSignature(*m), contentSignature(*n)) << "absent and empty histories draw differently";
}

TEST(GridLayoutTest, RowsAreCentredAndTheirCellsTopAligned) {
    CenterTopAlignedCollectionViewFlowLayout layout;
    layout.minimumInteritemSpacing = 10;
    // 300 points of content in a 500-point view start at 100.
    auto frames = layout.layoutAttributesForElements({{145, 100}, {145, 120}}, 500);
    EXPECT_DOUBLE_EQ(frames[0].frame.x, 100);
    EXPECT_DOUBLE_EQ(frames[1].frame.x, 255);
    // Cells 100, 120 and 80 tall line up with the top of the 120-point one.
    frames = layout.layoutAttributesForElements({{100, 100}, {100, 120}, {100, 80}}, 500);
    for (const auto& a : frames)
        EXPECT_DOUBLE_EQ(a.frame.y, frames[1].frame.y);
    // Wrapping: three 200-wide cells in 500 points make rows of two and one, each centred.
    frames = layout.layoutAttributesForElements({{200, 50}, {200, 50}, {200, 50}}, 500);
    EXPECT_DOUBLE_EQ(frames[0].frame.x, 45);
    EXPECT_GT(frames[2].frame.y, frames[0].frame.y);
    EXPECT_DOUBLE_EQ(frames[2].frame.x, 150);
    // Other elements pass through untouched.
    std::vector<LayoutAttributes> mixed{{{3, 4, 5, 6}, LayoutAttributes::Category::supplementaryView}};
    EXPECT_EQ(layout.adjust(mixed, 500), mixed);
}

struct RecordingOpener : OverviewOpener {
    std::vector<std::string> opened;
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Endpoint& e) override {
        opened.push_back("e:" + *e.id);
    }
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Measure& m) override {
        opened.push_back("m:" + *m.id);
    }
};

TEST_F(ScreenTest, GridCardsOpenTheOverviewAndOnlyEndpointsHaveMenus) {
    setState(std::vector{endpoint("a"), endpoint("b"), endpoint("c")},
             std::vector{measure("m"), measure("n")});
    auto opener = std::make_shared<RecordingOpener>();
    auto grid = std::make_shared<DashboardCollectionViewController>(controller, platform, opener);
    grid->host = host;
    grid->viewDidLoad();
    grid->viewWillAppear();
    ASSERT_EQ(grid->dataSource().snapshot().numberOfItems(), 5u);
    for (std::size_t row = 0; row < 5; ++row)
        EXPECT_EQ(grid->contextMenu({0, row}).has_value(), row < 3) << row;
    EXPECT_EQ(titles(*grid->contextMenu({0, 1})),
              (std::vector<std::string>{"Open in Browser", "Open on Kestrova", "|", "Copy Link"}));
    grid->didSelectItem({0, 1});
    grid->didSelectItem({0, 4});
    EXPECT_EQ(opener->opened, (std::vector<std::string>{"e:b", "m:n"}));
    EXPECT_EQ(grid->cellFor(*grid->dataSource().itemIdentifier({0, 3})).titleText, "Measure m");
    // Cached resources (no history) show what was recorded locally.
    const std::vector<HistoryPoint> recorded{{{}, HistoryPoint::Status::degraded, {}}};
    grid->recordedHistory = [&](const std::string&) { return &recorded; };
    EXPECT_EQ(tiles(grid->cellFor(*grid->dataSource().itemIdentifier({0, 0})).historyBar),
              std::string(29, '.') + "~");

    // Signed out: an empty grid.
    controller->state = std::make_shared<AppState>();
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::endpointsDidChange));
    EXPECT_EQ(grid->dataSource().snapshot().numberOfSections(), 0u);
    grid->viewDidDisappear();
}

} // namespace
