#pragma once

#include "Forms/AboutPreferencesViewController.hpp"
#include "Forms/PushNotificationSwitch.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

/// The table the settings screen shows its rows in.
class TableView : public View {
public:
    virtual void deselectRow(std::size_t section, std::size_t row, bool animated) = 0;
};

struct SettingsRow {
    std::string reuseIdentifier;
    std::string title;
    std::optional<std::string> segueIdentifier;
};

struct SettingsSection {
    std::string title;
    std::vector<SettingsRow> rows;
};

/// The settings screen: the push switch, the information pages and signing out ("logout": the
/// screen closes first, then the sign-out runs). Main thread.
class SettingsViewController : public ViewController {
public:
    SettingsViewController(std::weak_ptr<AppStateController> controller,
                           std::shared_ptr<PushRegistration> push);
    std::string className() const override { return "Kestrova.SettingsViewController"; }

    std::weak_ptr<TableView> tableView;
    void setPushNotificationsSwitch(const std::shared_ptr<Switch>& toggle);
    /// Says why push notifications cannot be switched on here, when they cannot.
    void setPushNotificationsUnavailableLabel(const std::shared_ptr<Label>& label);

    /// Notifications (the push switch, "pushNotifications"), Information (the resource pages) and
    /// Account ("logout").
    static const std::vector<SettingsSection>& sections();

    void viewWillAppear() override;
    void viewDidDisappear() override;

    void togglePushNotifications();
    void didSelectRow(std::size_t section, std::size_t row);
    void prepare(const std::string& segueIdentifier,
                 const std::shared_ptr<ViewController>& destination) override;
    void goodGuySettingsViewControllerHandlesUnhandledErrors(const joblark::Notification& notification);

private:
    std::weak_ptr<AppStateController> controller_;
    std::shared_ptr<PushNotificationSwitch> push_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
