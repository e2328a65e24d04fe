#include "ScreenFixture.hpp"

#include "Presentation/SceneNotifications.hpp"
#include "Presentation/StatusChangeNotifier.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

using namespace kestrova;
using namespace kestrova::testing;

namespace {

using S = Check::Status;

TEST(StatusChangeNotifierTest, SyncsInNotificationsOut) {
    struct Sync {
        std::vector<std::pair<std::string, std::optional<S>>> endpoints;
        std::optional<std::string> title; // the notification of this sync, if any
        std::string body = "";
    };
    const std::vector<Sync> syncs{
        {{{"Shop", S::down}, {"Blog", S::ok}}, std::nullopt}, // the first sync only learns
        {{{"Shop", S::down}, {"Blog", S::ok}}, std::nullopt}, // still down: not again
        {{{"Shop", S::ok}, {"Blog", S::ok}}, "Shop has recovered", "Endpoint, was down"},
        {{{"Shop", S::ok}, {"Blog", S::ok}}, std::nullopt}, // recovery told once
        {{{"Shop", S::down}, {"Blog", S::down}, {"New", S::ok}}, "2 endpoints are down", "Shop, Blog"},
        {{{"Shop", S::ok}, {"Blog", S::degraded}, {"New", S::down}},
         "3 status changes",
         "Down: New\nDegraded: Blog\nRecovered: Shop"},
        {{{"Shop", S::ok}, {"Blog", S::degraded}, {"New", S::down}, {"Fresh", std::nullopt}}, std::nullopt},
        {{{"Shop", S::ok}, {"Blog", S::degraded}, {"New", S::down}, {"Fresh", S::ok}},
         std::nullopt}, // new and ok
    };
    StatusChangeNotifier notifier;
    for (std::size_t i = 0; i < syncs.size(); ++i) {
        AppState state;
        state.endpoints.emplace();
        state.measures.emplace();
        for (const auto& [name, status] : syncs[i].endpoints) {
            auto e = endpoint(name, status);
            e->name = name;
            state.endpoints->push_back(e);
        }
        const auto n = StatusChangeNotifier::notification(notifier.observe(state));
        ASSERT_EQ(n.has_value(), syncs[i].title.has_value()) << "sync " << i;
        if (n) {
            EXPECT_EQ(n->title, *syncs[i].title) << "sync " << i;
            EXPECT_EQ(n->body, syncs[i].body) << "sync " << i;
        }
    }
    // A click on a mixed notification goes to what is down.
    AppState down;
    down.endpoints = std::vector{endpoint("a", S::ok)};
    down.measures = std::vector{measure("m", Assessment::Status::ok)};
    notifier.reset();
    notifier.observe(down);
    down.endpoints = std::vector{endpoint("a", S::degraded)};
    down.measures = std::vector{measure("m", Assessment::Status::down)};
    const auto mixed = StatusChangeNotifier::notification(notifier.observe(down));
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->targetKind, ResourceKind::measure);
    EXPECT_EQ(mixed->targetId, "m");
    EXPECT_TRUE(mixed->critical);
    // A list that failed to load is no news when it comes back.
    down.measures.reset();
    EXPECT_TRUE(notifier.observe(down).empty());
    down.measures = std::vector{measure("m", Assessment::Status::down)};
    EXPECT_TRUE(notifier.observe(down).empty());
}

struct RecordingNotifications : DesktopNotificationService {
    std::vector<DesktopNotification> shown;
    void show(const DesktopNotification& n) override { shown.push_back(n); }
};

TEST_F(ScreenTest, CoordinatorHonoursMuteAndPreferenceAndClicksSelect) {
    StatusNotificationCoordinator::registerDefaults();
    auto service = std::make_shared<RecordingNotifications>();
    auto coordinator = StatusNotificationCoordinator::make(controller, service);
    auto sync = [&](std::optional<S> status) {
        setState(std::vector{endpoint("e", status)}, std::vector<std::shared_ptr<Measure>>{});
        joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::userDidChange));
    };
    const joblark::Date now;
    sync(S::ok);
    coordinator->muteUntil(now.addingTimeInterval(3600));
    sync(S::down);
    EXPECT_TRUE(service->shown.empty()) << "muted";
    coordinator->muteUntil(std::nullopt);
    sync(S::down);
    EXPECT_TRUE(service->shown.empty()) << "learnt while muted: no old news after unmuting";
    sync(S::ok);
    ASSERT_EQ(service->shown.size(), 1u);

    joblark::UserDefaults::standard().set(false, StatusNotificationCoordinator::kNotifyOnStatusChange);
    sync(S::down);
    EXPECT_EQ(service->shown.size(), 1u) << "switched off";
    joblark::UserDefaults::standard().removeObject(StatusNotificationCoordinator::kNotifyOnStatusChange);

    // Sign-in starts over: its first sync tells nothing.
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::didLogin));
    sync(S::ok);
    EXPECT_EQ(service->shown.size(), 1u);

    service->activated(service->shown.back());
    ASSERT_EQ(controller->activityInbox.size(), 1u);
    EXPECT_EQ(controller->activityInbox[0].activityType, SceneNotifications::endpointActivityType);
    EXPECT_GT(StatusNotificationCoordinator::tomorrow(now).timeIntervalSince(now), 0);
    EXPECT_LE(StatusNotificationCoordinator::tomorrow(now).timeIntervalSince(now), 25 * 3600);
}

} // namespace
