#include "Forms/GeneralPreferencesViewController.hpp"

#include "Presentation/DesktopPresence.hpp"
#include "Presentation/StatusChangeNotifier.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <algorithm>
#include <cmath>

namespace kestrova {
namespace {

joblark::UserDefaults& defaults() {
    return joblark::UserDefaults::standard();
}

bool shouldAutoRefresh() {
    return defaults().boolForKey(AppStateController::kShouldAutoRefresh);
}

/// A switch that is one boolean preference: filled from the store, and the store refilled into it
/// after a change (a write that failed shows as the switch going back).
void fillSwitch(const std::shared_ptr<Switch>& toggle, std::string_view key) {
    if (toggle)
        toggle->setOn(defaults().boolForKey(key));
}

void storeSwitch(const std::weak_ptr<Switch>& weak, std::string_view key) {
    auto toggle = weak.lock();
    if (!toggle)
        return;
    (void)defaults().set(toggle->isOn(), key);
    fillSwitch(toggle, key);
}

} // namespace

GeneralPreferencesViewController::GeneralPreferencesViewController(
    std::weak_ptr<AppStateController> controller, std::weak_ptr<Platform> platform,
    std::shared_ptr<PushRegistration> push)
    : controller_(controller), platform_(std::move(platform)) {
    // The pane presents the switch's alerts; it may be gone by the time an answer arrives.
    push_ = std::make_shared<PushNotificationSwitch>(controller, std::move(push),
                                                     [this](Alert alert) { present(std::move(alert)); });
}

std::string GeneralPreferencesViewController::intervalText() {
    return std::to_string(defaults().integerForKey(AppStateController::kRefreshInterval)) + " seconds";
}

void GeneralPreferencesViewController::setAutoRefreshToggle(const std::shared_ptr<Switch>& toggle) {
    autoRefreshToggle_ = toggle;
    if (toggle)
        toggle->setOn(shouldAutoRefresh());
}

void GeneralPreferencesViewController::setRefreshIntervalSlider(const std::shared_ptr<Slider>& slider) {
    refreshIntervalSlider_ = slider;
    if (!slider)
        return;
    slider->setValue(static_cast<double>(defaults().integerForKey(AppStateController::kRefreshInterval)));
    slider->setEnabled(shouldAutoRefresh()); // the interval means nothing while refresh is off
}

void GeneralPreferencesViewController::setCurrentRefreshIntervalLabel(const std::shared_ptr<Label>& label) {
    currentRefreshIntervalLabel_ = label;
    if (label)
        label->setText(intervalText());
}

void GeneralPreferencesViewController::setPushNotificationsEnabledSwitch(
    const std::shared_ptr<Switch>& toggle) {
    push_->control = toggle;
    push_->update();
}

void GeneralPreferencesViewController::setPushNotificationsUnavailableLabel(
    const std::shared_ptr<Label>& label) {
    push_->explanation = label;
    push_->update();
}

void GeneralPreferencesViewController::setNotifyOnStatusChangeSwitch(const std::shared_ptr<Switch>& toggle) {
    StatusNotificationCoordinator::registerDefaults();
    notifyOnStatusChangeSwitch_ = toggle;
    fillSwitch(toggle, StatusNotificationCoordinator::kNotifyOnStatusChange);
}

void GeneralPreferencesViewController::setKeepRunningInTraySwitch(const std::shared_ptr<Switch>& toggle) {
    keepRunningInTraySwitch_ = toggle;
    fillSwitch(toggle, kKeepRunningInTray);
}

void GeneralPreferencesViewController::notifyOnStatusChangeSwitchDidChange() {
    storeSwitch(notifyOnStatusChangeSwitch_, StatusNotificationCoordinator::kNotifyOnStatusChange);
}

void GeneralPreferencesViewController::keepRunningInTraySwitchDidChange() {
    storeSwitch(keepRunningInTraySwitch_, kKeepRunningInTray);
}

void GeneralPreferencesViewController::viewWillAppear() {
    observers_.clear();
    auto weak = weakAs<GeneralPreferencesViewController>();
    observers_.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppStateController::pushNotificationAuthorizationStatusDidChange), std::nullopt,
        [weak](const joblark::Notification&) {
            joblark::ensureMainThread([weak] {
                if (auto self = weak.lock())
                    self->pushNotificationAuthorizationStatusDidChange();
            });
        }));
}

void GeneralPreferencesViewController::viewDidDisappear() {
    observers_.clear();
}

void GeneralPreferencesViewController::pushNotificationAuthorizationStatusDidChange() {
    push_->update();
}

void GeneralPreferencesViewController::toggleAutoRefresh() {
    auto toggle = autoRefreshToggle_.lock();
    if (!toggle)
        return;
    auto controller = controller_.lock();
    const bool on = toggle->isOn();
    if (on) {
        defaults().set(true, AppStateController::kShouldAutoRefresh);
        if (shouldAutoRefresh() && controller && !controller->refreshTimer)
            controller->startRefreshTimer();
    } else if (controller) {
        controller->stopRefreshTimer();
    } else {
        defaults().set(false, AppStateController::kShouldAutoRefresh);
    }
    if (auto slider = refreshIntervalSlider_.lock())
        slider->setEnabled(on);
    toggle->setOn(shouldAutoRefresh());
}

void GeneralPreferencesViewController::updateRefreshInterval() {
    auto slider = refreshIntervalSlider_.lock();
    if (!slider)
        return;
    // A zero or negative interval would make the refresh timer spin; the slider never gives one, but
    // the store is the timer's only source.
    double value = slider->value();
    if (!std::isfinite(value))
        value = minimumRefreshInterval;
    defaults().set(std::clamp(value, minimumRefreshInterval, maximumRefreshInterval),
                   AppStateController::kRefreshInterval);
    if (auto label = currentRefreshIntervalLabel_.lock())
        label->setText(intervalText());
}

void GeneralPreferencesViewController::accountSettingsButtonWasPressed() {
    if (auto platform = platform_.lock())
        platform->openURL(ServiceURLs::profilePage());
}

void GeneralPreferencesViewController::pushNotificationsSwitchDidChange() {
    push_->switchDidChange();
}

} // namespace kestrova
