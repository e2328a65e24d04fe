#include "joblark/Foundation/MainThread.hpp"

#include "BlockingCall.hpp"
#include "joblark/Foundation/RunLoop.hpp"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace joblark {
namespace {

// The adopted main thread; a default id (no thread) means the process's initial thread.
std::atomic<std::thread::id>& adoptedMainThread() {
    static std::atomic<std::thread::id> id;
    return id;
}

bool onInitialThread() {
    thread_local const bool initial = ::gettid() == ::getpid();
    return initial;
}

struct ExecutorSlot {
    std::mutex mutex;
    // Shared, so posting copies a pointer rather than the function and never calls it under the lock.
    std::shared_ptr<const MainThread::Executor> executor;
};

// Never destroyed: threads may still post to the main thread while the process exits.
ExecutorSlot& executorSlot() {
    static auto* slot = new ExecutorSlot;
    return *slot;
}

} // namespace

bool MainThread::isCurrent() {
    auto adopted = adoptedMainThread().load(std::memory_order_acquire);
    if (adopted == std::thread::id())
        return onInitialThread();
    return adopted == std::this_thread::get_id();
}

void MainThread::adoptCurrentThread() {
    adoptedMainThread().store(std::this_thread::get_id(), std::memory_order_release);
}

void MainThread::setExecutor(Executor executor) {
    auto installed = executor ? std::make_shared<const Executor>(std::move(executor)) : nullptr;
    auto& slot = executorSlot();
    std::lock_guard lock(slot.mutex);
    slot.executor.swap(installed); // the old executor is released after the lock
}

void MainThread::runAsync(Work work) {
    std::shared_ptr<const Executor> executor;
    {
        auto& slot = executorSlot();
        std::lock_guard lock(slot.mutex);
        executor = slot.executor;
    }
    if (executor)
        (*executor)(std::move(work));
    else
        RunLoop::main()->perform(std::move(work));
}

void MainThread::runSync(const Work& work) {
    if (isCurrent()) {
        work();
        return;
    }
    detail::postAndWait(work, [](Work item) { runAsync(std::move(item)); });
}

} // namespace joblark
