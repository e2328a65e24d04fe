#include "joblark/Foundation/OperationQueue.hpp"

#include "Immortal.hpp"
#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <atomic>

namespace joblark {

namespace detail {

void FinishLatch::countDown(std::ptrdiff_t n) {
    if (remaining.fetch_sub(n, std::memory_order_seq_cst) != n)
        return;
    std::lock_guard lock(mutex);
    done = true;
    condition.notify_all();
    poolWakeHelpers(); // before the unlock: after it the waiter may already have destroyed us
}

void FinishLatch::wait() {
    if (!reached()) {
        auto helped = poolHelpUntil([this] { return reached(); }, std::nullopt);
        if (!helped) {
            BlockingRegion blocking;
            std::unique_lock lock(mutex);
            condition.wait(lock, [this] { return done; });
            return;
        }
    }
    // Leave through the mutex, so that the last count-down is done with this latch.
    std::unique_lock lock(mutex);
    condition.wait(lock, [this] { return done; });
}

void QueueCore::enqueue(std::size_t n, const std::function<Operation*(std::size_t)>& at, FinishLatch* latch,
                        std::vector<Operation*>& ready, std::vector<std::shared_ptr<Operation>>& elsewhere) {
    std::ptrdiff_t countedNow = 0;
    std::size_t accepted = 0;
    const bool pinned = processLifetime.load(std::memory_order_relaxed);
    std::shared_ptr<QueueCore> self;
    if (!pinned)
        self = shared_from_this();
    for (std::size_t i = 0; i < n; ++i) {
        Operation* op = at(i);
        if (!op) {
            ++countedNow;
            continue;
        }
        if (op->enqueued_.exchange(true, std::memory_order_acq_rel)) {
            Logger::general().error("%{PUBLIC}@ is already in a queue; not adding it again", *op);
            if (latch) {
                ++countedNow;
                elsewhere.push_back(std::static_pointer_cast<Operation>(op->shared_from_this()));
            }
            continue;
        }
        if (op->finishedSignalled_.load(std::memory_order_acquire)) {
            ++countedNow; // one that finished before its turn is never started
            continue;
        }
        auto hold = std::static_pointer_cast<Operation>(op->shared_from_this());
        op->queueHold_ = hold;
        if (!pinned)
            op->queueRef_ = self;
        if (latch)
            op->latch_.store(latch, std::memory_order_release);
        op->queue_.store(this, std::memory_order_seq_cst);
        if (op->finishedSignalled_.load(std::memory_order_seq_cst)) {
            // It finished while we were taking it in; whichever side takes the fields undoes them.
            if (op->queue_.exchange(nullptr, std::memory_order_acq_rel)) {
                op->queueHold_.reset();
                op->queueRef_.reset();
            }
            if (op->latch_.exchange(nullptr, std::memory_order_acq_rel))
                ++countedNow;
            continue;
        }
        ++accepted;
        count.fetch_add(1, std::memory_order_relaxed);
        // The "not yet submitted" count drops only now, so the runnable part of the batch reaches
        // the pool in one hand-off.
        if (op->pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            op->runHold_ = std::move(hold);
            ready.push_back(op);
        }
    }
    if (accepted > 0 && !pinned) {
        std::lock_guard lock(mutex);
        if (members.size() + accepted > pruneAt) {
            std::erase_if(members, [](const auto& weak) {
                auto op = weak.lock();
                return !op || op->isFinished();
            });
            pruneAt = std::max<std::size_t>(64, 2 * (members.size() + accepted));
        }
        for (std::size_t i = 0; i < n; ++i)
            if (Operation* op = at(i); op && op->queue_.load(std::memory_order_relaxed) == this)
                members.push_back(std::static_pointer_cast<Operation>(op->shared_from_this()));
    }
    if (latch && countedNow > 0)
        latch->countDown(countedNow);
}

std::vector<std::shared_ptr<Operation>> QueueCore::snapshot() const {
    std::vector<std::shared_ptr<Operation>> out;
    std::lock_guard lock(mutex);
    for (const auto& weak : members)
        if (auto op = weak.lock(); op && !op->isFinished())
            out.push_back(std::move(op));
    return out;
}

void QueueCore::operationFinished() {
    if (count.fetch_sub(1, std::memory_order_seq_cst) != 1)
        return;
    std::lock_guard lock(mutex);
    if (count.load(std::memory_order_relaxed) == 0) {
        members.clear();
        allFinished.notify_all();
    }
    poolWakeHelpers();
}

void QueueCore::dispatch(Operation& op) {
    if (isMain) {
        auto hold = std::move(OperationAccess::runHold(op));
        MainThread::runAsync([hold = std::move(hold)] { runOperation(*hold); });
        return;
    }
    poolSubmit(&op);
}

void QueueCore::dispatchMany(std::vector<Operation*>& ops) {
    if (isMain) {
        for (auto* op : ops)
            dispatch(*op);
        return;
    }
    poolSubmitMany(ops);
}

void runOperation(Operation& op) {
    if (op.isFinished())
        return;
    try {
        op.start();
    } catch (...) {
        Logger::general().error("%{PUBLIC}@ threw from start(): %{PUBLIC}@", op, currentExceptionAsError());
    }
}

} // namespace detail

using detail::QueueCore;

OperationQueue::OperationQueue() : core_(std::make_shared<QueueCore>(false)) {}

OperationQueue::OperationQueue(MainQueueTag) : core_(std::make_shared<QueueCore>(true)) {}

OperationQueue::OperationQueue(std::string name) : OperationQueue() {
    setName(std::move(name));
}

OperationQueue::~OperationQueue() = default;

OperationQueue& OperationQueue::main() {
    static detail::Immortal<OperationQueue> queue(MainQueueTag{});
    static const bool named = (queue.get().setName("NSOperationQueue Main Queue"), true);
    (void)named;
    return queue.get();
}

void OperationQueue::setProcessLifetime() {
    core_->processLifetime.store(true, std::memory_order_relaxed);
}

std::string OperationQueue::name() const {
    std::lock_guard lock(core_->mutex);
    return core_->name;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard lock(core_->mutex);
    core_->name = std::move(name);
}

int OperationQueue::qualityOfService() const {
    std::lock_guard lock(core_->mutex);
    return core_->qualityOfService;
}

void OperationQueue::setQualityOfService(int qos) {
    std::lock_guard lock(core_->mutex);
    core_->qualityOfService = qos;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    addOperations({std::move(operation)}, false);
}

void OperationQueue::addOperation(std::function<void()> block) {
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                                   bool waitUntilFinished) {
    addOperations(
        operations.size(), [&operations](std::size_t i) { return operations[i].get(); }, waitUntilFinished);
}

void OperationQueue::addOperations(std::size_t count, const std::function<Operation*(std::size_t)>& at,
                                   bool waitUntilFinished) {
    std::optional<detail::FinishLatch> latch;
    if (waitUntilFinished)
        latch.emplace(count);
    // The batch's runnable operations; reused per thread, so a submission allocates nothing.
    thread_local std::vector<Operation*> readyBuffer;
    std::vector<Operation*> ready;
    ready.swap(readyBuffer);
    ready.clear();
    std::vector<std::shared_ptr<Operation>> elsewhere; // already in a queue: waited for one by one
    core_->enqueue(count, at, latch ? &*latch : nullptr, ready, elsewhere);
    if (!ready.empty())
        core_->dispatchMany(ready);
    ready.clear();
    readyBuffer.swap(ready);
    if (latch && count > 0)
        latch->wait();
    for (auto& op : elsewhere)
        (void)op->waitUntilFinished();
}

std::size_t OperationQueue::operationCount() const {
    return core_->count.load(std::memory_order_acquire);
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    return core_->snapshot();
}

void OperationQueue::cancelAllOperations() {
    for (auto& op : operations())
        if (!op->isFinished())
            op->cancel();
}

bool OperationQueue::waitUntilAllOperationsAreFinished(std::optional<Operation::Clock::duration> timeout) {
    auto done = [&] { return core_->count.load(std::memory_order_acquire) == 0; };
    std::optional<Operation::Clock::time_point> deadline;
    if (timeout)
        deadline = Operation::Clock::now() + *timeout;
    if (auto helped = detail::poolHelpUntil(done, deadline))
        return *helped;
    BlockingRegion blocking;
    std::unique_lock lock(core_->mutex);
    if (!deadline) {
        core_->allFinished.wait(lock, done);
        return true;
    }
    return core_->allFinished.wait_until(lock, *deadline, done);
}

} // namespace joblark
