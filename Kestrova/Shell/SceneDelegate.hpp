#pragma once

#include "Shell/ToolbarDelegate.hpp"
#include "Shell/WindowSystem.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

struct WindowSize {
    double width = 0;
    double height = 0;
    bool operator==(const WindowSize&) const = default;
};

enum class ToolbarDisplayMode { automatic, iconOnly, iconAndLabel };
enum class TitleVisibility { visible, hidden };
enum class ToolbarStyle { automatic, unifiedCompact, preference };
enum class TitlebarSeparatorStyle { automatic };

/// How a window of one kind looks, as values the toolkit applies when the window connects.
struct WindowConfiguration {
    std::string title;
    WindowSize minimumSize;
    std::optional<WindowSize> maximumSize;
    /// Absent: the window has no toolbar.
    std::optional<std::string> toolbarIdentifier;
    ToolbarDisplayMode toolbarDisplayMode = ToolbarDisplayMode::automatic;
    TitleVisibility titleVisibility = TitleVisibility::visible;
    ToolbarStyle toolbarStyle = ToolbarStyle::automatic;
    std::optional<TitlebarSeparatorStyle> titlebarSeparatorStyle;
    /// The toolbar item selected when the window opens.
    std::optional<std::string> selectedToolbarItemIdentifier;
    bool operator==(const WindowConfiguration&) const = default;
};

/// The delegate of one window: its configuration and, for the first three kinds, its toolbar.
/// Main thread.
class SceneDelegate : public joblark::Object {
public:
    virtual WindowKind kind() const = 0;
    virtual WindowConfiguration configuration() const = 0;

    /// Absent for the update window, which has no toolbar.
    std::shared_ptr<ToolbarDelegate> toolbarDelegate;
    std::optional<std::int64_t> sceneIdentifier;

    /// The window connected: the toolbar delegate gets its toolbar; returns what to apply.
    virtual WindowConfiguration sceneWillConnect(std::int64_t scene, std::weak_ptr<Toolbar> toolbar);
    virtual void sceneDidDisconnect() {}
};

class OverviewSceneDelegate : public SceneDelegate {
public:
    explicit OverviewSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar);
    std::string className() const override { return "Kestrova.OverviewSceneDelegate"; }
    WindowKind kind() const override { return WindowKind::overview; }
    WindowConfiguration configuration() const override;
    /// Also observes the overview list's selection: the delete item is enabled while a row is selected.
    WindowConfiguration sceneWillConnect(std::int64_t scene, std::weak_ptr<Toolbar> toolbar) override;
    void sceneDidDisconnect() override;
    bool isObserving() const { return !observers_.empty(); }

private:
    std::vector<joblark::ObserverToken> observers_;
};

class DashboardSceneDelegate : public SceneDelegate {
public:
    explicit DashboardSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar);
    std::string className() const override { return "Kestrova.DashboardSceneDelegate"; }
    WindowKind kind() const override { return WindowKind::dashboard; }
    WindowConfiguration configuration() const override;
};

class PreferencesSceneDelegate : public SceneDelegate {
public:
    explicit PreferencesSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar);
    std::string className() const override { return "Kestrova.PreferencesSceneDelegate"; }
    WindowKind kind() const override { return WindowKind::preferences; }
    WindowConfiguration configuration() const override;
};

class UpdateSceneDelegate : public SceneDelegate {
public:
    std::string className() const override { return "Kestrova.UpdateSceneDelegate"; }
    WindowKind kind() const override { return WindowKind::update; }
    WindowConfiguration configuration() const override;
};

} // namespace kestrova
