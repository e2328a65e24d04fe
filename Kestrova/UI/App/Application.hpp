#pragma once

// The desktop program around the core: the application delegate launched, its window system, the
// local history, status notifications and sync status, and the first window.

#include "UI/App/WindowManager.hpp"
#include "UI/Kit/AppContext.hpp"

#include "Presentation/StatusChangeNotifier.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace kestrova::ui {

class DesktopApplication {
public:
    struct Options {
        /// The shared controller when absent.
        std::shared_ptr<AppStateController> controller;
        /// Where the update plug-in is looked for (the program's own folders when absent).
        std::optional<std::vector<std::filesystem::path>> pluginFolders;
        /// The local history's database; none is kept when absent.
        std::optional<std::filesystem::path> historyFile = HistoryStore::defaultLocation();
        /// Where status changes are told; the coordinator only learns the statuses when absent.
        std::shared_ptr<DesktopNotificationService> notifications;
    };

    explicit DesktopApplication(Options options);
    ~DesktopApplication();
    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    /// The delegate's launch (defaults, first sync when signed in, plug-in), then the first window:
    /// the cached state shows at once, the sync brings it up to date behind it.
    void launch();

    WindowManager& windows() { return *windows_; }
    const std::shared_ptr<AppContext>& context() const { return context_; }
    AppDelegate& appDelegate() { return *context_->appDelegate; }
    AppStateController& controller() { return *context_->controller; }
    StatusNotificationCoordinator& notifications() { return *notifications_; }

    /// Closes the windows, stops the timer and writes the state (before the program ends).
    void shutDown();

private:
    std::shared_ptr<AppContext> context_;
    std::shared_ptr<WindowManager> windows_;
    std::shared_ptr<StatusNotificationCoordinator> notifications_;
    bool shutDown_ = false;
};

/// Starts Qt, hands the request to a running instance or becomes it (tray, desktop notifications),
/// opens the first window and runs the event loop.
int runApplication(int argc, char* argv[]);

} // namespace kestrova::ui
