#include "Forms/PushNotificationSwitch.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {
namespace {

bool storedPreference() {
    return joblark::UserDefaults::standard().boolForKey(AppStateController::kEnablePushNotifications);
}

void storePreference(bool enabled) {
    joblark::UserDefaults::standard().set(enabled, AppStateController::kEnablePushNotifications);
    joblark::NotificationCenter::defaultCenter().post(
        std::string(AppStateController::pushNotificationAuthorizationStatusDidChange));
}

} // namespace

PushNotificationSwitch::PushNotificationSwitch(std::weak_ptr<AppStateController> controller,
                                               std::shared_ptr<PushRegistration> push,
                                               std::function<void(Alert)> present)
    : controller_(std::move(controller)), push_(std::move(push)), present_(std::move(present)) {}

void PushNotificationSwitch::update() {
    const auto reason = push_ ? push_->unavailableReason()
                              : std::optional<std::string>(UnavailableRemoteNotificationService::reason);
    if (auto sw = control.lock()) {
        sw->setOn(storedPreference());
        sw->setEnabled(!reason);
    }
    if (auto label = explanation.lock()) {
        label->setText(reason);
        label->setHidden(!reason);
    }
}

void PushNotificationSwitch::switchDidChange() {
    auto sw = control.lock();
    if (!sw)
        return;
    if (!sw->isOn()) {
        removeDevice();
        return;
    }
    if (!push_) {
        update();
        return;
    }
    std::weak_ptr<PushNotificationSwitch> weak = weak_from_this();
    push_->requestAuthorization([weak](bool granted, joblark::ErrorPtr error) {
        joblark::ensureMainThread([weak, granted, error] {
            if (auto self = weak.lock())
                self->authorizationAnswer(granted, error);
        });
    });
}

void PushNotificationSwitch::authorizationAnswer(bool granted, joblark::ErrorPtr error) {
    joblark::Logger::general().notice(
        std::string("Device did recieve push notification authorization response. Granted: ") +
        (granted ? "true" : "false") + ". Error: " + (error ? error->localizedDescription() : "N/A"));
    if (error) {
        if (present_)
            present_(errorAlert(error));
        update(); // the switch must not stay on when nothing was enabled
        return;
    }
    if (granted) {
        if (auto push = push_)
            joblark::ensureMainThread([push] { push->registerForRemoteNotifications(); });
        storePreference(true);
        update();
        return;
    }
    storePreference(false);
    removeDevice();
    if (present_)
        present_(errorAlert(
            std::make_shared<joblark::APIError>(std::string(enableInSettingsMessage), std::nullopt)));
}

void PushNotificationSwitch::removeDevice() {
    auto controller = controller_.lock();
    auto id = controller && controller->vendorIdentifier ? controller->vendorIdentifier() : std::nullopt;
    if (!id) {
        update();
        return;
    }
    std::weak_ptr<PushNotificationSwitch> weak = weak_from_this();
    controller->unregisterDevice(*id, [weak](bool, joblark::ErrorPtr) {
        joblark::ensureMainThread([weak] {
            if (auto self = weak.lock())
                self->update();
        });
    });
}

} // namespace kestrova
