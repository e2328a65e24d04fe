#include "ScreenFixture.hpp"

#include "Presentation/EndpointDetailViewController.hpp"
#include "Presentation/MeasureDetailViewController.hpp"

using namespace kestrova;
using namespace kestrova::testing;

namespace {

struct RecordingBadges : BadgeStackView {
    std::vector<std::shared_ptr<Badge>> badges;
    void setArrangedBadges(const std::vector<std::shared_ptr<Badge>>& value) override { badges = value; }
};

std::shared_ptr<Assessment> assessment(std::optional<std::string> measurement,
                                       std::optional<Assessment::Status> status = Assessment::Status::ok) {
    auto a = std::make_shared<Assessment>();
    a->measurement = std::move(measurement);
    a->status = status;
    return a;
}

std::vector<std::pair<double, double>> points(const LineChartDataSet& set) {
    std::vector<std::pair<double, double>> out;
    for (const auto& e : set.entries)
        out.emplace_back(e.x, e.y);
    return out;
}

TEST(DetailTextsTest, EndpointTextsAndChartSeries) {
    using S = Check::Status;
    auto e = endpoint("e");
    EXPECT_EQ(EndpointDetailViewController::recentBehaviorText(e.get()),
              "This endpoint has been experiencing issues.")
        << "no history list";
    e->history = std::vector{check(S::ok), check(S::ok)};
    EXPECT_EQ(EndpointDetailViewController::recentBehaviorText(e.get()), "No recent issues.");
    e->history->push_back(check(S::degraded));
    e->lastCheckMessage = "timed out";
    EXPECT_EQ(EndpointDetailViewController::recentBehaviorText(e.get()),
              "This endpoint has been experiencing issues. Last known error:\ntimed out.");
    e->history = std::vector<std::shared_ptr<Check>>{};
    e->lastCheckMessage = "";
    EXPECT_EQ(EndpointDetailViewController::recentBehaviorText(e.get()), "Last known error:\n.")
        << "an empty message still counts on an endpoint";
    EXPECT_EQ(EndpointDetailViewController::recentBehaviorText(nullptr), ".");

    e->degredationThreshold = 500;
    e->checkType = Endpoint::CheckType::get;
    EXPECT_EQ(EndpointDetailViewController::configurationText(e.get()),
              "Degredation Threshold: 500ms\nRequest Type: GET");
    e->certCheckExpiryThreshold = 14;
    EXPECT_EQ(EndpointDetailViewController::configurationText(e.get()),
              "Degredation Threshold: 500ms\nCertificate Expiry Threshold: 14 days\nRequest Type: GET");

    // Newest first from the service; the chart runs oldest to newest, a missing time at 0.
    e->history = std::vector{check(S::ok, 120), check(S::ok), check(S::down, 900)};
    const auto chart = EndpointDetailViewController::chartData(e.get());
    ASSERT_EQ(chart.dataSets.size(), 2u);
    EXPECT_EQ(points(chart.dataSets[0]),
              (std::vector<std::pair<double, double>>{{0, 900}, {1, 0}, {2, 120}}));
    EXPECT_EQ(points(chart.dataSets[1]),
              (std::vector<std::pair<double, double>>{{0, 500}, {1, 500}, {2, 500}}));
    EXPECT_TRUE(EndpointDetailViewController::chartData(nullptr).dataSets[0].entries.empty());
}

TEST(DetailTextsTest, MeasureTextsAndChartWithGaps) {
    auto m = measure("m");
    m->history = std::vector{assessment("12.5"), assessment("high"), assessment("10")};
    const auto chart = MeasureDetailViewController::chartData(m.get());
    ASSERT_TRUE(chart);
    EXPECT_EQ(points(chart->dataSets[0]), (std::vector<std::pair<double, double>>{{0, 10}, {2, 12.5}}));
    // Readings that parse as infinite or NaN are gaps too; words only: no chart.
    m->history = std::vector{assessment("inf"), assessment("nan"), assessment("3")};
    EXPECT_EQ(points(MeasureDetailViewController::chartData(m.get())->dataSets[0]),
              (std::vector<std::pair<double, double>>{{0, 3}}));
    m->history = std::vector{assessment("high"), assessment(" 4"), assessment("4 ms")};
    EXPECT_FALSE(MeasureDetailViewController::chartData(m.get()));

    auto criteria = [](std::optional<std::string> path, Criteria::Comparison comparison, std::string value) {
        auto c = std::make_shared<Criteria>();
        c->valuePath = std::move(path);
        c->comparison = comparison;
        c->expectedValue = std::move(value);
        return c;
    };
    m->criteria = std::vector{criteria(std::nullopt, Criteria::Comparison::greaterThan, "100"),
                              criteria("data.load", Criteria::Comparison::lessThan, "2")};
    EXPECT_EQ(MeasureDetailViewController::configurationText(m.get()),
              "Entire Request Body is greater than 100\nAND data.load is less than 2");
    m->lastAssessmentMessage = "";
    EXPECT_EQ(MeasureDetailViewController::recentBehaviorText(m.get()), "No recent issues.")
        << "an empty message adds nothing on a measure";
    m->history.reset();
    EXPECT_EQ(MeasureDetailViewController::recentBehaviorText(m.get()),
              "This measure has been experiencing issues.");
}

TEST_F(ScreenTest, EndpointPaneRendersFromTheStateAndFollowsIt) {
    auto e = endpoint("e", Check::Status::degraded);
    e->status = Endpoint::Status::inactive;
    e->isPublic = true;
    setState(std::vector{e}, std::vector<std::shared_ptr<Measure>>{});
    controller->state->user->isStatusPageEnabled = false;

    auto pane = std::make_shared<EndpointDetailViewController>(controller);
    auto badges = std::make_shared<RecordingBadges>();
    auto status = std::make_shared<RecordingSwitch>(), isPublic = std::make_shared<RecordingSwitch>(),
         cert = std::make_shared<RecordingSwitch>();
    auto container = std::make_shared<RecordingView>();
    auto behaviour = std::make_shared<RecordingLabel>();
    pane->badgeStackView = badges;
    pane->statusSwitch = status;
    pane->publicSwitch = isPublic;
    pane->certSwitch = cert;
    pane->publicContainerView = container;
    pane->recentBehaviorLabel = behaviour;
    pane->endpoint = e;
    pane->viewDidLoad();
    pane->viewWillAppear();

    EXPECT_EQ(pane->title, "Endpoint e");
    ASSERT_EQ(badges->badges.size(), 2u);
    EXPECT_EQ(badges->badges[0]->title(), "Inactive");
    EXPECT_EQ(badges->badges[0]->backgroundColor(), Color::systemOrange);
    EXPECT_EQ(badges->badges[1]->title(), "Degraded");
    EXPECT_FALSE(status->on);
    EXPECT_TRUE(isPublic->on);
    EXPECT_TRUE(container->hidden) << "no status page: no public switch";

    // The state changes: the pane takes the new copy of its endpoint.
    auto changed = endpoint("e", Check::Status::ok);
    changed->status = Endpoint::Status::active;
    controller->setEndpoints(std::vector{changed});
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::endpointsDidChange));
    EXPECT_TRUE(status->on);
    EXPECT_EQ(badges->badges[0]->title(), "Active");
    EXPECT_EQ(badges->badges[1]->title(), "Ok");

    // Deleted: everything empties but the badges keep their last state.
    controller->setEndpoints(std::vector<std::shared_ptr<Endpoint>>{});
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::endpointsDidChange));
    EXPECT_FALSE(pane->endpoint);
    EXPECT_FALSE(status->on);
    EXPECT_EQ(behaviour->value, ".");
    EXPECT_EQ(badges->badges[0]->title(), "Active");
    pane->viewDidDisappear();

    // A first load without a last check status shows the check badge as down.
    auto fresh = std::make_shared<EndpointDetailViewController>(controller);
    fresh->endpoint = endpoint("x", std::nullopt);
    EXPECT_EQ(fresh->checkStatusBadge()->title(), "Down");
    EXPECT_EQ(fresh->checkStatusBadge()->backgroundColor(), Color::systemRed);
}

TEST_F(ScreenTest, MeasurePaneHidesTheChartWithoutNumbers) {
    auto m = measure("m");
    m->history = std::vector{assessment("fine")};
    setState(std::vector<std::shared_ptr<Endpoint>>{}, std::vector{m});
    auto pane = std::make_shared<MeasureDetailViewController>(controller);
    auto chart = std::make_shared<RecordingChart>();
    auto container = std::make_shared<RecordingView>();
    auto configuration = std::make_shared<RecordingLabel>();
    configuration->value = "stale";
    pane->chartView = chart;
    pane->chartContainerView = container;
    pane->configurationDescriptionLabel = configuration;
    pane->measure = m;
    pane->viewDidLoad();
    EXPECT_TRUE(chart->hidden);
    EXPECT_TRUE(container->hidden);
    EXPECT_FALSE(configuration->value) << "no criteria clears the text";
    m->history = std::vector{assessment("4.5")};
    pane->updateView();
    EXPECT_FALSE(chart->hidden);
    ASSERT_TRUE(chart->data);
    EXPECT_EQ(chart->data->dataSets[0].label, "Measurement Value");
}

} // namespace
