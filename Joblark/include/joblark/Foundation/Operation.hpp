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
JOBLARK_EXPORT void attachLatch(Operation& op, const std::shared_ptr<FinishLatch>& latch);
} // namespace detail

/// A unit of work with dependencies, run by an OperationQueue (or started by hand).
///
/// Dependencies are counted: each operation keeps the number of its unfinished dependencies and
/// becomes runnable when that reaches zero and it has been added to a queue. A dependency counts as
/// finished when the did-change notification of "isFinished" is sent while isFinished() is true —
/// whatever queue it ran on, or none.
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

    /// Adding a dependency after the operation was submitted and became runnable has no effect.
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
    /// Blocks until the operation has finished; false when the timeout passed first.
    bool waitUntilFinished(std::optional<Clock::duration> timeout = std::nullopt) const;

    std::string name() const;
    void setName(std::string name);

protected:
    Operation();
    /// For subclasses that keep the built-in flags: the transitions with their notifications.
    void markExecuting();
    void markFinished();

private:
    friend struct detail::OperationAccess;
    friend struct detail::QueueCore;
    friend void detail::attachLatch(Operation& op, const std::shared_ptr<detail::FinishLatch>& latch);

    void signalFinished();
    void dependencyFinished();

    mutable std::mutex mutex_;
    mutable std::condition_variable finishedCondition_;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::atomic<std::size_t> dependencyCount_{0};
    std::vector<std::weak_ptr<Operation>> dependants_;
    std::vector<std::pair<std::uint64_t, ChangeObserver>> observers_;
    std::uint64_t nextObserverId_ = 1;
    std::atomic<bool> hasObservers_{false};
    std::function<void()> completionBlock_;
    std::vector<std::shared_ptr<detail::FinishLatch>> latches_; // batch waits counting this one down
    std::string name_;
    bool finishedSignalled_ = false;
    mutable int waiters_ = 0;

    // Unfinished dependencies plus one for "not yet submitted".
    std::atomic<int> pending_{1};
    std::shared_ptr<detail::QueueCore> queue_;

    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};

    // Membership in the queue's list of operations; guarded by the queue's mutex.
    Operation* prev_ = nullptr;
    Operation* next_ = nullptr;
    std::shared_ptr<Operation> queueHold_;
    bool listed_ = false;
    bool doneInQueue_ = false;
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
