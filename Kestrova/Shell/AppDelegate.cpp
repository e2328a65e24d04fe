#include "Shell/AppDelegate.hpp"

#include "Forms/AboutPreferencesViewController.hpp"
#include "Model/UIError.hpp"
#include "Service/ServiceURLs.hpp"
#include "Shell/SceneDelegate.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <array>
#include <utility>

namespace kestrova {
namespace {

const joblark::Logger& platformLog() {
    return joblark::Logger::general();
}

void post(std::string_view name, joblark::Value object = {}) {
    joblark::NotificationCenter::defaultCenter().post(std::string(name), std::move(object));
}

constexpr std::array<std::pair<AppDelegate::Identifier, std::string_view>, 6> kActivityTypes = {{
    {AppDelegate::Identifier::overview, "kestrova.Overview"},
    {AppDelegate::Identifier::dashboard, "kestrova.Dashboard"},
    {AppDelegate::Identifier::preferences, "kestrova.Preferences"},
    {AppDelegate::Identifier::update, "kestrova.Update"},
    {AppDelegate::Identifier::endpoint, SceneNotifications::endpointActivityType},
    {AppDelegate::Identifier::measure, SceneNotifications::measureActivityType},
}};

AppDelegate::Identifier identifierOf(WindowKind kind) {
    switch (kind) {
    case WindowKind::overview:
        return AppDelegate::Identifier::overview;
    case WindowKind::dashboard:
        return AppDelegate::Identifier::dashboard;
    case WindowKind::preferences:
        return AppDelegate::Identifier::preferences;
    case WindowKind::update:
        return AppDelegate::Identifier::update;
    }
    return AppDelegate::Identifier::overview;
}

UserActivity activityFor(WindowKind kind) {
    return UserActivity{std::string(AppDelegate::rawValue(identifierOf(kind))), {}};
}

constexpr std::string_view kToggleAutoRefreshTag = "toggleAutoRefresh";

Command command(std::string title, std::vector<std::string> shortcuts, CommandAction action) {
    return Command{std::move(title), std::move(shortcuts), action, {}, true};
}

} // namespace

std::string_view AppDelegate::rawValue(Identifier identifier) {
    for (const auto& [id, text] : kActivityTypes)
        if (id == identifier)
            return text;
    return {};
}

std::optional<AppDelegate::Identifier> AppDelegate::identifier(std::string_view activityType) {
    for (const auto& [id, text] : kActivityTypes)
        if (text == activityType)
            return id;
    return std::nullopt;
}

std::string AppDelegate::defaultUpdateFeedURL() {
    return ServiceURLs::serviceBaseURL() + "/demo/appcast.xml";
}

AppDelegate::AppDelegate(std::shared_ptr<WindowSystem> windows, std::weak_ptr<Platform> platform,
                         Options options)
    : windows_(std::move(windows)), platform_(std::move(platform)), options_(std::move(options)) {
    if (options_.applicationVersion.empty())
        options_.applicationVersion = AboutPreferencesViewController::defaultApplicationVersion();
}

bool AppDelegate::applicationDidFinishLaunching() {
    taskController_ = std::make_unique<joblark::TaskController>();
    AppStateController::registerDefaults();
    controller_ = options_.controller ? options_.controller() : AppStateController::shared();
    push_ = std::make_shared<PushRegistration>(controller_, options_.remoteNotifications);
    if (controller_->isSignedIn()) {
        // Not asked for by the user: a failure shows as the overview's offline line, not an alert.
        controller_->sync();
        // Without a remote-notification service the check could only end in a failure alert at
        // every launch; the preferences say why push is off instead.
        if (push_->isAvailable())
            push_->checkToSeeIfWeAreRegisteredForPushNotifications();
    }
    std::weak_ptr<SparkleBridgeDelegate> self = sharedAs<AppDelegate>();
    SparkleBridgeConfiguration configuration{self, options_.applicationVersion, defaultUpdateFeedURL()};
    auto loaded = SparkleBridgeClient::load(configuration, options_.pluginFolders);
    if (loaded)
        sparklePlugin = *loaded;
    else
        platformLog().notice("Sparkle Initialization Error: " + loaded.error()->localizedDescription());
    return true;
}

// --- windows ---------------------------------------------------------------------------------------

SceneConfiguration AppDelegate::configurationForConnecting(const std::optional<UserActivity>& activity) {
    const auto id = activity ? identifier(activity->activityType) : std::nullopt;
    if (id == Identifier::dashboard)
        return {"kestrova.Dashboard", WindowKind::dashboard, "Dashboard"};
    if (id == Identifier::preferences)
        return {"kestrova.Preferences", WindowKind::preferences, "Preferences"};
    if (id == Identifier::update)
        return {"kestrova.Update", WindowKind::update, "Updater"};
    return {"Default Configuration", WindowKind::overview, "Main"};
}

std::shared_ptr<SceneDelegate> AppDelegate::makeSceneDelegate(WindowKind kind) {
    auto toolbar = [this](ToolbarDelegate::InitialState state) {
        return std::make_shared<ToolbarDelegate>(state, sharedAs<AppDelegate>(), controller_);
    };
    switch (kind) {
    case WindowKind::overview:
        return std::make_shared<OverviewSceneDelegate>(toolbar(ToolbarDelegate::InitialState::overview));
    case WindowKind::dashboard:
        return std::make_shared<DashboardSceneDelegate>(toolbar(ToolbarDelegate::InitialState::dashboard));
    case WindowKind::preferences:
        return std::make_shared<PreferencesSceneDelegate>(
            toolbar(ToolbarDelegate::InitialState::preferences));
    case WindowKind::update:
        return std::make_shared<UpdateSceneDelegate>();
    }
    return nullptr;
}

void AppDelegate::openOrMakeKeyAndVisible(WindowKind kind, std::optional<UserActivity> activity) {
    if (!windows_)
        return;
    windows_->activateSceneSession(
        windows_->findWindow(kind), std::move(activity), [](joblark::ErrorPtr error) {
            platformLog().notice("Cannot open new window. Error " +
                                 (error ? error->localizedDescription() : std::string("(null)")));
        });
}

void AppDelegate::openOverviewOrMakeKeyAndVisible() {
    openOrMakeKeyAndVisible(WindowKind::overview, activityFor(WindowKind::overview));
}

void AppDelegate::openDashboardOrMakeKeyAndVisible() {
    openOrMakeKeyAndVisible(WindowKind::dashboard, activityFor(WindowKind::dashboard));
}

void AppDelegate::openPreferencesOrMakeKeyAndVisible() {
    openOrMakeKeyAndVisible(WindowKind::preferences, activityFor(WindowKind::preferences));
}

void AppDelegate::openUpdaterOrMakeKeyAndVisible(std::optional<UserActivity> activity) {
    if (activity) {
        if (controller_)
            controller_->activityInbox.push_back(std::move(*activity));
        post(shouldDisplayAlertNotification);
    }
    openOrMakeKeyAndVisible(WindowKind::update, activityFor(WindowKind::update));
}

void AppDelegate::openOverviewOrMakeKeyAndVisibleAndSelect(const Endpoint& endpoint) {
    UserActivity activity{std::string(rawValue(Identifier::endpoint)), {}};
    if (endpoint.id)
        activity.userInfo[std::string(SceneNotifications::endpointKey)] = *endpoint.id;
    if (controller_)
        controller_->activityInbox.push_back(std::move(activity));
    post(shouldSelectEndpointNotification);
    openOrMakeKeyAndVisible(WindowKind::overview, std::nullopt);
}

void AppDelegate::openOverviewOrMakeKeyAndVisibleAndSelect(const Measure& measure) {
    UserActivity activity{std::string(rawValue(Identifier::measure)), {}};
    if (measure.id)
        activity.userInfo[std::string(SceneNotifications::measureKey)] = *measure.id;
    if (controller_)
        controller_->activityInbox.push_back(std::move(activity));
    post(shouldSelectEndpointNotification);
    openOrMakeKeyAndVisible(WindowKind::overview, std::nullopt);
}

// --- the menu bar ----------------------------------------------------------------------------------------

std::vector<MenuBarMenu> AppDelegate::mainMenu() const {
    Command autoRefresh = command("", {}, CommandAction::toggleAutoRefresh);
    autoRefresh.propertyList["tag"] = std::string(kToggleAutoRefreshTag);
    std::vector<MenuBarMenu> menus = {
        {"File",
         {{command("New Endpoint", {"Ctrl+N"}, CommandAction::showAddEndpoint)},
          {command("Preferences", {"Ctrl+,"}, CommandAction::openPreferences)},
          {command("Manage Account", {}, CommandAction::manageAccount),
           command("Sign Out", {}, CommandAction::logOut)},
          {command("Quit", {"Ctrl+Q"}, CommandAction::quit)}}},
        {"View", {{command("Refresh", {"Ctrl+R", "F5"}, CommandAction::refresh), autoRefresh}}},
        {"Window",
         {{command("Overview", {"Ctrl+1"}, CommandAction::openOverview),
           command("Dashboard", {"Ctrl+2"}, CommandAction::openDashboard)}}},
        {"Help", {{command("Check for Updates", {}, CommandAction::checkForUpdates)}}},
    };
    for (auto& menu : menus)
        for (auto& group : menu.groups)
            for (auto& entry : group)
                validate(entry);
    return menus;
}

void AppDelegate::validate(Command& command) const {
    if (auto tag = command.propertyList.find("tag");
        tag != command.propertyList.end() &&
        tag->second == joblark::Value(std::string(kToggleAutoRefreshTag))) {
        command.title = joblark::UserDefaults::standard().boolForKey(AppStateController::kShouldAutoRefresh)
                            ? "Disable Auto Refresh"
                            : "Enable Auto Refresh";
    }
    if (command.action == CommandAction::checkForUpdates)
        command.isEnabled = sparklePlugin != nullptr;
}

void AppDelegate::perform(CommandAction action) {
    switch (action) {
    case CommandAction::openOverview:
        return openOverviewOrMakeKeyAndVisible();
    case CommandAction::openDashboard:
        return openDashboardOrMakeKeyAndVisible();
    case CommandAction::showAddEndpoint:
        return showAddEndpoint();
    case CommandAction::refresh:
        return refresh();
    case CommandAction::toggleAutoRefresh:
        return toggleAutoRefresh();
    case CommandAction::openPreferences:
        return openPreferencesOrMakeKeyAndVisible();
    case CommandAction::checkForUpdates:
        return checkForUpdates();
    case CommandAction::manageAccount:
        return manageAccount();
    case CommandAction::logOut:
        return logOut();
    case CommandAction::quit:
        if (windows_)
            windows_->terminate();
        return;
    }
}

void AppDelegate::showAddEndpoint() {
    post(showAddEndpointNotification, joblark::Value(joblark::ObjectPtr(sharedAs<AppDelegate>())));
}

void AppDelegate::deleteSelectedResource() {
    post(deleteSelectedResourceNotification, joblark::Value(joblark::ObjectPtr(sharedAs<AppDelegate>())));
}

AppStateController::Completion AppDelegate::refreshCompletion() {
    return [](bool ok, joblark::ErrorPtr error) {
        if (error)
            post(AppStateController::someonePleaseHandleThisError, joblark::Value(error));
        else if (!ok)
            post(AppStateController::someonePleaseHandleThisError,
                 joblark::Value(joblark::ErrorPtr(std::make_shared<UIError>(
                     "Unknown Error",
                     "Unable to refresh data. Please check your internet connection and try again."))));
    };
}

void AppDelegate::refresh() {
    if (controller_)
        controller_->sync(refreshCompletion());
}

void AppDelegate::toggleAutoRefresh() {
    auto& defaults = joblark::UserDefaults::standard();
    if (defaults.boolForKey(AppStateController::kShouldAutoRefresh)) {
        if (controller_)
            controller_->stopRefreshTimer();
        else
            defaults.set(false, AppStateController::kShouldAutoRefresh);
    } else {
        defaults.set(true, AppStateController::kShouldAutoRefresh);
        if (defaults.boolForKey(AppStateController::kShouldAutoRefresh) && controller_ &&
            !controller_->refreshTimer)
            controller_->startRefreshTimer();
    }
    if (windows_)
        windows_->revalidateMainMenu();
}

void AppDelegate::checkForUpdates() {
    if (sparklePlugin)
        sparklePlugin->checkForUpdates();
}

void AppDelegate::manageAccount() {
    if (auto platform = platform_.lock())
        platform->openURL(ServiceURLs::profilePage());
}

void AppDelegate::logOut() {
    if (controller_)
        controller_->logout();
}

void AppDelegate::didRegisterForRemoteNotifications(std::span<const std::uint8_t> deviceToken) {
    if (push_)
        push_->didRegisterForRemoteNotifications(deviceToken);
}

void AppDelegate::didFailToRegisterForRemoteNotifications(const joblark::ErrorPtr& error) {
    if (push_)
        push_->didFailToRegisterForRemoteNotifications(error);
}

} // namespace kestrova
