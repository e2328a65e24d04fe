#pragma once

// "Account Settings" (SettingsViewController): push notifications, the information pages and signing
// out, as a dialog of its own. Signing out closes the dialog first.

#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/Controls.hpp"
#include "UI/Preferences/WebContentBrowser.hpp"

#include "Forms/SettingsViewController.hpp"

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include <memory>
#include <vector>

namespace kestrova::ui {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(std::shared_ptr<AppContext> context, QWidget* parent);
    ~SettingsDialog() override;

    ToggleSwitch* pushSwitch() const { return push_; }
    QLabel* pushExplanation() const { return pushReason_; }
    /// The row's button (the pages, "Sign Out"), by the row's reuse identifier.
    QPushButton* row(const QString& reuseIdentifier) const;
    WebContentBrowser* browser() const { return browser_; }
    const std::shared_ptr<SettingsViewController>& screen() const { return screen_; }

private:
    std::shared_ptr<SettingsViewController> screen_;
    ToggleSwitch* push_ = nullptr;
    QLabel* pushReason_ = nullptr;
    WebContentBrowser* browser_ = nullptr;
    std::shared_ptr<AppContext> context_;
    std::vector<std::shared_ptr<void>> bindings_;
};

} // namespace kestrova::ui
