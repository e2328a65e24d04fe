#pragma once

// The windowing half of the application shell: windows found by kind, brought forward or opened with
// the configuration the application delegate chooses, and the menu bar revalidated on request.

#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/SceneWindow.hpp"

#include "Shell/WindowSystem.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

namespace kestrova::ui {

class WindowManager : public WindowSystem, public std::enable_shared_from_this<WindowManager> {
public:
    explicit WindowManager(std::shared_ptr<AppContext> context);
    ~WindowManager() override;

    std::optional<SceneSessionIdentifier> findWindow(WindowKind kind) override;
    void activateSceneSession(std::optional<SceneSessionIdentifier> session,
                              std::optional<UserActivity> activity,
                              std::function<void(joblark::ErrorPtr)> errorHandler) override;
    void revalidateMainMenu() override;
    void terminate() override;

    /// Starts observing what no single window handles (errors while no overview is open, sign-out).
    void observe();
    /// The open windows, oldest first.
    std::vector<SceneWindow*> windows() const;
    SceneWindow* window(SceneSessionIdentifier session) const;
    /// The first open window of a kind.
    SceneWindow* window(WindowKind kind) const;
    /// Opens the settings dialog over the active window.
    void openSettings();
    /// Closes every window and stops answering the application's notifications (before the
    /// program ends: another application may follow in the same process, as in the tests).
    void closeAll();

private:
    SceneWindow* open(WindowKind kind, const std::optional<UserActivity>& activity);
    std::shared_ptr<AppContext> context_;
    std::vector<QPointer<SceneWindow>> windows_;
    SceneSessionIdentifier nextScene_ = 1;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova::ui
