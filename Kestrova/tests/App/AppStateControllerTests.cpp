#include "LocalService.hpp"
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "Service/CredentialStore.hpp"
#include "Shell/PushRegistration.hpp"
#include "State/AppStateController.hpp"
#include "State/DeviceIdentity.hpp"
#include "State/RefreshInterval.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UUID.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sys/stat.h>

using namespace kestrova;
using namespace kestrova::testing;
using joblark::testing::pumpMainUntil;
using joblark::testing::ScopedEnvironment;
using joblark::testing::TemporaryDirectory;

namespace {

/// One service for the test process: the client reads its address once.
class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        for (const char* sub : {"cache", "config", "data"})
            std::filesystem::create_directories(home.path() / sub);
        env.set("HOME", home.path().string());
        env.set("XDG_CACHE_HOME", (home.path() / "cache").string());
        env.set("XDG_CONFIG_HOME", (home.path() / "config").string());
        env.set("XDG_DATA_HOME", (home.path() / "data").string());
        env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // the token file fallback
        service = std::make_unique<LocalService>(serviceDirectory.path());
        env.set("KESTROVA_SERVICE_URL", service->url);
        joblark::testing::useTaskController();
    }
    void TearDown() override { service.reset(); }

    TemporaryDirectory home, serviceDirectory;
    ScopedEnvironment env;
    std::unique_ptr<LocalService> service;
};

ServiceEnvironment* const environment =
    static_cast<ServiceEnvironment*>(::testing::AddGlobalTestEnvironment(new ServiceEnvironment));

struct Outcome {
    bool called = false, ok = false;
    int calls = 0;
    joblark::ErrorPtr error;
    AppStateController::Completion handler() {
        return [this](bool success, joblark::ErrorPtr e) {
            called = true;
            ++calls;
            ok = success;
            error = std::move(e);
        };
    }
    bool wait() {
        return pumpMainUntil([this] { return called; }, std::chrono::seconds(60));
    }
};

/// Counts notifications by name, with the last object of each.
struct Heard {
    Heard() {
        for (auto name :
             {AppStateController::endpointsDidChange, AppStateController::measuresDidChange,
              AppStateController::userDidChange, AppStateController::didLogin, AppStateController::didLogout,
              AppStateController::pushNotificationAuthorizationStatusDidChange,
              AppStateController::someonePleaseHandleThisError})
            tokens.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
                std::string(name), std::nullopt, [this](const joblark::Notification& n) {
                    ++count[n.name];
                    last[n.name] = n.object;
                }));
    }
    std::map<std::string, int> count;
    std::map<std::string, joblark::Value> last;
    std::vector<joblark::ObserverToken> tokens;
};

class AppStateControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(environment->service && environment->service->isRunning());
        joblark::UserDefaults::resetStandard(preferences.path() / "UserDefaults.json");
        AppStateController::registerDefaults();
        joblark::UserDefaults::standard().set(false, AppStateController::kShouldAutoRefresh);
        purgeCredentials();
        controller = AppStateController::make(cache.path() / "AppState.plist");
        controller->vendorIdentifier = [] {
            return std::optional<std::string>("0F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0");
        };
    }

    void signInWithToken() {
        controller->setCredentials(environment->service->demoToken);
        Outcome synced;
        controller->sync(synced.handler());
        ASSERT_TRUE(synced.wait());
        ASSERT_TRUE(synced.ok) << (synced.error ? synced.error->localizedDescription() : "");
    }

    void drainSaves() {
        controller->queue().sync([] {});
    }

    TemporaryDirectory cache, preferences;
    std::shared_ptr<AppStateController> controller;
};

TEST_F(AppStateControllerTest, SignInSyncsCachesAndComesBackAfterARestart) {
    Heard heard;
    Outcome login;
    controller->login("demo@quillnest.local", "kestrova", login.handler());
    ASSERT_TRUE(login.wait());
    ASSERT_TRUE(login.ok) << (login.error ? login.error->localizedDescription() : "");
    EXPECT_EQ(login.calls, 1);
    EXPECT_TRUE(controller->isSignedIn());
    EXPECT_EQ(heard.count["AppStateController.didLogin"], 1);
    EXPECT_EQ(heard.count["AppStateController.userDidChange"], 1);
    ASSERT_TRUE(controller->state->user);
    EXPECT_EQ(controller->state->user->email, "demo@quillnest.local");
    ASSERT_TRUE(controller->state->endpoints);
    ASSERT_EQ(controller->state->endpoints->size(), 5u);
    ASSERT_TRUE(controller->state->measures);
    const auto& endpoints = *controller->state->endpoints;
    for (std::size_t i = 1; i < endpoints.size(); ++i)
        EXPECT_LE(*endpoints[i - 1]->createdAt, *endpoints[i]->createdAt) << "oldest first";

    drainSaves();
    struct stat info {};
    ASSERT_EQ(::stat(controller->cacheFileLocation().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(loadCredentials(), controller->credentials()) << "the token is kept for the next start";

    auto restarted = AppStateController::make(controller->cacheFileLocation());
    EXPECT_EQ(restarted->credentials(), controller->credentials());
    ASSERT_TRUE(restarted->state->endpoints);
    EXPECT_EQ(restarted->state->endpoints->size(), 5u);
    EXPECT_EQ(restarted->state->endpoints->front()->id, endpoints.front()->id);
    ASSERT_TRUE(restarted->state->user);
    EXPECT_EQ(restarted->state->user->email, "demo@quillnest.local");
}

TEST_F(AppStateControllerTest, RejectedSignInsLeaveTheUserSignedOut) {
    Outcome wrongPassword;
    controller->login("demo@quillnest.local", "guess", wrongPassword.handler());
    ASSERT_TRUE(wrongPassword.wait());
    EXPECT_FALSE(wrongPassword.ok);
    EXPECT_FALSE(wrongPassword.error) << "a rejected exchange reports no error";
    EXPECT_FALSE(controller->isSignedIn());

    Heard heard;
    controller->setCredentials("not-a-token");
    Outcome token;
    controller->sync([this, &token](bool ok, joblark::ErrorPtr error) {
        controller->finishSignIn(ok, error, token.handler());
    });
    ASSERT_TRUE(token.wait());
    EXPECT_FALSE(token.ok);
    ASSERT_TRUE(token.error);
    EXPECT_FALSE(controller->isSignedIn());
    EXPECT_FALSE(controller->state->endpoints) << "a failed first sync leaves an empty state";
    EXPECT_EQ(heard.count["AppStateController.didLogin"], 0);
    EXPECT_EQ(heard.count["AppStateController.endpointsDidChange"], 1);
    EXPECT_TRUE(heard.last["AppStateController.endpointsDidChange"].isNull());
}

TEST_F(AppStateControllerTest, EditsFoldTheServiceAnswerIntoTheStateAndAnnounceIt) {
    signInWithToken();
    Heard heard;
    Outcome created;
    controller->createEndpoint("Status page", *joblark::URL::parse("https://status.example.com/health"),
                               created.handler());
    ASSERT_TRUE(created.wait());
    ASSERT_TRUE(created.ok);
    auto& endpoints = *controller->state->endpoints;
    ASSERT_EQ(endpoints.size(), 6u);
    auto added = endpoints.back(); // the newest sorts last
    EXPECT_EQ(added->name, "Status page");
    EXPECT_EQ(heard.count["AppStateController.endpointsDidChange"], 1);
    ASSERT_TRUE(added->url);

    Outcome refused;
    controller->createEndpoint("", *joblark::URL::parse("https://other.example.com"), refused.handler());
    ASSERT_TRUE(refused.wait());
    EXPECT_FALSE(refused.ok);
    ASSERT_TRUE(refused.error);
    EXPECT_FALSE(refused.error->localizedDescription().empty());
    EXPECT_EQ(controller->state->endpoints->size(), 6u) << "a failure leaves the state as it was";

    Outcome patched;
    controller->updateEndpoint(*added->url, true, std::nullopt, Endpoint::Status::inactive,
                               patched.handler());
    ASSERT_TRUE(patched.wait());
    ASSERT_TRUE(patched.ok);
    auto updated = controller->state->endpoints->back();
    EXPECT_EQ(updated->id, added->id);
    EXPECT_EQ(updated->isPublic, true);
    EXPECT_EQ(updated->status, Endpoint::Status::inactive);
    EXPECT_EQ(controller->state->endpoints->size(), 6u);

    Outcome deleted;
    controller->deleteResource(*added->url, deleted.handler());
    ASSERT_TRUE(deleted.wait());
    ASSERT_TRUE(deleted.ok);
    EXPECT_EQ(controller->state->endpoints->size(), 5u);
    EXPECT_EQ(heard.count["AppStateController.measuresDidChange"], 1);

    // The cache written last holds the final list.
    drainSaves();
    auto cached = AppState::readFromFile(controller->cacheFileLocation());
    ASSERT_TRUE(cached);
    EXPECT_EQ((*cached)->endpoints->size(), 5u);
}

TEST_F(AppStateControllerTest, SignOutClearsStateCredentialsAndPreferences) {
    signInWithToken();
    auto& defaults = joblark::UserDefaults::standard();
    defaults.set(5, AppStateController::kRefreshInterval);
    Heard heard;
    bool done = false;
    controller->logout([&] { done = true; });
    ASSERT_TRUE(pumpMainUntil([&] { return done; }, std::chrono::seconds(60)));
    EXPECT_FALSE(controller->isSignedIn());
    EXPECT_FALSE(controller->state->endpoints);
    EXPECT_FALSE(loadCredentials());
    EXPECT_EQ(defaults.integerForKey(AppStateController::kRefreshInterval), 30) << "back to the default";
    EXPECT_TRUE(defaults.boolForKey(AppStateController::kShouldAutoRefresh));
    EXPECT_EQ(heard.count["AppStateController.didLogout"], 1);
    drainSaves();
    auto cached = AppState::readFromFile(controller->cacheFileLocation());
    ASSERT_TRUE(cached);
    EXPECT_FALSE((*cached)->endpoints);
}

TEST_F(AppStateControllerTest, TheRefreshTimerSyncsThroughTheSaveQueue) {
    signInWithToken();
    joblark::UserDefaults::standard().set(1, AppStateController::kRefreshInterval);
    Heard heard;
    controller->startRefreshTimer();
    // Saves asked for while the timer's syncs run queue behind them and still write whole states.
    for (int i = 0; i < 20; ++i) {
        controller->save();
        pumpMainUntil([] { return false; }, std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(pumpMainUntil([&] { return heard.count["AppStateController.userDidChange"] >= 2; },
                              std::chrono::seconds(20)));
    controller->stopRefreshTimer();
    EXPECT_FALSE(controller->refreshTimer);
    EXPECT_FALSE(joblark::UserDefaults::standard().boolForKey(AppStateController::kShouldAutoRefresh));
    drainSaves();
    auto cached = AppState::readFromFile(controller->cacheFileLocation());
    ASSERT_TRUE(cached);
    EXPECT_EQ((*cached)->endpoints->size(), 5u);
}

TEST_F(AppStateControllerTest, PushRegistrationOnLinuxTakesTheFailurePath) {
    signInWithToken();
    Heard heard;
    auto push = std::make_shared<PushRegistration>(controller,
                                                   std::make_shared<UnavailableRemoteNotificationService>());
    // Registered first through the service, as another platform would have done.
    Outcome registered;
    controller->registerDevice("test machine", *controller->vendorIdentifier(), "00ff", registered.handler());
    ASSERT_TRUE(registered.wait());
    ASSERT_TRUE(registered.ok);
    EXPECT_TRUE(joblark::UserDefaults::standard().boolForKey(AppStateController::kEnablePushNotifications));

    bool checked = false, found = false;
    push->checkToSeeIfWeAreRegisteredForPushNotifications([&](bool r) {
        checked = true;
        found = r;
    });
    ASSERT_TRUE(
        pumpMainUntil([&] { return heard.count["AppStateController.someonePleaseHandleThisError"] == 1; },
                      std::chrono::seconds(30)));
    EXPECT_TRUE(checked && found);
    EXPECT_FALSE(joblark::UserDefaults::standard().boolForKey(AppStateController::kEnablePushNotifications))
        << "no remote notifications here";

    Outcome unregistered;
    controller->unregisterDevice(*controller->vendorIdentifier(), unregistered.handler());
    ASSERT_TRUE(unregistered.wait());
    EXPECT_TRUE(unregistered.ok);
    checked = false;
    push->checkToSeeIfWeAreRegisteredForPushNotifications([&](bool r) {
        checked = true;
        found = r;
    });
    ASSERT_TRUE(pumpMainUntil([&] { return checked; }, std::chrono::seconds(30)));
    EXPECT_FALSE(found);
}

TEST_F(AppStateControllerTest, TwoControllersInOneProcessEachSendTheirOwnToken) {
    controller->setCredentials(environment->service->demoToken);
    TemporaryDirectory otherCache;
    auto other = AppStateController::make(otherCache.path() / "AppState.plist"); // made last
    other->setCredentials("not-a-token");
    Outcome mine, theirs;
    controller->sync(mine.handler());
    other->sync(theirs.handler());
    ASSERT_TRUE(mine.wait() && theirs.wait());
    EXPECT_TRUE(mine.ok);
    EXPECT_FALSE(theirs.ok);
    other->queue().sync([] {}); // its save ends before its cache folder goes
}

TEST_F(AppStateControllerTest, CacheProblemsStayForAWindowToShowAndLitterGoesAtStart) {
    const auto location = cache.path() / "AppState.plist";
    ASSERT_TRUE(joblark::FileLocations::writeFileAtomically(location, std::string_view("bplist00 damaged")));
    const auto stale = cache.path() / ".AppState.plist.tmp-k1ll3d00";
    std::ofstream(stale) << "half a save";
    std::filesystem::last_write_time(stale,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

    auto damaged = AppStateController::make(location);
    EXPECT_FALSE(std::filesystem::exists(stale));
    auto problem = damaged->lastCacheProblem();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->kind, AppStateController::CacheProblem::Kind::load);
    EXPECT_FALSE(damaged->state->endpoints);
    damaged->save();
    damaged->queue().sync([] {});
    EXPECT_FALSE(damaged->lastCacheProblem()) << "a good write ends it";

    auto unwritable = AppStateController::make(cache.path() / "missing" / "AppState.plist");
    EXPECT_FALSE(unwritable->lastCacheProblem()) << "no file yet is normal";
    unwritable->save();
    unwritable->queue().sync([] {});
    problem = unwritable->lastCacheProblem();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->kind, AppStateController::CacheProblem::Kind::save);
    EXPECT_NE(problem->description.find("missing"), std::string::npos) << problem->description;
}

TEST(RefreshIntervalTest, StaysWithinFiveSecondsAndADayAndSaysSo) {
    using namespace std::chrono_literals;
    struct Case {
        std::optional<joblark::Value> stored;
        std::chrono::seconds expected;
        bool logged;
    };
    const std::vector<Case> cases{
        {std::nullopt, 30s, false},
        {joblark::Value(45), 45s, false},
        {joblark::Value(45.9), 45s, false},
        {joblark::Value(1e10), 86400s, true},
        {joblark::Value(1e300), 86400s, true},
        {joblark::Value(std::numeric_limits<std::int64_t>::max()), 86400s, true},
        {joblark::Value(2), 5s, true},
        {joblark::Value(0.0), 5s, true},
        {joblark::Value(-3), 30s, true},
        {joblark::Value(std::nan("")), 30s, true},
        {joblark::Value("60"), 30s, true},
        {joblark::Value(true), 30s, true},
    };
    for (const auto& c : cases) {
        joblark::LogCapture log;
        EXPECT_EQ(RefreshInterval::fromPreference(c.stored), c.expected)
            << (c.stored ? c.stored->description() : "");
        EXPECT_EQ(log.contains("kRefreshInterval"), c.logged) << c.expected.count();
    }

    // The timer gets the clamped interval; seconds beyond it once overflowed into a busy loop.
    TemporaryDirectory preferences, cache;
    joblark::UserDefaults::resetStandard(preferences.path() / "UserDefaults.json");
    AppStateController::registerDefaults();
    joblark::UserDefaults::standard().set(1e10, AppStateController::kRefreshInterval);
    auto controller = AppStateController::make(cache.path() / "AppState.plist");
    ASSERT_TRUE(controller->refreshTimer);
    EXPECT_EQ(controller->refreshTimer->timeInterval(), 86400.0);
    controller->stopRefreshTimer();
}

TEST(DeviceIdentityTest, DerivesAStableApplicationIdentifierAndFormatsTokens) {
    TemporaryDirectory temp;
    const auto file = temp.path() / "machine-id";
    ASSERT_TRUE(joblark::FileLocations::writeFileAtomically(
        file, std::string_view("0123456789abcdef0123456789abcdef\n")));
    auto id = DeviceIdentity::vendorIdentifier(file);
    ASSERT_TRUE(id);
    EXPECT_EQ(id, DeviceIdentity::vendorIdentifier(file));
    EXPECT_EQ(id->size(), 36u);
    EXPECT_EQ(*id, joblark::UUID::fromString(*id)->uuidString()) << "upper case";
    EXPECT_EQ(id->find("0123456789"), std::string::npos) << "not the raw machine id";
    ASSERT_TRUE(joblark::FileLocations::writeFileAtomically(file, std::string_view("not a machine id")));
    EXPECT_FALSE(DeviceIdentity::vendorIdentifier(file));
    EXPECT_FALSE(DeviceIdentity::vendorIdentifier(temp.path() / "missing"));

    const std::uint8_t token[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(DeviceIdentity::registrationId(token), "000fa0ff");
}

} // namespace
