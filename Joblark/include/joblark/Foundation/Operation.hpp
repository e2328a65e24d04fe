#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Object.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace joblark {

class Operation;

namespace detail {
struct QueueCore;
struct OperationAccess;
struct FinishLatch;
class DependencyIndex;
} // namespace detail

/// A unit of work with dependencies, run by an OperationQueue (or started by hand).
///
/// Dependencies are counted: each operation keeps the number of its unfinished dependencies and
/// becomes runnable when that reaches zero and it has been added to a queue. A dependency counts as
/// finished when the did-change notification of "isFinished" is sent while isFinished() is true —
/// whatever queue it ran on, or none.
///
/// Thread safety: every member may be called from any thread. Dependencies are meant to be wired
/// before the operation is submitted; adding one to an operation that already became runnable is
/// recorded but does not hold it back.
class JOBLARK_EXPORT Operation : public Object {
public:
    using Clock = std::chrono::steady_clock;
    enum class ChangePhase { will, did };
    using ChangeObserver = std::function<void(Operation&, std::string_view key, ChangePhase phase)>;

    ~Operation() override;
    std::string className() const override { return "Joblark.Operation"; }

    /// Default: a cancelled operation finishes without running main(); a synchronous one runs main()
    /// between "isExecuting" and "isFinished" changes; an asynchronous one only calls main() and
    /// finishes itself later.
    virtual void start();
    virtual void main() {}
    virtual bool isReady() const;
    virtual bool isExecuting() const { return executing_.load(std::memory_order_acquire); }
    virtual bool isFinished() const { return finished_.load(std::memory_order_acquire); }
    virtual bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    virtual bool isAsynchronous() const { return false; }
    /// Marks the operation cancelled; it does not stop work that is running.
    virtual void cancel();

    /// O(1) amortised; adding the same operation twice changes nothing.
    void addDependency(const std::shared_ptr<Operation>& operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;
    bool hasDependencies() const { return dependencyCount_.load(std::memory_order_acquire) > 0; }

    /// Observe the will/did-change notifications of the observable keys.
    std::uint64_t addChangeObserver(ChangeObserver observer);
    void removeChangeObserver(std::uint64_t id);
    void willChangeValueForKey(std::string_view key);
    void didChangeValueForKey(std::string_view key);

    /// Runs once, on the thread that finishes the operation, before dependants are released.
    void setCompletionBlock(std::function<void()> block);
    /// Blocks until the operation has finished; false when the timeout passed first. On a worker of
    /// the shared pool the thread runs queued work meanwhile instead of sleeping.
    [[nodiscard("false means the timeout passed first")]] bool
    waitUntilFinished(std::optional<Clock::duration> timeout = std::nullopt) const;

    std::string name() const;
    void setName(std::string name);

    /// True for joblark::Task and its subclasses (spares a dynamic_cast on the run path).
    bool isTask() const noexcept { return isTask_; }

protected:
    Operation();
    explicit Operation(bool isTask);
    /// For subclasses that keep the built-in flags: the transitions with their notifications.
    void markExecuting();
    void markFinished();
    /// Calls `visit` with each dependency that is still alive, in order, without copying the list.
    /// Only for the operation's own run: the list must not change meanwhile.
    template <class F>
    void forEachDependency(F&& visit) const {
        for (const auto& dependency : dependencies_)
            visit(*dependency);
    }

private:
    friend struct detail::OperationAccess;
    friend struct detail::QueueCore;

    // One entry in a dependency's list of dependants; lives in that dependency (inline for the
    // first, in `moreDependants_` for the rest), so linking allocates nothing in the common case.
    struct DependantLink {
        std::weak_ptr<Operation> dependant;
        DependantLink* next = nullptr;
        // Whoever claims it first (the finishing dependency or removeDependency) counts it down.
        std::atomic<bool> claimed{false};
    };

    void signalFinished();
    void dependencyFinished();
    /// False when this operation already finished (so nothing will count the link down).
    bool linkDependant(const std::shared_ptr<Operation>& dependant);
    void notifyObservers(std::string_view key, ChangePhase phase);

    mutable std::mutex mutex_; // wiring, observers, names; never taken on the run path
    mutable std::condition_variable finishedCondition_;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::unique_ptr<detail::DependencyIndex> dependencyIndex_; // built once the list grows long
    std::atomic<std::size_t> dependencyCount_{0};

    // Lock-free list of dependants; `kClosed` once this operation finished.
    std::atomic<DependantLink*> dependants_{nullptr};
    DependantLink firstDependantLink_;
    bool firstDependantLinkUsed_ = false;
    std::vector<std::unique_ptr<DependantLink>> moreDependants_;

    std::vector<std::pair<std::uint64_t, ChangeObserver>> observers_;
    std::uint64_t nextObserverId_ = 1;
    std::atomic<bool> hasObservers_{false};
    std::function<void()> completionBlock_;
    std::atomic<bool> hasCompletionBlock_{false};
    std::string name_;
    std::atomic<bool> finishedSignalled_{false};
    mutable std::atomic<int> waiters_{0};

    // Unfinished dependencies plus one for "not yet submitted".
    std::atomic<int> pending_{1};
    std::atomic<bool> enqueued_{false};
    // Set when submitted, taken by whoever finishes the operation (or by the submitter when it
    // finished meanwhile): the queue, the batch wait counting this one down, and the references
    // that keep the operation and the queue's bookkeeping alive until then.
    std::atomic<detail::QueueCore*> queue_{nullptr};
    std::atomic<detail::FinishLatch*> latch_{nullptr};
    std::shared_ptr<detail::QueueCore> queueRef_;
    std::shared_ptr<Operation> queueHold_;
    std::shared_ptr<Operation> runHold_; // the runner's reference from dispatch to run

    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
    const bool isTask_ = false;
};

/// An operation that runs a block.
class JOBLARK_EXPORT BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    std::string className() const override { return "Joblark.BlockOperation"; }
    void main() override {
        if (block_)
            block_();
    }

private:
    std::function<void()> block_;
};

} // namespace joblark
