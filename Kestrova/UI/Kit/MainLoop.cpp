#include "UI/Kit/MainLoop.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/RunLoop.hpp"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>

namespace kestrova::ui {
namespace {

const QEvent::Type workEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type serviceEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A work item travelling through Qt's event queue; destroyed unrun when the receiver goes away.
class WorkEvent : public QEvent {
public:
    explicit WorkEvent(joblark::MainThread::Work item) : QEvent(workEventType), work(std::move(item)) {}
    joblark::MainThread::Work work;
};

} // namespace

// What the executor and the hook, which other threads may still hold, post to: cleared under the lock
// when the integration goes, so no thread posts to a destroyed object.
struct MainLoopIntegration::Target {
    std::mutex mutex;
    QObject* receiver = nullptr;

    void post(std::unique_ptr<QEvent> owned) {
        std::lock_guard lock(mutex);
        if (receiver)
            QCoreApplication::postEvent(receiver, owned.release()); // thread-safe; Qt owns it now
    }
};

MainLoopIntegration::MainLoopIntegration(QObject* parent)
    : QObject(parent), loop_(joblark::RunLoop::main()), target_(std::make_shared<Target>()),
      serviceQueued_(std::make_shared<std::atomic<bool>>(false)) {
    target_->receiver = this;
    joblark::MainThread::adoptCurrentThread();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &MainLoopIntegration::service);

    joblark::MainThread::setExecutor([target = target_](joblark::MainThread::Work work) {
        target->post(std::make_unique<WorkEvent>(std::move(work)));
    });
    loop_->setWakeHook([target = target_, queued = serviceQueued_] {
        if (!queued->exchange(true))
            target->post(std::make_unique<QEvent>(serviceEventType));
    });
    scheduleService(); // timers scheduled before the integration existed
}

MainLoopIntegration::~MainLoopIntegration() {
    loop_->setWakeHook(nullptr);
    joblark::MainThread::setExecutor(nullptr);
    {
        std::lock_guard lock(target_->mutex);
        target_->receiver = nullptr;
    }
    // Events already posted to this object are deleted by Qt with it, and their work items with them.
}

void MainLoopIntegration::customEvent(QEvent* event) {
    {
        // Qt's event queue is not instrumented for ThreadSanitizer; the lock the poster held while
        // posting makes the hand-off of the event's contents visible to it (uncontended, cheap).
        std::lock_guard lock(target_->mutex);
    }
    if (event->type() == workEventType) {
        auto& work = static_cast<WorkEvent*>(event)->work;
        if (work) {
            // An exception must not unwind through Qt's event dispatch.
            try {
                work();
            } catch (...) {
                qWarning("kestrova: a main-thread work item threw; ignored");
            }
        }
    } else if (event->type() == serviceEventType) {
        serviceQueued_->store(false);
        service();
    }
}

void MainLoopIntegration::scheduleService() {
    if (!serviceQueued_->exchange(true))
        target_->post(std::make_unique<QEvent>(serviceEventType));
}

void MainLoopIntegration::service() {
    loop_->runOnce();
    // runOnce runs only what was queued on entry; what its items queued has poked the hook again.
    auto next = loop_->nextTimerDate();
    if (!next) {
        timer_.stop();
        return;
    }
    using namespace std::chrono;
    auto wait = duration_cast<milliseconds>(*next - joblark::RunLoop::Clock::now());
    // A timer due in under a millisecond is rounded up, so a due timer is not missed by rounding down.
    auto ms = std::clamp<milliseconds::rep>(wait.count() + 1, 0, std::numeric_limits<int>::max());
    timer_.start(static_cast<int>(ms));
}

} // namespace kestrova::ui
