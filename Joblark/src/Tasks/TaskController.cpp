#include "joblark/Tasks/TaskController.hpp"

#include "../Foundation/Immortal.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/AsyncTask.hpp"
#include "joblark/Tasks/TaskLog.hpp"

#include <atomic>

namespace joblark {

namespace {
std::atomic<bool> gReady{false};

OperationQueue& sharedQueue() {
    // Never destroyed: workers may still finish tasks while static destructors run.
    static detail::Immortal<OperationQueue> queue;
    static const bool pinned = (queue.get().setProcessLifetime(), true);
    (void)pinned;
    return queue.get();
}
} // namespace

const Logger& TaskLog() {
    static detail::Immortal<Logger> log("Queue", "Task");
    return log.get();
}

TaskController::TaskController() {
    auto& queue = sharedQueue();
    queue.setName("Background Networking Queue");
    queue.setQualityOfService(kQualityOfServiceUserInitiated);
    gReady.store(true, std::memory_order_release);
}

bool TaskController::ready() {
    return gReady.load(std::memory_order_acquire);
}

OperationQueue* TaskController::queue() {
    return ready() ? &sharedQueue() : nullptr;
}

void detail::noteSubmissionBeforeController() {
    static std::atomic<bool> noted{false};
    if (!noted.exchange(true))
        TaskLog().error("Work was submitted before a TaskController was constructed; it is dropped. "
                        "Construct one at launch, before submitting tasks.");
}

void TaskController::performInParallel(const Operations& operations, bool waitUntilFinished) {
    if (!ready()) {
        if (!operations.empty())
            detail::noteSubmissionBeforeController();
        return;
    }
    sharedQueue().addOperations(operations, waitUntilFinished);
}

void TaskController::performInSeries(const Operations& operations, bool waitUntilFinished) {
    for (std::size_t i = 1; i < operations.size(); ++i)
        operations[i]->addDependency(operations[i - 1]);
    performInParallel(operations, waitUntilFinished);
}

void ensureMainThread(const std::function<void()>& completionHandler) {
    MainThread::runSync(completionHandler);
}

void syncronify(const std::function<void(std::function<void()> done)>& callable) {
    if (!TaskController::ready()) {
        detail::noteSubmissionBeforeController();
        return;
    }
    auto task = std::make_shared<AsyncTask>([&callable](AsyncTask::CompletionHandler handler) {
        callable([handler] { handler(TaskResult::succeeded()); });
    });
    TaskController::performInSeries({task}, true);
}

} // namespace joblark
