#include "ScreenFixture.hpp"

#include "Presentation/DesktopPresence.hpp"

using namespace kestrova;
using namespace kestrova::testing;

namespace {

using S = Check::Status;
using A = Assessment::Status;

std::shared_ptr<AppState> signedIn(std::vector<std::optional<S>> endpoints,
                                   std::vector<std::optional<A>> measures) {
    auto state = std::make_shared<AppState>();
    state->user = std::make_shared<User>();
    state->endpoints.emplace();
    state->measures.emplace();
    for (std::size_t i = 0; i < endpoints.size(); ++i)
        state->endpoints->push_back(endpoint("e" + std::to_string(i), endpoints[i]));
    for (std::size_t i = 0; i < measures.size(); ++i)
        state->measures->push_back(measure("m" + std::to_string(i), measures[i]));
    return state;
}

TrayInput input(const AppState* state, bool refreshed = true, std::optional<joblark::Date> mutedUntil = {},
                joblark::Date now = {}) {
    TrayInput in;
    in.state = state;
    in.lastRefreshSucceeded = refreshed;
    in.mutedUntil = mutedUntil;
    in.now = now;
    return in;
}

TEST(TrayPresentationTest, StatusAndCountsByState) {
    auto halfLoaded = signedIn({S::down}, {});
    halfLoaded->measures.reset();
    auto signedOut = signedIn({S::down}, {});
    signedOut->user.reset();
    auto nothing = signedIn({}, {});
    nothing->endpoints.reset();
    nothing->measures.reset();
    struct Case {
        std::shared_ptr<AppState> state;
        bool refreshed;
        TrayStatus status;
        std::string detail;
    };
    const std::vector<Case> cases{
        {signedIn({S::down, S::ok, S::down, S::degraded}, {A::ok}), true, TrayStatus::down,
         "2 down, 1 degraded of 5"},
        {signedIn({S::ok, S::ok}, {A::degraded}), true, TrayStatus::degraded, "1 degraded of 3"},
        {signedIn({S::ok, std::nullopt}, {A::ok}), true, TrayStatus::ok, "1 not checked yet of 3"},
        {signedIn({S::ok}, {A::ok}), true, TrayStatus::ok, "All 2 ok"},
        {signedIn({}, {}), true, TrayStatus::ok, "Nothing is monitored yet"},
        {halfLoaded, true, TrayStatus::down, "1 down of 1"}, // what has loaded counts
        {signedIn({S::down}, {}), false, TrayStatus::offline, "Offline: the last refresh failed"},
        {nothing, true, TrayStatus::offline, "Loading\u2026"},
        {signedOut, true, TrayStatus::offline, "Not signed in"},
        {nullptr, true, TrayStatus::offline, "Not signed in"},
    };
    for (const auto& c : cases) {
        const auto tray = trayPresentation(input(c.state.get(), c.refreshed));
        EXPECT_EQ(tray.status, c.status) << c.detail;
        EXPECT_EQ(tray.toolTip, "Kestrova\n" + c.detail);
    }
}

TEST(TrayPresentationTest, MenuFollowsSignInAndMute) {
    const auto now = joblark::Date::fromTimeIntervalSince1970(1'780'000'000);
    auto state = signedIn({S::ok}, {});
    auto enabled = [](const TrayPresentation& tray, TrayAction action) {
        for (const auto& group : tray.menu)
            for (const auto& item : group)
                if (item.action == action)
                    return item.isEnabled;
        ADD_FAILURE() << "no entry for the action";
        return false;
    };
    const auto plain = trayPresentation(input(state.get(), true, std::nullopt, now));
    ASSERT_EQ(plain.menu.size(), 4u);
    EXPECT_EQ(plain.menu.front().front(), (TrayMenuItem{"Overview", TrayAction::openOverview}));
    EXPECT_EQ(plain.menu.back().back().action, TrayAction::quit);
    EXPECT_TRUE(enabled(plain, TrayAction::refresh));
    EXPECT_FALSE(enabled(plain, TrayAction::unmute));

    EXPECT_TRUE(enabled(trayPresentation(input(state.get(), true, now.addingTimeInterval(60), now)),
                        TrayAction::unmute));
    const auto expired = trayPresentation(input(state.get(), true, now.addingTimeInterval(-60), now));
    EXPECT_FALSE(enabled(expired, TrayAction::unmute)) << "a mute that ran out is none";
    EXPECT_EQ(expired.toolTip, plain.toolTip);
    EXPECT_FALSE(enabled(trayPresentation(input(nullptr)), TrayAction::refresh))
        << "nothing to refresh signed out";

    // The mute entries' times are checked through the tray in the desktop tests.
    EXPECT_EQ(muteChange(TrayAction::refresh, now), std::nullopt);
}

TEST(InstanceRequestTest, CommandLineAndWireForm) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<InstanceRequest> request; // absent: refused
    };
    const std::vector<Case> cases{
        {{}, InstanceRequest{}},
        {{"-platform", "offscreen"}, InstanceRequest{}}, // the toolkit's own
        {{"--select", "abc-123"}, InstanceRequest{"abc-123"}},
        {{"--select=7"}, InstanceRequest{"7"}},
        {{"--select"}, std::nullopt},
        {{"--select="}, std::nullopt},
        {{"--select", "two words"}, std::nullopt},
        {{"--select", "a\nactivate"}, std::nullopt},
        {{"--select", std::string(257, 'x')}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = instanceRequest(c.arguments);
        ASSERT_EQ(parsed.hasValue(), c.request.has_value()) << ::testing::PrintToString(c.arguments);
        if (!parsed)
            continue;
        EXPECT_EQ(*parsed, *c.request);
        EXPECT_EQ(decodeInstanceRequest(encodeInstanceRequest(*parsed)), *parsed);
    }
    for (std::string_view line :
         {"", "activate", "activate\nx\n", "select \n", "select a b\n", "open /etc\n"})
        EXPECT_EQ(decodeInstanceRequest(line), std::nullopt) << line;
    EXPECT_EQ(decodeInstanceRequest("select " + std::string(maximumInstanceRequestSize, 'x') + "\n"),
              std::nullopt);
}

struct RecordingOpener : OverviewOpener {
    std::vector<std::string> selected;
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Endpoint& e) override {
        selected.push_back("e:" + *e.id);
    }
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Measure& m) override {
        selected.push_back("m:" + *m.id);
    }
};

TEST(InstanceRequestTest, SelectsTheResourceWithTheId) {
    auto state = signedIn({S::ok}, {A::ok});
    RecordingOpener opener;
    EXPECT_TRUE(selectResource(opener, state.get(), "e0"));
    EXPECT_TRUE(selectResource(opener, state.get(), "m0"));
    EXPECT_FALSE(selectResource(opener, state.get(), "gone"));
    EXPECT_FALSE(selectResource(opener, nullptr, "e0"));
    EXPECT_EQ(opener.selected, (std::vector<std::string>{"e:e0", "m:m0"}));
}

} // namespace
