#pragma once

#include "Presentation/SceneNotifications.hpp"
#include "Presentation/ViewKit.hpp"
#include "Shell/PushRegistration.hpp"
#include "Shell/SparkleBridge.hpp"
#include "Shell/WindowSystem.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

class SceneDelegate;

/// The menu commands.
enum class CommandAction {
    openOverview,
    openDashboard,
    showAddEndpoint,
    refresh,
    toggleAutoRefresh,
    openPreferences,
    checkForUpdates,
    manageAccount,
    logOut,
    quit
};

/// One menu command, as values.
struct Command {
    std::string title;
    /// Key sequences in the portable form "Ctrl+R", "F5"; the first is the one the menu shows.
    std::vector<std::string> shortcuts;
    CommandAction action;
    /// The auto-refresh command carries {"tag": "toggleAutoRefresh"}; nothing else identifies it.
    joblark::Dictionary propertyList;
    bool isEnabled = true;
};

/// One menu of the menu bar; its groups are separated by separators.
struct MenuBarMenu {
    std::string title;
    std::vector<std::vector<Command>> groups;
};

/// Which window a connecting session gets.
struct SceneConfiguration {
    std::string name;
    WindowKind delegateClass;
    std::string storyboard;
    bool operator==(const SceneConfiguration&) const = default;
};

/// The application's delegate: launch, the preferences' defaults, the menu bar and every command,
/// opening windows by kind, and the plug-in's and the platform's calls. It holds no model state.
/// Main thread.
class AppDelegate : public joblark::Object, public OverviewOpener, public SparkleBridgeDelegate {
public:
    /// Activity types: one per window kind, and two that carry a selection for the overview.
    enum class Identifier { overview, dashboard, preferences, update, endpoint, measure };
    static std::string_view rawValue(Identifier identifier);
    static std::optional<Identifier> identifier(std::string_view activityType);

    static constexpr std::string_view showAddEndpointNotification = SceneNotifications::showAddEndpoint;
    static constexpr std::string_view deleteSelectedResourceNotification =
        SceneNotifications::deleteSelectedResource;
    static constexpr std::string_view shouldSelectEndpointNotification =
        SceneNotifications::shouldSelectEndpoint;
    static constexpr std::string_view shouldDisplayAlertNotification = SceneNotifications::shouldDisplayAlert;

    /// The update feed's address in the preferences; the service's "/demo/appcast.xml" when unset.
    static constexpr std::string_view kUpdateFeedURL = "kUpdateFeedURL";
    static std::string defaultUpdateFeedURL();

    struct Options {
        /// The state controller to use (the shared one by default).
        std::function<std::shared_ptr<AppStateController>()> controller;
        /// Where the update plug-in is looked for.
        std::vector<std::filesystem::path> pluginFolders = SparkleBridgeClient::defaultSearchFolders();
        /// The platform's remote notifications (none on Linux).
        std::shared_ptr<RemoteNotificationService> remoteNotifications =
            std::make_shared<UnavailableRemoteNotificationService>();
        std::string applicationVersion;
    };

    AppDelegate(std::shared_ptr<WindowSystem> windows, std::weak_ptr<Platform> platform, Options options);
    std::string className() const override { return "Kestrova.AppDelegate"; }

    /// Launch (the delegate is owned through std::shared_ptr by then), in order: the task controller, the
    /// defaults, the state controller (a first sync and the push check when signed in), the update plug-in.
    /// The first sync reports no failure: the overview says it is offline instead. Returns true.
    bool applicationDidFinishLaunching();

    /// Absent until launch, and when the plug-in failed to load.
    std::shared_ptr<SparkleBridgePlugin> sparklePlugin;
    std::shared_ptr<AppStateController> controller() const { return controller_; }
    std::shared_ptr<PushRegistration> pushRegistration() const { return push_; }

    // --- windows ---------------------------------------------------------------------------------

    /// By the first activity the connecting session carries: dashboard, preferences, update, or
    /// the overview for anything else.
    static SceneConfiguration configurationForConnecting(const std::optional<UserActivity>& activity);
    /// A new scene delegate of the kind (the toolkit keeps it with its window).
    std::shared_ptr<SceneDelegate> makeSceneDelegate(WindowKind kind);

    void openOverviewOrMakeKeyAndVisible();
    void openDashboardOrMakeKeyAndVisible();
    void openPreferencesOrMakeKeyAndVisible();
    /// The plug-in's call: queues its activity for the update window, then brings that window forward.
    void openUpdaterOrMakeKeyAndVisible(std::optional<UserActivity> activity) override;
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Endpoint& endpoint) override;
    void openOverviewOrMakeKeyAndVisibleAndSelect(const Measure& measure) override;

    // --- the menu bar ------------------------------------------------------------------------------

    /// File, View, Window and Help, each command validated.
    std::vector<MenuBarMenu> mainMenu() const;
    /// The auto-refresh command's title follows "kShouldAutoRefresh"; Check for Updates is enabled
    /// only with a plug-in.
    void validate(Command& command) const;
    void perform(CommandAction action);

    void showAddEndpoint();
    void deleteSelectedResource();
    void refresh();
    void toggleAutoRefresh();
    void checkForUpdates();
    void manageAccount();
    void logOut();

    /// Reports a failed refresh through "AppStateController.someonePleaseHandleThisError".
    static AppStateController::Completion refreshCompletion();

    // --- the platform's push calls --------------------------------------------------------------------

    void didRegisterForRemoteNotifications(std::span<const std::uint8_t> deviceToken);
    void didFailToRegisterForRemoteNotifications(const joblark::ErrorPtr& error);

private:
    void openOrMakeKeyAndVisible(WindowKind kind, std::optional<UserActivity> activity);

    std::shared_ptr<WindowSystem> windows_;
    std::weak_ptr<Platform> platform_;
    Options options_;
    std::unique_ptr<joblark::TaskController> taskController_;
    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<PushRegistration> push_;
};

} // namespace kestrova
