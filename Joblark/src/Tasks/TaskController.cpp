#include "joblark/Tasks/TaskController.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/AsyncTask.hpp"
#include "joblark/Tasks/TaskLog.hpp"

#include <atomic>

namespace joblark {

namespace {
std::atomic<bool> gReady{false};

OperationQueue& sharedQueue() {
    static auto* queue = new OperationQueue(); // lives for the whole process
    return *queue;
}
} // namespace

const Logger& TaskLog() {
    static const auto* log = new Logger("Queue", "Task");
    return *log;
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

void TaskController::performInParallel(const Operations& operations, bool waitUntilFinished) {
    if (!ready())
        return;
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
    if (!TaskController::ready())
        return;
    auto task = std::make_shared<AsyncTask>([&callable](AsyncTask::CompletionHandler handler) {
        callable([handler] { handler(TaskResult::succeeded()); });
    });
    TaskController::performInSeries({task}, true);
}

} // namespace joblark
