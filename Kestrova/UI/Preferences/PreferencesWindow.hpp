#pragma once

// "Preferences" (fixed 750×500): the General pane (GeneralPreferencesViewController: automatic
// refresh, its interval, push notifications, the account page) and the About pane
// (AboutPreferencesViewController: the version and the resource pages), switched by the toolbar
// through PreferencesViewController.

#include "UI/Kit/Controls.hpp"
#include "UI/Kit/SceneWindow.hpp"
#include "UI/Preferences/WebContentBrowser.hpp"

#include "Forms/AboutPreferencesViewController.hpp"
#include "Forms/GeneralPreferencesViewController.hpp"
#include "Forms/PreferencesViewController.hpp"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <memory>
#include <vector>

namespace kestrova::ui {

class PreferencesWindow : public SceneWindow {
    Q_OBJECT
public:
    PreferencesWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                      std::int64_t sceneIdentifier);
    ~PreferencesWindow() override;

    QWidget* generalPane() const { return general_; }
    QWidget* aboutPane() const { return about_; }
    ToggleSwitch* autoRefreshSwitch() const { return autoRefresh_; }
    QSlider* intervalSlider() const { return slider_; }
    QLabel* intervalLabel() const { return interval_; }
    ToggleSwitch* pushSwitch() const { return push_; }
    QLabel* pushExplanation() const { return pushReason_; }
    ToggleSwitch* notifySwitch() const { return notify_; }
    WebContentBrowser* browser() const { return browser_; }
    const std::shared_ptr<AboutPreferencesViewController>& aboutScreen() const { return aboutScreen_; }

protected:
    void windowWillClose() override;

private:
    void buildGeneral();
    void buildAbout();

    std::shared_ptr<PreferencesViewController> screen_;
    std::shared_ptr<GeneralPreferencesViewController> generalScreen_;
    std::shared_ptr<AboutPreferencesViewController> aboutScreen_;
    QWidget* general_;
    QWidget* about_;
    ToggleSwitch* autoRefresh_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* interval_ = nullptr;
    ToggleSwitch* push_ = nullptr;
    QLabel* pushReason_ = nullptr;
    ToggleSwitch* notify_ = nullptr;
    ToggleSwitch* keepInTray_ = nullptr; // only where a tray exists
    WebContentBrowser* browser_ = nullptr;
    std::vector<std::shared_ptr<void>> bindings_;
};

} // namespace kestrova::ui
