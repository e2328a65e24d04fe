#pragma once

#include "State/AppStateController.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace kestrova {

class PushRegistration;

/// The platform's remote-notification service: asked to register, it later calls back
/// didRegisterForRemoteNotifications or didFailToRegisterForRemoteNotifications.
class RemoteNotificationService {
public:
    virtual ~RemoteNotificationService() = default;
    virtual void registerForRemoteNotifications(PushRegistration& registration) = 0;
};

/// Linux has no remote-notification service for desktop applications: registering fails at once.
class UnavailableRemoteNotificationService : public RemoteNotificationService {
public:
    void registerForRemoteNotifications(PushRegistration& registration) override;
};

/// Keeps this machine's push registration with the service, and "kEnablePushNotifications", in step:
/// checks at launch whether the machine is registered, registers the token the platform hands over,
/// and reports failures through "AppStateController.someonePleaseHandleThisError". Main thread.
class PushRegistration : public std::enable_shared_from_this<PushRegistration> {
public:
    PushRegistration(std::shared_ptr<AppStateController> controller,
                     std::shared_ptr<RemoteNotificationService> service);

    /// Searches the service for this machine's device; when found, asks the platform to register.
    /// `completion` (optional) hears the outcome after the preference was stored.
    void checkToSeeIfWeAreRegisteredForPushNotifications(
        std::function<void(bool registered)> completion = nullptr);
    /// The platform's token: registers this machine with the service.
    void didRegisterForRemoteNotifications(std::span<const std::uint8_t> deviceToken,
                                           std::function<void(bool ok)> completion = nullptr);
    void didFailToRegisterForRemoteNotifications(const joblark::ErrorPtr& error);

private:
    std::optional<std::string> deviceId() const;
    void disable();

    std::weak_ptr<AppStateController> controller_;
    std::shared_ptr<RemoteNotificationService> service_;
};

} // namespace kestrova
