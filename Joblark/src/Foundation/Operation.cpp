#include "joblark/Foundation/Operation.hpp"

#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <bit>

namespace joblark {

namespace detail {

/// Open-addressing set of dependency addresses, so that duplicates are found without a scan once
/// an operation has many dependencies (a join of 100,000 would otherwise be quadratic to wire).
class DependencyIndex {
public:
    bool contains(const Operation* op) const {
        for (std::size_t i = slot(op);; i = (i + 1) & mask())
            if (slots_[i] == op)
                return true;
            else if (slots_[i] == nullptr)
                return false;
    }
    void insert(const Operation* op) {
        if ((size_ + 1) * 2 > slots_.size())
            rehash(std::max<std::size_t>(16, slots_.size() * 2));
        place(op);
        ++size_;
    }
    // Erasing from linear probing needs a rebuild of the run; removals are rare, so rebuild all.
    void rebuild(const std::vector<std::shared_ptr<Operation>>& ops) {
        slots_.assign(std::max<std::size_t>(16, std::bit_ceil(ops.size() * 2 + 2)), nullptr);
        size_ = 0;
        for (const auto& op : ops) {
            place(op.get());
            ++size_;
        }
    }

private:
    std::size_t mask() const { return slots_.size() - 1; }
    std::size_t slot(const Operation* op) const {
        auto h = reinterpret_cast<std::uintptr_t>(op);
        h ^= h >> 17;
        h *= 0x9E3779B97F4A7C15ULL;
        return (h >> 20) & mask();
    }
    void place(const Operation* op) {
        std::size_t i = slot(op);
        while (slots_[i] != nullptr)
            i = (i + 1) & mask();
        slots_[i] = op;
    }
    void rehash(std::size_t capacity) {
        std::vector<const Operation*> old(capacity, nullptr);
        old.swap(slots_);
        for (const auto* op : old)
            if (op)
                place(op);
    }
    std::vector<const Operation*> slots_;
    std::size_t size_ = 0;
};

} // namespace detail

namespace {

constexpr std::size_t kIndexThreshold = 8;

// Releasing a chain drops one operation, which drops its dependency, which drops the next: done
// recursively that overflows the stack at tens of thousands. The first destructor on a thread
// collects the dependencies of all the ones it sets off and releases them in a loop.
thread_local std::vector<std::shared_ptr<Operation>>* tlsGraveyard = nullptr;

} // namespace

Operation::Operation() = default;

Operation::Operation(bool isTask) : isTask_(isTask) {}

Operation::~Operation() {
    if (dependencies_.empty())
        return;
    if (tlsGraveyard) {
        for (auto& dependency : dependencies_)
            tlsGraveyard->push_back(std::move(dependency));
        return;
    }
    std::vector<std::shared_ptr<Operation>> graveyard = std::move(dependencies_);
    tlsGraveyard = &graveyard;
    while (!graveyard.empty()) {
        auto last = std::move(graveyard.back());
        graveyard.pop_back();
        last.reset(); // may append the dependencies of `last`
    }
    tlsGraveyard = nullptr;
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
    bool wasExecuting = executing_.load(std::memory_order_acquire);
    if (wasExecuting)
        willChangeValueForKey("isExecuting");
    willChangeValueForKey("isFinished");
    executing_.store(false, std::memory_order_release);
    finished_.store(true, std::memory_order_release);
    if (wasExecuting)
        didChangeValueForKey("isExecuting");
    didChangeValueForKey("isFinished"); // the last use of `this`: finishing may release it
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation.get() == this)
        return;
    {
        std::lock_guard lock(mutex_);
        if (dependencyIndex_
                ? dependencyIndex_->contains(operation.get())
                : std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end())
            return;
        dependencies_.push_back(operation);
        if (dependencyIndex_) {
            dependencyIndex_->insert(operation.get());
        } else if (dependencies_.size() > kIndexThreshold) {
            dependencyIndex_ = std::make_unique<detail::DependencyIndex>();
            dependencyIndex_->rebuild(dependencies_);
        }
        dependencyCount_.store(dependencies_.size(), std::memory_order_release);
    }
    // Count it only while this operation is not yet runnable; once dispatched it is not held back.
    int pending = pending_.load(std::memory_order_acquire);
    while (pending > 0 && !pending_.compare_exchange_weak(pending, pending + 1, std::memory_order_acq_rel))
        ;
    if (pending == 0)
        return;
    if (!operation->linkDependant(std::static_pointer_cast<Operation>(shared_from_this())))
        dependencyFinished(); // it finished already: nothing will count it down
}

bool Operation::linkDependant(const std::shared_ptr<Operation>& dependant) {
    std::lock_guard lock(mutex_);
    auto* closed = reinterpret_cast<DependantLink*>(this); // any non-null address that is no link
    if (dependants_.load(std::memory_order_acquire) == closed)
        return false;
    DependantLink* link;
    if (!firstDependantLinkUsed_) {
        firstDependantLinkUsed_ = true;
        link = &firstDependantLink_;
    } else {
        link = moreDependants_.emplace_back(std::make_unique<DependantLink>()).get();
    }
    link->dependant = dependant;
    // Linkers hold the mutex, so only the finishing thread races with this push.
    DependantLink* head = dependants_.load(std::memory_order_acquire);
    do {
        if (head == closed) {
            link->dependant.reset();
            link->claimed.store(true, std::memory_order_relaxed);
            return false;
        }
        link->next = head;
    } while (!dependants_.compare_exchange_weak(head, link, std::memory_order_acq_rel));
    return true;
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
        if (dependencyIndex_)
            dependencyIndex_->rebuild(dependencies_);
        dependencyCount_.store(dependencies_.size(), std::memory_order_release);
    }
    bool counted = false;
    {
        std::lock_guard lock(operation->mutex_);
        auto* closed = reinterpret_cast<DependantLink*>(operation.get());
        for (auto* link = operation->dependants_.load(std::memory_order_acquire); link && link != closed;
             link = link->next) {
            if (link->dependant.lock().get() == this &&
                !link->claimed.exchange(true, std::memory_order_acq_rel)) {
                counted = true;
                break;
            }
        }
    }
    if (counted)
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

void Operation::notifyObservers(std::string_view key, ChangePhase phase) {
    std::vector<std::pair<std::uint64_t, ChangeObserver>> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    for (auto& [id, observer] : observers)
        observer(*this, key, phase);
}

void Operation::willChangeValueForKey(std::string_view key) {
    if (hasObservers_.load(std::memory_order_acquire))
        notifyObservers(key, ChangePhase::will);
}

void Operation::didChangeValueForKey(std::string_view key) {
    if (hasObservers_.load(std::memory_order_acquire))
        notifyObservers(key, ChangePhase::did);
    if (key == "isFinished" && isFinished())
        signalFinished();
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(block);
    hasCompletionBlock_.store(static_cast<bool>(completionBlock_), std::memory_order_release);
}

bool Operation::waitUntilFinished(std::optional<Clock::duration> timeout) const {
    if (finishedSignalled_.load(std::memory_order_acquire))
        return true;
    std::optional<Clock::time_point> deadline;
    if (timeout)
        deadline = Clock::now() + *timeout;
    waiters_.fetch_add(1, std::memory_order_seq_cst);
    auto finished = [this] { return finishedSignalled_.load(std::memory_order_seq_cst); };
    bool result;
    if (auto helped = detail::poolHelpUntil(finished, deadline)) {
        result = *helped;
    } else {
        std::unique_lock lock(mutex_);
        if (!deadline) {
            finishedCondition_.wait(lock, finished);
            result = true;
        } else {
            result = finishedCondition_.wait_until(lock, *deadline, finished);
        }
    }
    waiters_.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

std::string Operation::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void Operation::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

void Operation::signalFinished() {
    if (finishedSignalled_.exchange(true, std::memory_order_seq_cst))
        return;
    // Whoever finishes us holds a reference until this returns; the queue's goes at the end.
    std::shared_ptr<Operation> queueHold;
    std::shared_ptr<detail::QueueCore> queueRef;
    detail::QueueCore* queue = queue_.exchange(nullptr, std::memory_order_acq_rel);
    if (queue) {
        queueHold = std::move(queueHold_);
        queueRef = std::move(queueRef_);
    }
    if (hasCompletionBlock_.load(std::memory_order_acquire)) {
        std::function<void()> completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(completionBlock_);
        }
        if (completion) {
            try {
                completion();
            } catch (...) {
                Logger::general().error("Completion block of %{PUBLIC}@ threw: %{PUBLIC}@", *this,
                                        currentExceptionAsError());
            }
        }
    }
    auto* closed = reinterpret_cast<DependantLink*>(this);
    DependantLink* link = dependants_.exchange(closed, std::memory_order_acq_rel);
    while (link) {
        DependantLink* next = link->next;
        if (!link->claimed.exchange(true, std::memory_order_acq_rel))
            if (auto dependant = link->dependant.lock())
                if (dependant->pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                    if (auto* q = dependant->queue_.load(std::memory_order_acquire)) {
                        auto& raw = *dependant;
                        detail::OperationAccess::runHold(raw) = std::move(dependant);
                        q->dispatch(raw);
                    }
                }
        link = next;
    }
    if (auto* latch = latch_.exchange(nullptr, std::memory_order_acq_rel))
        detail::countDownSoon(latch, *this);
    if (waiters_.load(std::memory_order_seq_cst) > 0) {
        { std::lock_guard lock(mutex_); }
        finishedCondition_.notify_all();
        detail::poolWakeHelpers();
    }
    if (queue)
        queue->operationFinished();
    // `queueHold` may be the last reference: nothing below may touch `this`.
}

void Operation::dependencyFinished() {
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    auto* queue = queue_.load(std::memory_order_acquire);
    if (!queue)
        return;
    detail::OperationAccess::runHold(*this) = std::static_pointer_cast<Operation>(shared_from_this());
    queue->dispatch(*this);
}

} // namespace joblark
