#include "ScreenEnvironment.hpp"

#include "TestSupport.hpp"

#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/UserDefaults.hpp"

namespace kestrova::testing {
namespace {
ScreenEnvironment* const registered =
    static_cast<ScreenEnvironment*>(::testing::AddGlobalTestEnvironment(new ScreenEnvironment));
} // namespace

ScreenEnvironment& ScreenEnvironment::current() {
    return *registered;
}

void ScreenEnvironment::SetUp() {
    for (const char* sub : {"cache", "config", "data"})
        std::filesystem::create_directories(home.path() / sub);
    environment.set("HOME", home.path().string());
    environment.set("XDG_CACHE_HOME", (home.path() / "cache").string());
    environment.set("XDG_CONFIG_HOME", (home.path() / "config").string());
    environment.set("XDG_DATA_HOME", (home.path() / "data").string());
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // the token file fallback
    service = std::make_unique<LocalService>(serviceDirectory.path());
    environment.set("KESTROVA_SERVICE_URL", service->url);
    joblark::testing::useTaskController();
}

void ScreenEnvironment::TearDown() {
    service.reset();
}

void ScreenTest::SetUp() {
    auto& env = ScreenEnvironment::current();
    ASSERT_TRUE(env.service && env.service->isRunning());
    joblark::UserDefaults::resetStandard(preferences.path() / "UserDefaults.json");
    AppStateController::registerDefaults();
    joblark::UserDefaults::standard().set(false, AppStateController::kShouldAutoRefresh);
}

void ScreenTest::TearDown() {
    for (const auto& weak : controllers_)
        if (auto controller = weak.lock())
            controller->queue().sync([] {});
}

std::shared_ptr<AppStateController> ScreenTest::makeController() {
    purgeCredentials();
    auto controller = AppStateController::make(cache.path() / "AppState.plist");
    controllers_.push_back(controller);
    controller->vendorIdentifier = [] {
        return std::optional<std::string>("0F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0");
    };
    return controller;
}

void ScreenTest::signIn(AppStateController& controller) {
    controller.setCredentials(ScreenEnvironment::current().service->demoToken);
    bool done = false, ok = false;
    controller.sync([&](bool success, joblark::ErrorPtr) {
        done = true;
        ok = success;
    });
    ASSERT_TRUE(joblark::testing::pumpMainUntil([&] { return done; }, std::chrono::seconds(30)));
    ASSERT_TRUE(ok);
}

} // namespace kestrova::testing
