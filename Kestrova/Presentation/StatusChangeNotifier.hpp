#pragma once

// Quiet desktop notifications of status changes: after each sync, what changed since the last one,
// coalesced into at most one notification. The first sync after start or sign-in only learns the
// statuses; a resource that stays down is not announced again; a recovery is announced once.

#include "Model/AppState.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrova {

enum class ResourceKind { endpoint, measure };

/// One resource's status moving from one value to another (absent: never checked, or new).
struct StatusTransition {
    enum class Status { ok, degraded, down };
    ResourceKind kind = ResourceKind::endpoint;
    std::string id;
    std::string name;
    std::optional<Status> from;
    Status to = Status::ok;
    bool operator==(const StatusTransition&) const = default;
};

struct DesktopNotification {
    std::string title;
    std::string body;
    /// What a click selects in the overview.
    ResourceKind targetKind = ResourceKind::endpoint;
    std::string targetId;
    bool critical = false; ///< something went down
    bool operator==(const DesktopNotification&) const = default;
};

class StatusChangeNotifier {
public:
    /// The transitions since the last call; the first call (or the first after reset()) only learns.
    std::vector<StatusTransition> observe(const AppState& state);
    /// Forget what was learnt: the next observation is a first one again (sign-in, sign-out).
    void reset() { known_.reset(); }

    /// One notification for a sync's transitions; none when nothing worth telling changed (a resource
    /// first seen as ok, or still as it was).
    static std::optional<DesktopNotification> notification(const std::vector<StatusTransition>& transitions);

private:
    std::optional<std::unordered_map<std::string, StatusTransition::Status>> known_;
};

/// Shows a notification on the desktop; the toolkit's implementation calls `activated` when the user
/// clicks one.
class DesktopNotificationService {
public:
    virtual ~DesktopNotificationService() = default;
    virtual void show(const DesktopNotification& notification) = 0;
    std::function<void(const DesktopNotification&)> activated;
};

/// Watches the syncs and notifies, unless the preference is off or notifications are muted.
class StatusNotificationCoordinator : public std::enable_shared_from_this<StatusNotificationCoordinator> {
public:
    static constexpr std::string_view kNotifyOnStatusChange = "kNotifyOnStatusChange";
    /// Seconds since 1970 until which nothing is shown (absent or past: not muted).
    static constexpr std::string_view kNotificationsMutedUntil = "kNotificationsMutedUntil";

    static void registerDefaults();
    static std::shared_ptr<StatusNotificationCoordinator>
    make(std::shared_ptr<AppStateController> controller, std::shared_ptr<DesktopNotificationService> service);

    /// After every sync (the state controller's "userDidChange").
    void syncDidFinish(const joblark::Date& now = {});
    void muteUntil(std::optional<joblark::Date> until);
    bool isMuted(const joblark::Date& now = {}) const;
    /// Mute until the next local midnight after `now`.
    static joblark::Date tomorrow(const joblark::Date& now);

private:
    StatusNotificationCoordinator(std::shared_ptr<AppStateController> controller,
                                  std::shared_ptr<DesktopNotificationService> service);
    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<DesktopNotificationService> service_;
    StatusChangeNotifier notifier_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
