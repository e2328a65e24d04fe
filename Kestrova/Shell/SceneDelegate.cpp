#include "Shell/SceneDelegate.hpp"

#include "State/AppStateController.hpp"

#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {

WindowConfiguration SceneDelegate::sceneWillConnect(std::int64_t scene, std::weak_ptr<Toolbar> toolbar) {
    sceneIdentifier = scene;
    if (toolbarDelegate)
        toolbarDelegate->toolbar = std::move(toolbar);
    return configuration();
}

OverviewSceneDelegate::OverviewSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar) {
    toolbarDelegate = std::move(toolbar);
}

WindowConfiguration OverviewSceneDelegate::configuration() const {
    return {"Endpoints & Measures",
            {400, 400},
            std::nullopt,
            "Main",
            ToolbarDisplayMode::automatic,
            TitleVisibility::visible,
            ToolbarStyle::unifiedCompact,
            TitlebarSeparatorStyle::automatic,
            std::nullopt};
}

WindowConfiguration OverviewSceneDelegate::sceneWillConnect(std::int64_t scene,
                                                            std::weak_ptr<Toolbar> toolbar) {
    auto applied = SceneDelegate::sceneWillConnect(scene, std::move(toolbar));
    observers_.clear();
    std::weak_ptr<ToolbarDelegate> weak = toolbarDelegate;
    auto selection = [weak](bool selected) {
        return [weak, selected](const joblark::Notification&) {
            joblark::ensureMainThread([weak, selected] {
                if (auto delegate = weak.lock())
                    delegate->setDeleteEnabled(selected);
            });
        };
    };
    auto& center = joblark::NotificationCenter::defaultCenter();
    observers_.push_back(
        center.addObserver(std::string(AppStateController::didSelect), std::nullopt, selection(true)));
    observers_.push_back(
        center.addObserver(std::string(AppStateController::didDeselect), std::nullopt, selection(false)));
    return applied;
}

void OverviewSceneDelegate::sceneDidDisconnect() {
    observers_.clear();
}

DashboardSceneDelegate::DashboardSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar) {
    toolbarDelegate = std::move(toolbar);
}

WindowConfiguration DashboardSceneDelegate::configuration() const {
    return {"Dashboard",
            {400, 400},
            std::nullopt,
            "dashboard",
            ToolbarDisplayMode::iconOnly,
            TitleVisibility::hidden,
            ToolbarStyle::automatic,
            std::nullopt,
            std::nullopt};
}

PreferencesSceneDelegate::PreferencesSceneDelegate(std::shared_ptr<ToolbarDelegate> toolbar) {
    toolbarDelegate = std::move(toolbar);
}

WindowConfiguration PreferencesSceneDelegate::configuration() const {
    return {"Preferences",
            {750, 500},
            WindowSize{750, 500},
            "preferences",
            ToolbarDisplayMode::iconAndLabel,
            TitleVisibility::visible,
            ToolbarStyle::preference,
            std::nullopt,
            std::string(ToolbarDelegate::preferencesGeneralIdentifier)};
}

WindowConfiguration UpdateSceneDelegate::configuration() const {
    WindowConfiguration configuration;
    configuration.title = "Software Update";
    configuration.minimumSize = {750, 500};
    configuration.maximumSize = WindowSize{750, 500};
    return configuration;
}

} // namespace kestrova
