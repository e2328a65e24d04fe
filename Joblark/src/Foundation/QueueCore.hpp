#pragma once

#include "joblark/Foundation/Operation.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace joblark::detail {

/// What a queue is while operations refer to it: its bookkeeping outlives the OperationQueue object
/// for as long as one of its operations is still pending.
struct QueueCore : std::enable_shared_from_this<QueueCore> {
    explicit QueueCore(bool main) : isMain(main) {}

    const bool isMain;
    std::atomic<bool> processLifetime{false};
    mutable std::mutex mutex; // names, the enumeration list and the all-finished wait; not per task
    std::condition_variable allFinished;
    std::string name;
    int qualityOfService = -1;
    std::atomic<std::size_t> count{0};
    std::atomic<int> countWaiters{0};
    // For operations() only: weak, so that it holds nothing back; cleared whenever the queue drains
    // and pruned when it doubles, so it stays proportional to the operations in flight.
    std::vector<std::weak_ptr<Operation>> members;
    std::size_t pruneAt = 64;

    std::vector<std::shared_ptr<Operation>> snapshot() const;
    /// Takes the operations into this queue (attaching the latch to each, when given); `ready`
    /// receives those whose dependencies had already finished, `elsewhere` those (waited for) that
    /// were already in a queue.
    void enqueue(std::size_t count, const std::function<Operation*(std::size_t)>& at, FinishLatch* latch,
                 std::vector<Operation*>& ready, std::vector<std::shared_ptr<Operation>>& elsewhere);
    void operationFinished();
    /// The operation's dependencies have all finished: run it (its run hold is set).
    void dispatch(Operation& op);
    /// Runs a batch of dispatched operations.
    void dispatchMany(std::vector<Operation*>& ops);
};

/// Lets one thread wait for a whole batch with a single wake-up, instead of one per operation.
/// The waiter owns it; the last count-down touches it only under `mutex`, and the waiter leaves
/// only through `mutex`, so it may live on the waiter's stack.
struct FinishLatch {
    explicit FinishLatch(std::size_t count) : remaining(static_cast<std::ptrdiff_t>(count)) {}
    void countDown(std::ptrdiff_t n = 1);
    bool reached() const { return remaining.load(std::memory_order_seq_cst) <= 0; }
    /// Blocks (or, on a pool worker, runs queued work) until the count reaches zero.
    void wait();

    std::atomic<std::ptrdiff_t> remaining;
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;
};

/// Counts the latch down now, or — on a pool worker inside an operation — as soon as the worker has
/// let go of that operation, so that the waiter is the one that drops the last reference.
void countDownSoon(FinishLatch* latch, const Operation& finished);

/// Starts an operation on the calling thread unless it already finished; nothing it throws escapes.
void runOperation(Operation& op);

/// Hands dispatched operations to the shared pool. From a worker that is running an operation, the
/// first goes to its hand-off slot and runs next on the same thread; the rest go to its own deque,
/// from which idle workers steal.
void poolSubmit(Operation* op);
void poolSubmitMany(std::vector<Operation*>& ops);

/// On a pool worker: runs queued work (its own first) until `done()` or the deadline, parking when
/// there is none; returns whether `done()` held. Returns nullopt off the pool, where the caller
/// must block by itself.
std::optional<bool> poolHelpUntil(const std::function<bool()>& done,
                                  std::optional<std::chrono::steady_clock::time_point> deadline);
/// A finish event that parked helpers may be waiting for.
void poolWakeHelpers();

/// The dispatch reference of an operation (set by the dispatcher, released by the runner).
struct OperationAccess {
    static std::shared_ptr<Operation>& runHold(Operation& op) { return op.runHold_; }
    static std::atomic<int>& pending(Operation& op) { return op.pending_; }
    static FinishLatch* latch(const Operation& op) { return op.latch_.load(std::memory_order_acquire); }
};

} // namespace joblark::detail
