#pragma once

#include "Presentation/ViewKit.hpp"
#include "Shell/PushRegistration.hpp"
#include "State/AppStateController.hpp"

#include <functional>
#include <memory>

namespace kestrova {

/// The push-notification switch of the General pane and of the settings screen: asks for permission
/// when turned on, removes this machine's registration when turned off, and always ends showing
/// "kEnablePushNotifications". Where the system has no remote-notification service the switch is
/// disabled and the explanation label says why. Main thread.
class PushNotificationSwitch : public std::enable_shared_from_this<PushNotificationSwitch> {
public:
    static constexpr std::string_view enableInSettingsMessage =
        "Please enable Push Notifications in the Settings app.";

    PushNotificationSwitch(std::weak_ptr<AppStateController> controller,
                           std::shared_ptr<PushRegistration> push, std::function<void(Alert)> present);

    std::weak_ptr<Switch> control;
    /// Shown, with the reason, only while push cannot work here.
    std::weak_ptr<Label> explanation;

    /// Sets the switch from the stored preference, and its availability.
    void update();
    /// The user flipped the switch.
    void switchDidChange();
    /// The permission request's answer.
    void authorizationAnswer(bool granted, joblark::ErrorPtr error);

private:
    void removeDevice();

    std::weak_ptr<AppStateController> controller_;
    std::shared_ptr<PushRegistration> push_;
    std::function<void(Alert)> present_;
};

} // namespace kestrova
