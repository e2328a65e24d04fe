#include "joblark/Tasks/PendingNotificationTask.hpp"

#include "joblark/Foundation/RunLoop.hpp"

#include <mutex>

namespace joblark {

// The observer is registered in the constructor, before a weak reference to the task exists; the
// relay lets the callback reach the task only while it is alive.
struct PendingNotificationTask::Relay {
    std::mutex mutex;
    PendingNotificationTask* task = nullptr;

    std::shared_ptr<PendingNotificationTask> lock() {
        std::lock_guard guard(mutex);
        if (!task)
            return nullptr;
        return std::static_pointer_cast<PendingNotificationTask>(task->weak_from_this().lock());
    }
};

PendingNotificationTask::PendingNotificationTask(std::string notificationName, std::optional<Value> object,
                                                 double timeout, std::function<void()> block)
    : relay_(std::make_shared<Relay>()), timeout_(timeout), work_(std::move(block)) {
    relay_->task = this;
    observation_ = NotificationCenter::defaultCenter().addObserver(
        std::move(notificationName), std::move(object), [relay = relay_](const Notification& notification) {
            if (auto task = relay->lock())
                task->didReceive(notification);
        });
}

PendingNotificationTask::~PendingNotificationTask() {
    {
        std::lock_guard guard(relay_->mutex);
        relay_->task = nullptr;
    }
    observation_.remove();
    if (timer_)
        timer_->invalidate();
}

std::optional<Notification> PendingNotificationTask::receivedNotification() const {
    return readField(receivedNotification_);
}
void PendingNotificationTask::setReceivedNotification(std::optional<Notification> notification) {
    writeField(receivedNotification_, std::move(notification));
}
std::shared_ptr<Timer> PendingNotificationTask::timer() const {
    return readField(timer_);
}
void PendingNotificationTask::setTimer(std::shared_ptr<Timer> timer) {
    writeField(timer_, std::move(timer));
}
double PendingNotificationTask::timeout() const {
    return readField(timeout_);
}
void PendingNotificationTask::setTimeout(double seconds) {
    writeField(timeout_, seconds);
}
std::function<void()> PendingNotificationTask::work() const {
    return readField(work_);
}
void PendingNotificationTask::setWork(std::function<void()> work) {
    writeField(work_, std::move(work));
}

void PendingNotificationTask::main() {
    std::weak_ptr<PendingNotificationTask> weakTask = sharedAs<PendingNotificationTask>();
    auto timer = Timer::make(timeout(), false, [weakTask](Timer&) {
        if (auto task = weakTask.lock())
            task->doWorkAndFinish();
    });
    setTimer(timer);
    // A notification may already have ended the wait while the timer was being made.
    if (ended_.load(std::memory_order_acquire))
        return;
    RunLoop::current()->addTimer(timer);
}

void PendingNotificationTask::didReceive(const std::optional<Notification>& notification) {
    // The first event wins; the notification is kept only when it is the one that ended the wait.
    if (ended_.exchange(true, std::memory_order_acq_rel))
        return;
    setReceivedNotification(notification);
    finishClaimed();
}

void PendingNotificationTask::doWorkAndFinish() {
    if (ended_.exchange(true, std::memory_order_acq_rel))
        return;
    finishClaimed();
}

void PendingNotificationTask::finishClaimed() {
    if (auto t = timer())
        t->invalidate();
    observation_.remove();
    if (auto w = work()) {
        try {
            w();
        } catch (...) {
            report(currentExceptionAsError());
        }
    }
    setState(State::Finished);
}

} // namespace joblark
