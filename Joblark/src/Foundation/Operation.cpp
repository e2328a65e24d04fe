#include "joblark/Foundation/Operation.hpp"

#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <algorithm>

namespace joblark {

Operation::Operation() = default;

Operation::~Operation() {
    // Operations that still wait for us would otherwise keep a dead entry.
    std::vector<std::shared_ptr<Operation>> deps;
    {
        std::lock_guard lock(mutex_);
        deps.swap(dependencies_);
    }
    for (auto& dep : deps) {
        std::lock_guard lock(dep->mutex_);
        auto& list = dep->dependants_;
        list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }),
                   list.end());
    }
}

bool Operation::isReady() const {
    std::lock_guard lock(mutex_);
    return std::all_of(dependencies_.begin(), dependencies_.end(),
                       [](const auto& d) { return d->isFinished(); });
}

void Operation::cancel() {
    if (cancelled_.load(std::memory_order_acquire))
        return;
    willChangeValueForKey("isCancelled");
    cancelled_.store(true, std::memory_order_release);
    didChangeValueForKey("isCancelled");
}

void Operation::start() {
    if (isFinished())
        return;
    if (isCancelled()) {
        markFinished();
        return;
    }
    if (isAsynchronous()) {
        main();
        return;
    }
    markExecuting();
    main();
    markFinished();
}

void Operation::markExecuting() {
    willChangeValueForKey("isExecuting");
    executing_.store(true, std::memory_order_release);
    didChangeValueForKey("isExecuting");
}

void Operation::markFinished() {
    auto self = weak_from_this().lock(); // finishing may drop the queue's reference
    bool wasExecuting = executing_.load(std::memory_order_acquire);
    if (wasExecuting)
        willChangeValueForKey("isExecuting");
    willChangeValueForKey("isFinished");
    executing_.store(false, std::memory_order_release);
    finished_.store(true, std::memory_order_release);
    if (wasExecuting)
        didChangeValueForKey("isExecuting");
    didChangeValueForKey("isFinished");
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation.get() == this)
        return;
    {
        std::lock_guard lock(mutex_);
        if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end())
            return;
        dependencies_.push_back(operation);
        dependencyCount_.store(dependencies_.size(), std::memory_order_release);
    }
    std::lock_guard lock(operation->mutex_);
    if (!operation->finishedSignalled_) {
        operation->dependants_.push_back(std::static_pointer_cast<Operation>(weak_from_this().lock()));
        pending_.fetch_add(1, std::memory_order_acq_rel);
    }
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation)
        return;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
        if (it == dependencies_.end())
            return;
        dependencies_.erase(it);
        dependencyCount_.store(dependencies_.size(), std::memory_order_release);
    }
    bool wasWaiting = false;
    {
        std::lock_guard lock(operation->mutex_);
        auto& list = operation->dependants_;
        auto it =
            std::find_if(list.begin(), list.end(), [this](const auto& w) { return w.lock().get() == this; });
        if (it != list.end()) {
            list.erase(it);
            wasWaiting = true;
        }
    }
    if (wasWaiting)
        dependencyFinished();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(mutex_);
    return dependencies_;
}

std::uint64_t Operation::addChangeObserver(ChangeObserver observer) {
    std::lock_guard lock(mutex_);
    auto id = nextObserverId_++;
    observers_.emplace_back(id, std::move(observer));
    hasObservers_.store(true, std::memory_order_release);
    return id;
}

void Operation::removeChangeObserver(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
    hasObservers_.store(!observers_.empty(), std::memory_order_release);
}

void Operation::willChangeValueForKey(std::string_view key) {
    if (!hasObservers_.load(std::memory_order_acquire))
        return;
    std::vector<std::pair<std::uint64_t, ChangeObserver>> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    for (auto& [id, observer] : observers)
        observer(*this, key, ChangePhase::will);
}

void Operation::didChangeValueForKey(std::string_view key) {
    if (hasObservers_.load(std::memory_order_acquire)) {
        std::vector<std::pair<std::uint64_t, ChangeObserver>> observers;
        {
            std::lock_guard lock(mutex_);
            observers = observers_;
        }
        for (auto& [id, observer] : observers)
            observer(*this, key, ChangePhase::did);
    }
    if (key == "isFinished" && isFinished())
        signalFinished();
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(block);
}

bool Operation::waitUntilFinished(std::optional<Clock::duration> timeout) const {
    {
        std::lock_guard lock(mutex_);
        if (finishedSignalled_)
            return true;
    }
    BlockingRegion blocking;
    std::unique_lock lock(mutex_);
    ++waiters_;
    bool finished = true;
    if (!timeout)
        finishedCondition_.wait(lock, [&] { return finishedSignalled_; });
    else
        finished = finishedCondition_.wait_for(lock, *timeout, [&] { return finishedSignalled_; });
    --waiters_;
    return finished;
}

std::string Operation::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void Operation::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

void detail::attachLatch(Operation& op, const std::shared_ptr<FinishLatch>& latch) {
    {
        std::lock_guard lock(op.mutex_);
        if (!op.finishedSignalled_) {
            op.latches_.push_back(latch);
            return;
        }
    }
    latch->countDown();
}

void Operation::signalFinished() {
    std::vector<std::weak_ptr<Operation>> dependants;
    std::vector<std::shared_ptr<detail::FinishLatch>> latches;
    std::function<void()> completion;
    std::shared_ptr<detail::QueueCore> queue;
    {
        std::lock_guard lock(mutex_);
        if (finishedSignalled_)
            return;
        finishedSignalled_ = true;
        dependants.swap(dependants_);
        latches.swap(latches_);
        // Whoever finishes us holds a reference until this returns, so waking waiters early is safe.
        if (waiters_ > 0)
            finishedCondition_.notify_all();
        completion = std::move(completionBlock_);
        queue = queue_;
    }
    if (completion) {
        try {
            completion();
        } catch (...) {
            Logger::general().error("Completion block of %{PUBLIC}@ threw: %{PUBLIC}@", *this,
                                    currentExceptionAsError());
        }
    }
    for (auto& weak : dependants)
        if (auto dependant = weak.lock())
            dependant->dependencyFinished();
    for (auto& latch : latches)
        latch->countDown();
    if (queue)
        queue->operationFinished(*this);
}

void Operation::dependencyFinished() {
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    std::shared_ptr<detail::QueueCore> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_;
    }
    if (queue)
        queue->dispatch(std::static_pointer_cast<Operation>(shared_from_this()));
}

} // namespace joblark
