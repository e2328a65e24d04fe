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
    using AuthorizationAnswer = std::function<void(bool granted, joblark::ErrorPtr error)>;

    virtual ~RemoteNotificationService() = default;
    virtual void registerForRemoteNotifications(PushRegistration& registration) = 0;
    /// Asks the user for permission to show alerts and play sounds; the answer may come on any thread.
    virtual void requestAuthorization(AuthorizationAnswer answer) = 0;
    /// Why remote notifications cannot work on this system, for the screens to show; nothing when
    /// they can.
    virtual std::optional<std::string> unavailableReason() const { return std::nullopt; }
};

/// Linux has no remote-notification service for desktop applications: registering and asking for
/// permission fail at once, and the screens say why instead of offering a switch that cannot work.
class UnavailableRemoteNotificationService : public RemoteNotificationService {
public:
    static constexpr std::string_view reason =
        "Push notifications are not available on this system: Linux has no remote-notification service "
        "for desktop applications.";

    void registerForRemoteNotifications(PushRegistration& registration) override;
    void requestAuthorization(AuthorizationAnswer answer) override;
    std::optional<std::string> unavailableReason() const override { return std::string(reason); }
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

    /// Asks the platform to register this machine (it answers through the two calls above).
    void registerForRemoteNotifications();
    void requestAuthorization(RemoteNotificationService::AuthorizationAnswer answer);
    /// Nothing when remote notifications can work here; else why not.
    std::optional<std::string> unavailableReason() const;
    bool isAvailable() const { return !unavailableReason().has_value(); }

private:
    std::optional<std::string> deviceId() const;
    void disable();

    std::weak_ptr<AppStateController> controller_;
    std::shared_ptr<RemoteNotificationService> service_;
};

} // namespace kestrova
