#include "Recording.hpp"
#include "ScreenEnvironment.hpp"
#include "TemporaryEnvironment.hpp"
#include "TestSupport.hpp"

#include "Forms/AboutPreferencesViewController.hpp"
#include "Forms/GeneralPreferencesViewController.hpp"
#include "Forms/PreferencesViewController.hpp"
#include "Forms/SettingsViewController.hpp"
#include "Forms/WebContentViewController.hpp"
#include "Presentation/DesktopPresence.hpp"
#include "Presentation/StatusChangeNotifier.hpp"
#include "Shell/ToolbarDelegate.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <fstream>

using namespace kestrova;
using namespace kestrova::testing;
using joblark::testing::pumpMainUntil;

namespace {

joblark::UserDefaults& defaults() {
    return joblark::UserDefaults::standard();
}

/// The General pane with every element attached.
struct GeneralPane {
    GeneralPane(std::shared_ptr<AppStateController> controller,
                std::shared_ptr<RemoteNotificationService> service) {
        push = std::make_shared<PushRegistration>(controller, std::move(service));
        pane = std::make_shared<GeneralPreferencesViewController>(controller, platform, push);
        pane->host = host;
        pane->setAutoRefreshToggle(autoRefresh);
        pane->setRefreshIntervalSlider(slider);
        pane->setCurrentRefreshIntervalLabel(label);
        pane->setPushNotificationsEnabledSwitch(pushSwitch);
        pane->setPushNotificationsUnavailableLabel(explanation);
        pane->viewWillAppear();
    }
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<RecordingPlatform> platform = std::make_shared<RecordingPlatform>();
    std::shared_ptr<RecordingSwitch> autoRefresh = std::make_shared<RecordingSwitch>(),
                                     pushSwitch = std::make_shared<RecordingSwitch>();
    std::shared_ptr<RecordingSlider> slider = std::make_shared<RecordingSlider>();
    std::shared_ptr<RecordingLabel> label = std::make_shared<RecordingLabel>(),
                                    explanation = std::make_shared<RecordingLabel>();
    std::shared_ptr<PushRegistration> push;
    std::shared_ptr<GeneralPreferencesViewController> pane;
};

class Preferences : public ScreenTest {};

TEST_F(Preferences, TheGeneralPaneShowsAndStoresTheRefreshSettings) {
    defaults().removeObject(AppStateController::kShouldAutoRefresh); // the registered default: on
    auto controller = makeController();
    ASSERT_TRUE(controller->refreshTimer) << "created with auto-refresh on";
    GeneralPane general(controller, std::make_shared<UnavailableRemoteNotificationService>());
    EXPECT_TRUE(general.autoRefresh->on);
    EXPECT_EQ(general.slider->current, 30);
    EXPECT_TRUE(general.slider->enabled);
    EXPECT_EQ(general.label->value, "30 seconds");
    EXPECT_FALSE(general.pushSwitch->on);

    general.slider->current = 45.7;
    general.pane->updateRefreshInterval();
    EXPECT_EQ(defaults().doubleForKey(AppStateController::kRefreshInterval), 45.7);
    EXPECT_EQ(general.label->value, "45 seconds");
    general.slider->current = -3; // never below the slider's range, whatever the toolkit hands over
    general.pane->updateRefreshInterval();
    EXPECT_EQ(general.label->value, "10 seconds");

    general.autoRefresh->on = false;
    general.pane->toggleAutoRefresh();
    EXPECT_FALSE(controller->refreshTimer);
    EXPECT_FALSE(defaults().boolForKey(AppStateController::kShouldAutoRefresh));
    EXPECT_FALSE(general.slider->enabled);
    EXPECT_FALSE(general.autoRefresh->on);

    general.autoRefresh->on = true;
    general.pane->toggleAutoRefresh();
    auto started = controller->refreshTimer;
    ASSERT_TRUE(started);
    EXPECT_TRUE(general.slider->enabled);
    general.pane->toggleAutoRefresh();
    EXPECT_EQ(controller->refreshTimer, started) << "a running timer is not replaced";

    general.pane->accountSettingsButtonWasPressed();
    EXPECT_EQ(general.platform->opened,
              std::vector<std::string>{ScreenEnvironment::current().service->url + "/profile"});

    // The desktop switches: notifications on by default, each flip stored and read back.
    defaults().removeObject(StatusNotificationCoordinator::kNotifyOnStatusChange);
    defaults().set(false, kKeepRunningInTray);
    auto notify = std::make_shared<RecordingSwitch>(), tray = std::make_shared<RecordingSwitch>();
    general.pane->setNotifyOnStatusChangeSwitch(notify);
    general.pane->setKeepRunningInTraySwitch(tray);
    EXPECT_TRUE(notify->on);
    EXPECT_FALSE(tray->on);
    notify->on = false;
    general.pane->notifyOnStatusChangeSwitchDidChange();
    tray->on = true;
    general.pane->keepRunningInTraySwitchDidChange();
    EXPECT_FALSE(defaults().boolForKey(StatusNotificationCoordinator::kNotifyOnStatusChange));
    EXPECT_TRUE(defaults().boolForKey(kKeepRunningInTray));
}

TEST_F(Preferences, WithoutARemoteNotificationServiceThePushSwitchIsDisabledAndSaysWhy) {
    auto controller = makeController();
    GeneralPane general(controller, std::make_shared<UnavailableRemoteNotificationService>());
    EXPECT_FALSE(general.pushSwitch->enabled);
    EXPECT_FALSE(general.explanation->hidden);
    EXPECT_EQ(general.explanation->value, std::string(UnavailableRemoteNotificationService::reason));

    auto available = std::make_shared<AvailableRemoteNotifications>();
    GeneralPane working(controller, available);
    EXPECT_TRUE(working.pushSwitch->enabled);
    EXPECT_TRUE(working.explanation->hidden);
}

TEST_F(Preferences, PushSwitchFollowsThePermissionAnswer) {
    struct Case {
        const char* name;
        bool grant;
        joblark::ErrorPtr error;
        bool stored;
        std::optional<std::string> alert;
        int registrations;
    };
    const std::vector<Case> cases = {
        {"granted", true, nullptr, true, std::nullopt, 1},
        {"refused", false, nullptr, false, "Please enable Push Notifications in the Settings app.", 0},
        {"failed", false, joblark::makeError("No permission service"), false, "No permission service", 0},
    };
    auto controller = makeController();
    signIn(*controller); // the refusal removes this machine's device on the service
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().set(false, AppStateController::kEnablePushNotifications);
        auto service = std::make_shared<AvailableRemoteNotifications>();
        service->grant = c.grant;
        service->answerError = c.error;
        GeneralPane general(controller, service);
        GeneralPane other(controller, service); // a second open switch follows the first
        general.pushSwitch->on = true;
        general.pane->pushNotificationsSwitchDidChange();
        ASSERT_TRUE(
            pumpMainUntil([&] { return general.pushSwitch->on == c.stored; }, std::chrono::seconds(30)));
        EXPECT_EQ(defaults().boolForKey(AppStateController::kEnablePushNotifications), c.stored);
        EXPECT_EQ(other.pushSwitch->on, c.stored);
        EXPECT_EQ(service->registrations, c.registrations);
        ASSERT_EQ(general.host->alerts.size(), c.alert ? 1u : 0u);
        if (c.alert) {
            EXPECT_EQ(general.host->alerts[0].title, *c.alert);
        }
    }
}

TEST_F(Preferences, TurningPushOffUnregistersOrOnlyRereadsWithoutADeviceId) {
    auto controller = makeController();
    signIn(*controller);
    auto service = std::make_shared<AvailableRemoteNotifications>();
    bool registered = false;
    controller->registerDevice("test machine", *controller->vendorIdentifier(), "abcd",
                               [&](bool ok, joblark::ErrorPtr) { registered = ok; });
    ASSERT_TRUE(pumpMainUntil([&] { return registered; }, std::chrono::seconds(30)));
    GeneralPane general(controller, service);
    ASSERT_TRUE(general.pushSwitch->on);
    general.pushSwitch->on = false;
    general.pane->pushNotificationsSwitchDidChange();
    ASSERT_TRUE(
        pumpMainUntil([&] { return !defaults().boolForKey(AppStateController::kEnablePushNotifications); },
                      std::chrono::seconds(30)));
    EXPECT_FALSE(general.pushSwitch->on);

    defaults().set(true, AppStateController::kEnablePushNotifications);
    controller->vendorIdentifier = [] { return std::optional<std::string>(); };
    general.pushSwitch->on = false;
    general.pane->pushNotificationsSwitchDidChange();
    EXPECT_TRUE(general.pushSwitch->on) << "nothing to unregister: the switch shows the store again";
}

TEST_F(Preferences, ThePaneFollowsTheToolbarUntilItsWindowCloses) {
    auto screen = std::make_shared<PreferencesViewController>();
    auto general = std::make_shared<RecordingView>(), about = std::make_shared<RecordingView>();
    screen->generalContainerView = general;
    screen->aboutContainerView = about;
    screen->sceneIdentifier = 7;
    screen->viewDidLoad();
    screen->viewWillAppear();
    EXPECT_FALSE(general->hidden);
    EXPECT_TRUE(about->hidden);

    auto& center = joblark::NotificationCenter::defaultCenter();
    joblark::LogCapture log;
    center.post(std::string(ToolbarDelegate::preferencesAboutIdentifier));
    EXPECT_TRUE(general->hidden);
    EXPECT_FALSE(about->hidden);
    center.post(std::string(ToolbarDelegate::preferencesGeneralIdentifier));
    EXPECT_FALSE(general->hidden);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"Opening about prefs", "Opening general prefs"}));

    center.post(std::string(sceneDidDisconnectNotification), joblark::Value(8));
    EXPECT_TRUE(screen->isObserving()) << "another window closed";
    center.post(std::string(sceneDidDisconnectNotification), joblark::Value(7));
    EXPECT_FALSE(screen->isObserving());
    center.post(std::string(ToolbarDelegate::preferencesAboutIdentifier));
    EXPECT_FALSE(general->hidden);
}

TEST_F(Preferences, SettingsClosesBeforeSigningOutAndShowsPostedErrors) {
    auto controller = makeController();
    signIn(*controller);
    auto settings = std::make_shared<SettingsViewController>(
        controller, std::make_shared<PushRegistration>(controller, nullptr));
    auto host = std::make_shared<RecordingHost>();
    auto table = std::make_shared<RecordingTable>();
    settings->host = host;
    settings->tableView = table;
    settings->viewWillAppear();

    joblark::NotificationCenter::defaultCenter().post(
        std::string(AppStateController::someonePleaseHandleThisError),
        joblark::Value(joblark::makeError("Service unavailable")));
    ASSERT_EQ(host->alerts.size(), 1u);
    EXPECT_EQ(host->alerts[0].title, "Service unavailable");

    const auto& sections = SettingsViewController::sections();
    ASSERT_EQ(sections.size(), 3u);
    settings->didSelectRow(1, 3);
    EXPECT_EQ(host->segues, std::vector<std::string>{"showLicenses"});
    settings->didSelectRow(9, 0);
    EXPECT_EQ(table->deselections, 1) << "a row that does not exist is only deselected";

    int logouts = 0;
    auto token = joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppStateController::didLogout), std::nullopt, [&](const joblark::Notification&) {
            host->events.push_back("signed out");
            ++logouts;
        });
    ASSERT_EQ(sections[2].rows[0].reuseIdentifier, "logout");
    settings->didSelectRow(2, 0);
    ASSERT_TRUE(pumpMainUntil([&] { return logouts == 1; }, std::chrono::seconds(30)));
    EXPECT_EQ(host->events.back(), "signed out");
    EXPECT_EQ(host->events[host->events.size() - 2], "dismissed");
    EXPECT_FALSE(controller->isSignedIn());
}

// --- resource pages ------------------------------------------------------------------------------------

TEST(ResourcePages, PagesLoadFromTheWwwFolderAndOtherLinksLeaveForTheBrowser) {
    joblark::testing::TemporaryDirectory resources;
    std::filesystem::create_directories(resources.path() / "www");
    std::ofstream(resources.path() / "www" / "about.html") << "<p>About</p>";
    std::ofstream(resources.path() / "secret.html") << "<p>not a page</p>";
    auto platform = std::make_shared<RecordingPlatform>();

    auto about = std::make_shared<AboutPreferencesViewController>("2.3.4");
    auto host = std::make_shared<RecordingHost>();
    auto version = std::make_shared<RecordingLabel>();
    about->host = host;
    about->versionLabel = version;
    about->viewDidLoad();
    EXPECT_EQ(version->value, "Version 2.3.4");
    about->showPage("tos");
    about->showPage("unknown");
    EXPECT_EQ(host->segues, std::vector<std::string>{"showTos"});

    struct Case {
        const char* segue;
        bool loads;
    };
    for (const auto& c :
         std::vector<Case>{{"showAbout", true}, {"showPop", false}, {"showSomethingElse", false}}) {
        SCOPED_TRACE(c.segue);
        auto page = std::make_shared<WebContentViewController>(platform, ResourceBundle(resources.path()));
        auto view = std::make_shared<RecordingWebView>();
        page->webView = view;
        about->prepare(c.segue, page);
        page->viewDidLoad();
        EXPECT_FALSE(view->opaque);
        ASSERT_EQ(view->loaded.size(), c.loads ? 1u : 0u);
        if (c.loads) {
            EXPECT_EQ(view->loaded[0],
                      joblark::URL::fileURL(resources.path() / "www" / "about.html").absoluteString() +
                          " in " + joblark::URL::fileURL(resources.path() / "www").absoluteString());
        }
    }

    WebContentViewController page(platform, ResourceBundle(resources.path()));
    auto url = [](std::string_view text) { return joblark::URL::parse(text); };
    EXPECT_EQ(page.decidePolicyFor(joblark::URL::fileURL(resources.path() / "www" / "about.html")),
              NavigationActionPolicy::allow);
    EXPECT_EQ(page.decidePolicyFor(std::nullopt), NavigationActionPolicy::allow);
    EXPECT_EQ(page.decidePolicyFor(joblark::URL::fileURL(resources.path() / "www" / ".." / "secret.html")),
              NavigationActionPolicy::cancel);
    EXPECT_TRUE(platform->opened.empty());
    EXPECT_EQ(page.decidePolicyFor(url("https://www.gnu.org/licenses/")), NavigationActionPolicy::cancel);
    EXPECT_EQ(platform->opened, std::vector<std::string>{"https://www.gnu.org/licenses/"});

    auto empty =
        std::make_shared<WebContentViewController>(platform, ResourceBundle(resources.path() / "missing"));
    WebContentViewController::prepareResourcePage("showAbout", *empty);
    EXPECT_FALSE(empty->onLoad) << "no www folder: nothing to load";
    EXPECT_EQ(ResourceBundle::candidateRoots("/opt/res", "/usr/bin").at(1), "/usr/share/kestrova");
}

} // namespace
