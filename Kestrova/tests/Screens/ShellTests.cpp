#include "Recording.hpp"
#include "ScreenEnvironment.hpp"
#include "TestSupport.hpp"

#include "Model/UIError.hpp"
#include "Shell/AppDelegate.hpp"
#include "Shell/MainSplitViewController.hpp"
#include "Shell/SceneDelegate.hpp"
#include "Shell/ToolbarDelegate.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using namespace kestrova::testing;
using joblark::testing::pumpMainUntil;

namespace {

/// Counts notifications by name.
struct Heard {
    explicit Heard(std::vector<std::string_view> names) {
        for (auto name : names)
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

class Shell : public ScreenTest {
protected:
    /// An application delegate on a controller of its own, launched, with plug-ins from `folders`.
    std::shared_ptr<AppDelegate> launch(std::vector<std::filesystem::path> folders = {}) {
        controller = makeController();
        AppDelegate::Options options;
        options.controller = [this] { return controller; };
        options.pluginFolders = std::move(folders);
        app = std::make_shared<AppDelegate>(windows, platform, std::move(options));
        EXPECT_TRUE(app->applicationDidFinishLaunching());
        return app;
    }

    std::shared_ptr<RecordingWindowSystem> windows = std::make_shared<RecordingWindowSystem>();
    std::shared_ptr<RecordingPlatform> platform = std::make_shared<RecordingPlatform>();
    std::shared_ptr<AppStateController> controller;
    std::shared_ptr<AppDelegate> app;
};

TEST_F(Shell, ToolbarItemsFollowTheWindowKind) {
    launch();
    using T = ToolbarDelegate;
    struct Case {
        T::InitialState state;
        std::vector<std::string_view> identifiers;
    };
    const std::vector<Case> cases = {
        {T::InitialState::overview,
         {T::toggleSidebarIdentifier, T::showDashboardIdentifier, T::refreshIdentifier, T::createIdentifier,
          T::primarySidebarTrackingSeparatorIdentifier, T::deleteIdentifier}},
        {T::InitialState::dashboard,
         {T::refreshIdentifier, T::flexibleSpaceIdentifier, T::dashboardTitleIdentifier,
          T::flexibleSpaceIdentifier}},
        {T::InitialState::preferences,
         {T::flexibleSpaceIdentifier, T::preferencesGeneralIdentifier, T::preferencesAboutIdentifier}},
    };
    for (const auto& c : cases) {
        ToolbarDelegate delegate(c.state, app, controller);
        EXPECT_EQ(delegate.defaultItemIdentifiers(),
                  std::vector<std::string>(c.identifiers.begin(), c.identifiers.end()));
        EXPECT_EQ(delegate.allowedItemIdentifiers(), delegate.defaultItemIdentifiers());
    }

    // Every listed identifier but the toolkit's own spaces has an item, made once; only delete
    // waits for a selection.
    for (auto state : {T::InitialState::overview, T::InitialState::dashboard, T::InitialState::preferences}) {
        auto delegate = std::make_shared<ToolbarDelegate>(state, app, controller);
        for (const auto& id : delegate->defaultItemIdentifiers()) {
            const bool toolkit =
                id == T::flexibleSpaceIdentifier || id == T::primarySidebarTrackingSeparatorIdentifier;
            auto item = delegate->item(id);
            ASSERT_EQ(item != nullptr, !toolkit) << id;
            if (item) {
                EXPECT_EQ(delegate->item(id), item);
                EXPECT_EQ(item->canBePressed(),
                          id != T::deleteIdentifier && id != T::dashboardTitleIdentifier)
                    << id;
            }
        }
    }
    auto delegate = std::make_shared<ToolbarDelegate>(T::InitialState::overview, app, controller);
    EXPECT_TRUE(delegate->item(T::showDashboardIdentifier)->isNavigational);
    EXPECT_FALSE(delegate->item(T::deleteIdentifier)->targetsDelegate);
    EXPECT_FALSE(delegate->item("toolbar.unknown"));
    EXPECT_FALSE(delegate->item(T::flexibleSpaceIdentifier));
}

TEST_F(Shell, ToolbarActionsPostOpenAndRefresh) {
    launch();
    controller->setCredentials("rejected-token");
    Heard heard({ToolbarDelegate::toggleSidebarIdentifier, AppDelegate::showAddEndpointNotification,
                 AppDelegate::deleteSelectedResourceNotification, ToolbarDelegate::preferencesAboutIdentifier,
                 AppStateController::someonePleaseHandleThisError});
    auto toolbar = std::make_shared<RecordingToolbar>();
    auto delegate =
        std::make_shared<ToolbarDelegate>(ToolbarDelegate::InitialState::overview, app, controller);
    delegate->toolbar = toolbar;
    for (auto id : {ToolbarDelegate::toggleSidebarIdentifier, ToolbarDelegate::createIdentifier,
                    ToolbarDelegate::deleteIdentifier, ToolbarDelegate::showDashboardIdentifier})
        delegate->perform(delegate->item(id));
    EXPECT_EQ(heard.count["toolbar.toggleSidebar"], 1);
    EXPECT_EQ(heard.count["SceneNotifications.showAddEndpoint"], 1);
    EXPECT_EQ(heard.count["SceneNotifications.deleteSelectedResource"], 0)
        << "no selection: delete does nothing";
    ASSERT_EQ(windows->activations.size(), 1u);
    EXPECT_EQ(windows->activations[0].activity->activityType, "kestrova.Dashboard");

    auto about = delegate->item(ToolbarDelegate::preferencesAboutIdentifier);
    delegate->perform(about);
    EXPECT_EQ(toolbar->selected, std::vector<std::string>{"toolbar.preferences.about"});
    EXPECT_EQ(heard.last["toolbar.preferences.about"].asObject(), about);

    auto refresh = delegate->item(ToolbarDelegate::refreshIdentifier);
    delegate->perform(refresh);
    EXPECT_FALSE(refresh->isEnabled);
    delegate->perform(refresh);
    ASSERT_TRUE(pumpMainUntil([&] { return refresh->isEnabled; }, std::chrono::seconds(30)));
    EXPECT_EQ(toolbar->changes,
              (std::vector<std::string>{"toolbar.refresh disabled", "toolbar.refresh enabled"}));
    EXPECT_EQ(heard.count["AppStateController.someonePleaseHandleThisError"], 1) << "one sync, one alert";
}

TEST_F(Shell, TheOverviewWindowEnablesDeleteWhileARowIsSelected) {
    launch();
    auto scene =
        std::dynamic_pointer_cast<OverviewSceneDelegate>(app->makeSceneDelegate(WindowKind::overview));
    ASSERT_TRUE(scene);
    auto toolbar = std::make_shared<RecordingToolbar>();
    const auto configuration = scene->sceneWillConnect(3, toolbar);
    EXPECT_EQ(configuration.title, "Endpoints & Measures");
    auto& center = joblark::NotificationCenter::defaultCenter();
    center.post(std::string(AppStateController::didSelect));
    auto deleteItem = scene->toolbarDelegate->item(ToolbarDelegate::deleteIdentifier);
    EXPECT_TRUE(deleteItem->canBePressed());
    Heard heard({AppDelegate::deleteSelectedResourceNotification});
    scene->toolbarDelegate->perform(deleteItem);
    EXPECT_EQ(heard.count["SceneNotifications.deleteSelectedResource"], 1);
    center.post(std::string(AppStateController::didDeselect));
    EXPECT_FALSE(deleteItem->canBePressed());
    EXPECT_EQ(toolbar->changes,
              (std::vector<std::string>{"toolbar.delete enabled", "toolbar.delete disabled"}));

    scene->sceneDidDisconnect();
    center.post(std::string(AppStateController::didSelect));
    EXPECT_FALSE(deleteItem->canBePressed());
}

TEST_F(Shell, WindowConfigurationsByActivityType) {
    struct Case {
        std::optional<std::string> type;
        std::string name;
        WindowKind kind;
        std::string storyboard;
    };
    const std::vector<Case> cases = {
        {"kestrova.Dashboard", "kestrova.Dashboard", WindowKind::dashboard, "Dashboard"},
        {"kestrova.Preferences", "kestrova.Preferences", WindowKind::preferences, "Preferences"},
        {"kestrova.Update", "kestrova.Update", WindowKind::update, "Updater"},
        {"kestrova.Overview", "Default Configuration", WindowKind::overview, "Main"},
        {"kestrova.Endpoint", "Default Configuration", WindowKind::overview, "Main"},
        {"kestrova.dashboard", "Default Configuration", WindowKind::overview, "Main"},
        {std::nullopt, "Default Configuration", WindowKind::overview, "Main"},
    };
    for (const auto& c : cases) {
        const auto activity = c.type ? std::optional(UserActivity{*c.type, {}}) : std::nullopt;
        EXPECT_EQ(AppDelegate::configurationForConnecting(activity),
                  (SceneConfiguration{c.name, c.kind, c.storyboard}))
            << c.type.value_or("none");
    }

    launch();
    for (auto kind :
         {WindowKind::overview, WindowKind::dashboard, WindowKind::preferences, WindowKind::update}) {
        auto scene = app->makeSceneDelegate(kind);
        ASSERT_TRUE(scene);
        EXPECT_EQ(scene->kind(), kind);
        EXPECT_EQ(scene->toolbarDelegate != nullptr, kind != WindowKind::update);
        EXPECT_EQ(scene->configuration().toolbarIdentifier.has_value(), kind != WindowKind::update);
    }
    const auto preferencesWindow = app->makeSceneDelegate(WindowKind::preferences)->configuration();
    EXPECT_EQ(preferencesWindow.selectedToolbarItemIdentifier, "toolbar.preferences.general");
    EXPECT_EQ(preferencesWindow.toolbarStyle, ToolbarStyle::preference);
    EXPECT_EQ(app->makeSceneDelegate(WindowKind::dashboard)->configuration().titleVisibility,
              TitleVisibility::hidden);
}

TEST_F(Shell, MenuCommandsTheirKeysAndValidation) {
    launch(); // no plug-in folders: no plug-in
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> placed; // title → menu, keys
    std::vector<std::string> menuTitles;
    for (const auto& menu : app->mainMenu()) {
        menuTitles.push_back(menu.title);
        for (const auto& group : menu.groups)
            for (const auto& command : group)
                placed[command.title] = {menu.title, command.shortcuts};
    }
    EXPECT_EQ(menuTitles, (std::vector<std::string>{"File", "View", "Window", "Help"}));
    using Keys = std::vector<std::string>;
    const std::map<std::string, std::pair<std::string, Keys>> expected = {
        {"New Endpoint", {"File", {"Ctrl+N"}}}, {"Preferences", {"File", {"Ctrl+,"}}},
        {"Manage Account", {"File", {}}},       {"Sign Out", {"File", {}}},
        {"Quit", {"File", {"Ctrl+Q"}}},         {"Refresh", {"View", {"Ctrl+R", "F5"}}},
        {"Enable Auto Refresh", {"View", {}}},  {"Overview", {"Window", {"Ctrl+1"}}},
        {"Dashboard", {"Window", {"Ctrl+2"}}},  {"Check for Updates", {"Help", {}}},
    };
    EXPECT_EQ(placed, expected) << "auto-refresh is off in these tests' preferences";

    auto findCommand = [&](CommandAction action) {
        for (const auto& menu : app->mainMenu())
            for (const auto& group : menu.groups)
                for (const auto& command : group)
                    if (command.action == action)
                        return command;
        return Command{};
    };
    EXPECT_FALSE(findCommand(CommandAction::checkForUpdates).isEnabled);
    app->perform(CommandAction::checkForUpdates); // nothing to call; must not fail

    app->perform(CommandAction::toggleAutoRefresh);
    EXPECT_TRUE(controller->refreshTimer);
    EXPECT_EQ(findCommand(CommandAction::toggleAutoRefresh).title, "Disable Auto Refresh");
    EXPECT_EQ(findCommand(CommandAction::toggleAutoRefresh).propertyList.at("tag"),
              joblark::Value("toggleAutoRefresh"));
    app->perform(CommandAction::toggleAutoRefresh);
    EXPECT_FALSE(controller->refreshTimer);
    EXPECT_EQ(findCommand(CommandAction::toggleAutoRefresh).title, "Enable Auto Refresh");
    EXPECT_EQ(windows->revalidations, 2);

    Heard heard({AppDelegate::showAddEndpointNotification});
    app->perform(CommandAction::showAddEndpoint);
    EXPECT_EQ(heard.last["SceneNotifications.showAddEndpoint"].asObject(), app);
    app->perform(CommandAction::manageAccount);
    EXPECT_EQ(platform->opened,
              std::vector<std::string>{ScreenEnvironment::current().service->url + "/profile"});
    app->perform(CommandAction::quit);
    EXPECT_EQ(windows->terminations, 1);
}

TEST_F(Shell, WindowsComeForwardByKindOrOpenAndSelectionsWaitInTheInbox) {
    launch();
    windows->open[WindowKind::dashboard] = 41;
    app->perform(CommandAction::openDashboard);
    app->perform(CommandAction::openPreferences);
    ASSERT_EQ(windows->activations.size(), 2u);
    EXPECT_EQ(windows->activations[0].session, 41);
    EXPECT_EQ(windows->activations[1].session, std::nullopt);
    EXPECT_EQ(windows->activations[1].activity->activityType, "kestrova.Preferences");

    Heard heard({AppDelegate::shouldSelectEndpointNotification, AppDelegate::shouldDisplayAlertNotification});
    windows->open[WindowKind::overview] = 5;
    Endpoint endpoint;
    endpoint.id = "E1";
    app->openOverviewOrMakeKeyAndVisibleAndSelect(endpoint);
    EXPECT_EQ(heard.count["SceneNotifications.shouldSelectEndpoint"], 1);
    EXPECT_EQ(windows->activations.back().session, 5);
    EXPECT_FALSE(windows->activations.back().activity) << "the selection travels through the inbox";
    auto taken = controller->takeActivity("kestrova.Endpoint");
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->userInfo.at("endpoint"), joblark::Value("E1"));

    app->openUpdaterOrMakeKeyAndVisible(
        UserActivity{"kestrova.Update", {{"status", joblark::Value("checking")}}});
    EXPECT_EQ(heard.count["SceneNotifications.shouldDisplayAlert"], 1);
    EXPECT_EQ(windows->activations.back().activity->activityType, "kestrova.Update");
    EXPECT_TRUE(controller->takeActivity("kestrova.Update"));

    joblark::LogCapture log;
    windows->failWith = joblark::makeError("no display");
    app->perform(CommandAction::openOverview);
    EXPECT_TRUE(log.contains("Cannot open new window. Error no display"));
}

TEST_F(Shell, TheRefreshCompletionReportsOnlyFailures) {
    struct Case {
        bool ok;
        joblark::ErrorPtr error;
        std::optional<std::string> title;
    };
    const auto apiError = std::make_shared<joblark::APIError>("Server Error", 500);
    for (const auto& c : std::vector<Case>{{true, nullptr, std::nullopt},
                                           {false, apiError, "Server Error"},
                                           {false, nullptr, "Unknown Error"}}) {
        Heard heard({AppStateController::someonePleaseHandleThisError});
        AppDelegate::refreshCompletion()(c.ok, c.error);
        const auto& posted = heard.last["AppStateController.someonePleaseHandleThisError"];
        ASSERT_EQ(heard.count["AppStateController.someonePleaseHandleThisError"], c.title ? 1 : 0);
        if (!c.title)
            continue;
        auto error = posted.asError();
        ASSERT_TRUE(error);
        if (c.error) {
            EXPECT_EQ(error, c.error);
        } else
            EXPECT_EQ(std::dynamic_pointer_cast<const UIError>(error)->description,
                      "Unable to refresh data. Please check your internet connection and try again.");
    }
}

TEST_F(Shell, LaunchSignedInSyncsAndAMissingPluginOnlyDisablesUpdates) {
    joblark::LogCapture log;
    controller = makeController();
    signIn(*controller);
    controller->state = std::make_shared<AppState>();
    AppDelegate::Options options;
    options.controller = [this] { return controller; };
    options.pluginFolders = {cache.path() / "no-plugins-here"};
    app = std::make_shared<AppDelegate>(windows, platform, std::move(options));
    Heard heard({AppStateController::endpointsDidChange, AppStateController::someonePleaseHandleThisError});
    ASSERT_TRUE(app->applicationDidFinishLaunching());
    EXPECT_TRUE(log.contains("Sparkle Initialization Error: No update plug-in was found."));
    EXPECT_FALSE(app->sparklePlugin);
    ASSERT_TRUE(pumpMainUntil([&] { return heard.count["AppStateController.endpointsDidChange"] == 1; },
                              std::chrono::seconds(30)));
    EXPECT_TRUE(controller->state->endpoints && !controller->state->endpoints->empty());
    EXPECT_EQ(heard.count["AppStateController.someonePleaseHandleThisError"], 0)
        << "no push check without a remote-notification service, so no failure alert at launch";
    EXPECT_FALSE(controller->syncStatus().lastSyncFailed);
    EXPECT_TRUE(controller->syncStatus().lastSuccess);

    // A launch sync that fails is not the user's request: the window's offline line says it, no alert.
    auto rejected = makeController();
    rejected->setCredentials("not-a-token");
    AppDelegate::Options failing;
    failing.controller = [rejected] { return rejected; };
    failing.pluginFolders = {};
    auto failingApp = std::make_shared<AppDelegate>(windows, platform, std::move(failing));
    Heard status({AppStateController::syncStatusDidChange, AppStateController::someonePleaseHandleThisError});
    ASSERT_TRUE(failingApp->applicationDidFinishLaunching());
    ASSERT_TRUE(pumpMainUntil([&] { return status.count["AppStateController.syncStatusDidChange"] == 1; },
                              std::chrono::seconds(30)));
    EXPECT_TRUE(rejected->syncStatus().lastSyncFailed);
    EXPECT_FALSE(rejected->syncStatus().serviceUnreachable());
    EXPECT_EQ(status.count["AppStateController.someonePleaseHandleThisError"], 0);
}

// --- the split view ----------------------------------------------------------------------------------

TEST_F(Shell, TheSplitViewAsksForSignInShowsErrorsAndTogglesTheSidebar) {
    controller = makeController();
    auto split = std::make_shared<MainSplitViewController>(controller);
    auto host = std::make_shared<RecordingHost>();
    auto view = std::make_shared<RecordingSplitView>();
    split->host = host;
    split->splitView = view;
    split->sceneIdentifier = 2;
    split->viewDidLoad();
    EXPECT_EQ(view->applied, MainSplitViewController::configuration());
    EXPECT_EQ(view->applied->preferredPrimaryColumnWidthFraction, 0.2);
    split->viewDidAppear();
    EXPECT_EQ(host->segues, std::vector<std::string>{"showLogin"});

    auto& center = joblark::NotificationCenter::defaultCenter();
    controller->setCredentials("token");
    center.post(std::string(AppStateController::didLogin));
    EXPECT_EQ(host->segues.size(), 1u) << "signed in: no sign-in screen";
    EXPECT_EQ(view->blankDetails, 1);
    controller->setCredentials(std::nullopt);
    center.post(std::string(AppStateController::didLogout));
    EXPECT_EQ(host->segues.back(), "showLogin");
    center.post(std::string(AppDelegate::showAddEndpointNotification));
    EXPECT_EQ(host->segues.back(), "showAddEndpoint");
    center.post(std::string(AppStateController::didDeselect));
    EXPECT_EQ(view->blankDetails, 3);

    struct Case {
        joblark::ErrorPtr error;
        std::string title;
        std::optional<std::string> message;
    };
    joblark::LogCapture log;
    for (const auto& c :
         std::vector<Case>{{std::make_shared<UIError>("Unknown Error", "Unable to refresh"), "Unknown Error",
                            "Unable to refresh"},
                           {std::make_shared<UIError>("Only a title"), "Only a title", std::nullopt},
                           {std::make_shared<joblark::APIError>("Incorrect Credentials", 401),
                            "An Error Occurred", "Incorrect Credentials"}}) {
        center.post(std::string(AppStateController::someonePleaseHandleThisError), joblark::Value(c.error));
        const auto& alert = host->alerts.back();
        EXPECT_EQ(alert.title, c.title);
        EXPECT_EQ(alert.message, c.message);
        ASSERT_EQ(alert.actions.size(), 1u);
        EXPECT_EQ(alert.actions[0].title, "Done");
        EXPECT_EQ(alert.actions[0].style, AlertAction::Style::defaultStyle);
    }
    EXPECT_TRUE(log.contains("Good guy split view handling unhandled error: Incorrect Credentials"));

    center.post(std::string(ToolbarDelegate::toggleSidebarIdentifier));
    EXPECT_EQ(split->displayState, MainSplitViewController::DisplayState::sidebarHidden);
    center.post(std::string(ToolbarDelegate::toggleSidebarIdentifier));
    EXPECT_EQ(view->modes, (std::vector<SplitViewDisplayMode>{SplitViewDisplayMode::secondaryOnly,
                                                              SplitViewDisplayMode::oneBesideSecondary}));

    center.post(std::string(sceneDidDisconnectNotification), joblark::Value(2));
    EXPECT_FALSE(split->isObserving());
    center.post(std::string(AppStateController::someonePleaseHandleThisError),
                joblark::Value(joblark::makeError("x")));
    EXPECT_EQ(host->alerts.size(), 3u);
}

} // namespace
