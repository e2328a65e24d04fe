// Two controllers sharing one credential store, as two processes of the user do: built into the
// Secret Service test program and into the fallback-file one, so both stores are covered.
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "Service/CredentialStore.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using joblark::testing::pumpMainUntil;

namespace {

class SignOutElsewhere : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("XDG_DATA_HOME", (home.path() / "data").string());
#ifdef KESTROVA_TEST_WITHOUT_SECRET_SERVICE
        env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string());
#endif
        joblark::UserDefaults::resetStandard(home.path() / "UserDefaults.json");
        AppStateController::registerDefaults();
        joblark::UserDefaults::standard().set(false, AppStateController::kShouldAutoRefresh);
        purgeCredentials();
    }

    std::shared_ptr<AppStateController> controller() {
        auto made = AppStateController::make(home.path() / "AppState.plist");
        made->vendorIdentifier = [] { return std::optional<std::string>(); }; // signs out at once
        return made;
    }
    static void drain(AppStateController& c) {
        c.queue().sync([] {});
    }

    joblark::testing::TemporaryDirectory home;
    joblark::testing::ScopedEnvironment env;
};

} // namespace

TEST_F(SignOutElsewhere, AControllerWhoseTokenWasRemovedSignsOutAndNeverWritesItBack) {
    auto watching = controller();
    watching->setCredentials("first-token");
    watching->state->endpoints.emplace(1, std::make_shared<Endpoint>());
    watching->save();
    drain(*watching);
    ASSERT_EQ(loadCredentials(), "first-token");

    auto other = controller();
    ASSERT_EQ(other->credentials(), "first-token");
    int signOuts = 0;
    auto observer = joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppStateController::didLogout), std::nullopt,
        [&](const joblark::Notification&) { ++signOuts; });
    other->logout();
    ASSERT_EQ(signOuts, 1);
    ASSERT_EQ(lookupCredentials().token, std::nullopt);

    // The first controller's next save finds the token gone: it signs out instead of writing.
    watching->save();
    ASSERT_TRUE(pumpMainUntil([&] { return signOuts == 2; }));
    EXPECT_FALSE(watching->isSignedIn());
    EXPECT_FALSE(watching->state->endpoints);
    drain(*watching);
    drain(*other);
    EXPECT_EQ(lookupCredentials().token, std::nullopt);
    auto cached = AppState::readFromFile(home.path() / "AppState.plist");
    ASSERT_TRUE(cached);
    EXPECT_FALSE((*cached)->endpoints) << "the account is not written back";

    // A sign-in elsewhere that replaced the token is followed, not overwritten.
    watching->setCredentials("second-token");
    watching->save();
    drain(*watching);
    ASSERT_TRUE(saveCredentials("third-token"));
    watching->save();
    ASSERT_TRUE(pumpMainUntil([&] { return watching->credentials() == "third-token"; }));
    drain(*watching);
    EXPECT_EQ(loadCredentials(), "third-token");
    EXPECT_EQ(signOuts, 2);
}
