#pragma once

#include "Forms/PushNotificationSwitch.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <string>
#include <vector>

namespace kestrova {

/// The General pane: automatic refresh on or off, its interval, push notifications, desktop
/// notifications, staying in the tray, and the account page. The preferences store is the only state; each
/// element is refilled from it after a change. Main thread.
class GeneralPreferencesViewController : public ViewController {
public:
    /// The interval slider's range, in seconds.
    static constexpr double minimumRefreshInterval = 10;
    static constexpr double maximumRefreshInterval = 600;

    GeneralPreferencesViewController(std::weak_ptr<AppStateController> controller,
                                     std::weak_ptr<Platform> platform,
                                     std::shared_ptr<PushRegistration> push);
    std::string className() const override { return "Kestrova.GeneralPreferencesViewController"; }

    // Setting an element fills it from the store at once.
    void setAutoRefreshToggle(const std::shared_ptr<Switch>& toggle);
    void setRefreshIntervalSlider(const std::shared_ptr<Slider>& slider);
    void setCurrentRefreshIntervalLabel(const std::shared_ptr<Label>& label);
    void setPushNotificationsEnabledSwitch(const std::shared_ptr<Switch>& toggle);
    /// Says why push notifications cannot be switched on here, when they cannot.
    void setPushNotificationsUnavailableLabel(const std::shared_ptr<Label>& label);
    /// "Notify me when a status changes" (the desktop notifications of the client's own syncs).
    void setNotifyOnStatusChangeSwitch(const std::shared_ptr<Switch>& toggle);
    /// "Keep running in the tray when the window is closed"; only shown where a tray exists.
    void setKeepRunningInTraySwitch(const std::shared_ptr<Switch>& toggle);

    void viewWillAppear() override;
    void viewDidDisappear() override;

    void toggleAutoRefresh();
    void updateRefreshInterval();
    void accountSettingsButtonWasPressed();
    void pushNotificationsSwitchDidChange();
    void pushNotificationAuthorizationStatusDidChange();
    void notifyOnStatusChangeSwitchDidChange();
    void keepRunningInTraySwitchDidChange();

    /// The stored interval as a whole number followed by " seconds".
    static std::string intervalText();

private:
    std::weak_ptr<AppStateController> controller_;
    std::weak_ptr<Platform> platform_;
    std::shared_ptr<PushNotificationSwitch> push_;
    std::weak_ptr<Switch> autoRefreshToggle_;
    std::weak_ptr<Slider> refreshIntervalSlider_;
    std::weak_ptr<Label> currentRefreshIntervalLabel_;
    std::weak_ptr<Switch> notifyOnStatusChangeSwitch_;
    std::weak_ptr<Switch> keepRunningInTraySwitch_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
