#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Tasks/Task.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Thread safety: Like every Task: accessors may be called from any thread; the first of notification and
// time-out wins, whichever threads they arrive on.

namespace joblark {

/// Waits for a notification on the default centre, or for a time-out, whichever comes first; then
/// runs its work once and finishes (status stays unknown). receivedNotification tells which came.
/// It observes from construction, so a notification posted before it starts also ends it.
class JOBLARK_EXPORT PendingNotificationTask : public Task {
public:
    PendingNotificationTask(std::string notificationName, std::optional<Value> object, double timeout,
                            std::function<void()> block);
    ~PendingNotificationTask() override;
    std::string className() const override { return "Joblark.PendingNotificationTask"; }

    std::optional<Notification> receivedNotification() const;
    void setReceivedNotification(std::optional<Notification> notification);
    std::shared_ptr<Timer> timer() const;
    void setTimer(std::shared_ptr<Timer> timer);
    double timeout() const;
    void setTimeout(double seconds);
    std::function<void()> work() const;
    void setWork(std::function<void()> work);

    void main() override;
    virtual void didReceive(const std::optional<Notification>& notification);
    /// Runs the work and finishes; only the first call (notification or time-out) does anything.
    void doWorkAndFinish();

private:
    void finishClaimed();
    struct Relay;
    std::shared_ptr<Relay> relay_;
    ObserverToken observation_;
    std::optional<Notification> receivedNotification_;
    std::shared_ptr<Timer> timer_;
    double timeout_;
    std::function<void()> work_;
    std::atomic<bool> ended_{false};
};

} // namespace joblark
