#pragma once

#include "joblark/Foundation/Operation.hpp"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace joblark::detail {

/// What a queue is while operations refer to it: its bookkeeping outlives the OperationQueue object
/// for as long as one of its operations is still pending.
struct QueueCore : std::enable_shared_from_this<QueueCore> {
    explicit QueueCore(bool main) : isMain(main) {}

    const bool isMain;
    mutable std::mutex mutex;
    std::condition_variable allFinished;
    std::string name;
    int qualityOfService = -1;
    Operation* head = nullptr;
    Operation* tail = nullptr;
    std::size_t count = 0;

    std::vector<std::shared_ptr<Operation>> snapshot() const;
    /// Takes the operations into this queue (attaching the latch to each, when given) and returns
    /// those that are to run: not already in a queue, not finished.
    std::vector<std::shared_ptr<Operation>> enqueue(const std::vector<std::shared_ptr<Operation>>& ops,
                                                    const std::shared_ptr<FinishLatch>& latch);
    void operationFinished(Operation& op);
    /// The operation's dependencies have all finished: run it.
    void dispatch(std::shared_ptr<Operation> op);
};

/// Lets one thread wait for a whole batch with a single wake-up, instead of one per operation.
struct FinishLatch {
    explicit FinishLatch(std::size_t count) : remaining(static_cast<std::ptrdiff_t>(count)) {}
    void countDown() {
        if (remaining.fetch_sub(1, std::memory_order_acq_rel) != 1)
            return;
        std::lock_guard lock(mutex);
        done.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return remaining.load(std::memory_order_acquire) <= 0; });
    }
    std::atomic<std::ptrdiff_t> remaining;
    std::mutex mutex;
    std::condition_variable done;
};

/// Counts the latch down when the operation finishes (at once when it already has).
void attachLatch(Operation& op, const std::shared_ptr<FinishLatch>& latch);

/// Starts an operation on the calling thread unless it already finished; nothing it throws escapes.
void runOperation(const std::shared_ptr<Operation>& op);

/// Hands a runnable operation to the shared pool. From a worker that is running an operation, the
/// first one goes to that worker's hand-off slot and runs next on the same thread.
void poolSubmit(std::shared_ptr<Operation> op);
void poolSubmitMany(std::vector<std::shared_ptr<Operation>>& ops);

} // namespace joblark::detail
