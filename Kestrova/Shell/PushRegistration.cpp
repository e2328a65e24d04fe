#include "Shell/PushRegistration.hpp"

#include "Service/DeviceTasks.hpp"
#include "State/DeviceIdentity.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {
namespace {

const joblark::Logger& platformLog() {
    return joblark::Logger::general();
}

void post(std::string_view name, joblark::Value object = {}) {
    joblark::NotificationCenter::defaultCenter().post(std::string(name), std::move(object));
}

constexpr const char* kNoDeviceId = "Failed to register for push notifications. No device id was found.";

} // namespace

void UnavailableRemoteNotificationService::registerForRemoteNotifications(PushRegistration& registration) {
    registration.didFailToRegisterForRemoteNotifications(
        std::make_shared<joblark::GenericError>(std::string(reason)));
}

void UnavailableRemoteNotificationService::requestAuthorization(AuthorizationAnswer answer) {
    if (answer)
        answer(false, std::make_shared<joblark::GenericError>(std::string(reason)));
}

PushRegistration::PushRegistration(std::shared_ptr<AppStateController> controller,
                                   std::shared_ptr<RemoteNotificationService> service)
    : controller_(controller), service_(std::move(service)) {}

std::optional<std::string> PushRegistration::deviceId() const {
    auto controller = controller_.lock();
    return controller && controller->vendorIdentifier ? controller->vendorIdentifier() : std::nullopt;
}

void PushRegistration::disable() {
    joblark::UserDefaults::standard().set(false, AppStateController::kEnablePushNotifications);
    post(AppStateController::pushNotificationAuthorizationStatusDidChange);
}

void PushRegistration::checkToSeeIfWeAreRegisteredForPushNotifications(std::function<void(bool)> completion) {
    auto id = deviceId();
    if (!id) {
        platformLog().notice(kNoDeviceId);
        return;
    }
    auto search = std::make_shared<SearchDevices>(*id);
    if (auto controller = controller_.lock())
        search->setCredentialsSource(controller->credentialsSource());
    std::weak_ptr<PushRegistration> weak = weak_from_this();
    auto evaluate = std::make_shared<joblark::UITask>(true, [weak, search, completion] {
        const auto devices = search->models();
        const bool registered = search->result().status.ok() && devices && !devices->empty();
        const auto errors = search->errors();
        const std::string errorText = errors.empty() ? "N/A" : errors.front()->localizedDescription();
        platformLog().notice(
            std::string("AppDelegate.checkToSeeIfWeAreRegisteredForPushNotifications() Result: ") +
            (registered ? "true" : "false") + ". Error: " + errorText);
        joblark::UserDefaults::standard().set(registered, AppStateController::kEnablePushNotifications);
        post(AppStateController::pushNotificationAuthorizationStatusDidChange);
        if (completion)
            completion(registered);
        auto self = weak.lock();
        if (registered && self && self->service_)
            joblark::ensureMainThread([self] { self->service_->registerForRemoteNotifications(*self); });
    });
    joblark::TaskController::performInSeries(joblark::TaskController::Operations{search, evaluate}, nullptr,
                                             false);
}

void PushRegistration::didRegisterForRemoteNotifications(std::span<const std::uint8_t> deviceToken,
                                                         std::function<void(bool)> completion) {
    platformLog().notice("AppDelegate.didRegisterForRemoteNotificationsWithDeviceToken()");
    auto id = deviceId();
    auto controller = controller_.lock();
    if (!id || !controller) {
        platformLog().notice(kNoDeviceId);
        return;
    }
    controller->registerDevice(
        DeviceIdentity::deviceName(), *id, DeviceIdentity::registrationId(deviceToken),
        [completion](bool ok, joblark::ErrorPtr error) {
            platformLog().notice(std::string("Device push notification registration result: ") +
                                 (ok ? "true" : "false") +
                                 ". Error: " + (error ? error->localizedDescription() : "N/A"));
            if (error) {
                joblark::UserDefaults::standard().set(false, AppStateController::kEnablePushNotifications);
                post(AppStateController::pushNotificationAuthorizationStatusDidChange);
                post(AppStateController::someonePleaseHandleThisError, joblark::Value(error));
            }
            if (completion)
                completion(ok);
        });
}

void PushRegistration::didFailToRegisterForRemoteNotifications(const joblark::ErrorPtr& error) {
    platformLog().notice("applicationDidFailToRegisterForRemoteNotificationsWithError(). Error: " +
                         (error ? error->localizedDescription() : std::string("N/A")));
    disable();
    post(AppStateController::someonePleaseHandleThisError, joblark::Value(error));
}

void PushRegistration::registerForRemoteNotifications() {
    if (service_)
        service_->registerForRemoteNotifications(*this);
    else
        didFailToRegisterForRemoteNotifications(std::make_shared<joblark::GenericError>(
            std::string(UnavailableRemoteNotificationService::reason)));
}

void PushRegistration::requestAuthorization(RemoteNotificationService::AuthorizationAnswer answer) {
    if (service_)
        service_->requestAuthorization(std::move(answer));
    else if (answer)
        answer(false, std::make_shared<joblark::GenericError>(
                          std::string(UnavailableRemoteNotificationService::reason)));
}

std::optional<std::string> PushRegistration::unavailableReason() const {
    return service_ ? service_->unavailableReason()
                    : std::string(UnavailableRemoteNotificationService::reason);
}

} // namespace kestrova
