#include "Forms/SettingsViewController.hpp"

#include "Forms/WebContentViewController.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {

SettingsViewController::SettingsViewController(std::weak_ptr<AppStateController> controller,
                                               std::shared_ptr<PushRegistration> push)
    : controller_(controller) {
    title = "Settings";
    push_ = std::make_shared<PushNotificationSwitch>(controller, std::move(push),
                                                     [this](Alert alert) { present(std::move(alert)); });
}

const std::vector<SettingsSection>& SettingsViewController::sections() {
    static const std::vector<SettingsSection> all = [] {
        std::vector<SettingsSection> list;
        list.push_back({"Notifications", {{"pushNotifications", "Push Notifications", std::nullopt}}});
        SettingsSection information{"Information", {}};
        for (const auto& page : resourcePages())
            information.rows.push_back({page.name, page.title, page.segueIdentifier});
        list.push_back(std::move(information));
        list.push_back({"Account", {{"logout", "Sign Out", std::nullopt}}});
        return list;
    }();
    return all;
}

void SettingsViewController::setPushNotificationsSwitch(const std::shared_ptr<Switch>& toggle) {
    push_->control = toggle;
}

void SettingsViewController::setPushNotificationsUnavailableLabel(const std::shared_ptr<Label>& label) {
    push_->explanation = label;
}

void SettingsViewController::viewWillAppear() {
    push_->update();
    observers_.clear();
    auto weak = weakAs<SettingsViewController>();
    auto& center = joblark::NotificationCenter::defaultCenter();
    observers_.push_back(
        center.addObserver(std::string(AppStateController::pushNotificationAuthorizationStatusDidChange),
                           std::nullopt, [weak](const joblark::Notification&) {
                               joblark::ensureMainThread([weak] {
                                   if (auto self = weak.lock())
                                       self->push_->update();
                               });
                           }));
    observers_.push_back(center.addObserver(
        std::string(AppStateController::someonePleaseHandleThisError), std::nullopt,
        [weak](const joblark::Notification& notification) {
            joblark::ensureMainThread([weak, notification] {
                if (auto self = weak.lock())
                    self->goodGuySettingsViewControllerHandlesUnhandledErrors(notification);
            });
        }));
}

void SettingsViewController::viewDidDisappear() {
    observers_.clear();
}

void SettingsViewController::togglePushNotifications() {
    push_->switchDidChange();
}

void SettingsViewController::didSelectRow(std::size_t section, std::size_t row) {
    auto table = tableView.lock();
    const auto& all = sections();
    if (section >= all.size() || row >= all[section].rows.size()) {
        if (table)
            table->deselectRow(section, row, true);
        return;
    }
    const auto& selected = all[section].rows[row];
    if (selected.reuseIdentifier == "logout") {
        if (table)
            table->deselectRow(section, row, true);
        auto controller = controller_;
        dismiss([controller] {
            if (auto c = controller.lock())
                c->logout();
        });
        return;
    }
    if (selected.segueIdentifier)
        performSegue(*selected.segueIdentifier);
}

void SettingsViewController::prepare(const std::string& segueIdentifier,
                                     const std::shared_ptr<ViewController>& destination) {
    if (auto web = std::dynamic_pointer_cast<WebContentViewController>(destination))
        WebContentViewController::prepareResourcePage(segueIdentifier, *web);
}

void SettingsViewController::goodGuySettingsViewControllerHandlesUnhandledErrors(
    const joblark::Notification& notification) {
    auto error = notification.object.asError();
    if (!error)
        return;
    joblark::Logger::general().notice("Good guy settings view handling unhandled error: " +
                                      error->localizedDescription());
    present(errorAlert(error));
}

} // namespace kestrova
