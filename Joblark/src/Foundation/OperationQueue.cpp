#include "joblark/Foundation/OperationQueue.hpp"

#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <atomic>

namespace joblark {

namespace detail {

struct OperationAccess {
    static std::shared_ptr<QueueCore>& queue(Operation& op) { return op.queue_; }
    static std::mutex& mutex(Operation& op) { return op.mutex_; }
    static bool& finishedSignalled(Operation& op) { return op.finishedSignalled_; }
    static std::atomic<int>& pending(Operation& op) { return op.pending_; }
    static std::vector<std::shared_ptr<FinishLatch>>& latches(Operation& op) { return op.latches_; }
};

std::vector<std::shared_ptr<Operation>> QueueCore::enqueue(const std::vector<std::shared_ptr<Operation>>& ops,
                                                           const std::shared_ptr<FinishLatch>& latch) {
    std::vector<std::shared_ptr<Operation>> accepted;
    accepted.reserve(ops.size());
    std::size_t alreadyDone = 0;
    for (const auto& op : ops) {
        if (!op) {
            ++alreadyDone;
            continue;
        }
        std::lock_guard lock(OperationAccess::mutex(*op));
        bool finished = OperationAccess::finishedSignalled(*op);
        if (latch) {
            if (finished)
                ++alreadyDone;
            else
                OperationAccess::latches(*op).push_back(latch);
        }
        if (OperationAccess::queue(*op)) {
            Logger::general().error("%{PUBLIC}@ is already in a queue; not adding it again", *op);
            continue;
        }
        OperationAccess::queue(*op) = shared_from_this();
        if (!finished)
            accepted.push_back(op); // one that finished before its turn is never started
    }
    {
        std::lock_guard lock(mutex);
        for (const auto& op : accepted) {
            if (op->doneInQueue_ || op->listed_)
                continue;
            op->queueHold_ = op;
            op->listed_ = true;
            op->prev_ = tail;
            op->next_ = nullptr;
            if (tail)
                tail->next_ = op.get();
            else
                head = op.get();
            tail = op.get();
            ++count;
        }
    }
    if (latch)
        for (std::size_t i = 0; i < alreadyDone; ++i)
            latch->countDown();
    return accepted;
}

std::vector<std::shared_ptr<Operation>> QueueCore::snapshot() const {
    std::vector<std::shared_ptr<Operation>> out;
    std::lock_guard lock(mutex);
    out.reserve(count);
    for (auto* op = head; op; op = op->next_)
        out.push_back(op->queueHold_);
    return out;
}

void QueueCore::operationFinished(Operation& op) {
    std::shared_ptr<Operation> hold;
    {
        std::lock_guard lock(mutex);
        op.doneInQueue_ = true;
        if (!op.listed_)
            return;
        if (op.prev_)
            op.prev_->next_ = op.next_;
        else
            head = op.next_;
        if (op.next_)
            op.next_->prev_ = op.prev_;
        else
            tail = op.prev_;
        op.prev_ = op.next_ = nullptr;
        op.listed_ = false;
        hold = std::move(op.queueHold_);
        if (--count == 0)
            allFinished.notify_all();
    }
    // `hold` may be the last reference; it is released after the lock.
}

void QueueCore::dispatch(std::shared_ptr<Operation> op) {
    if (isMain) {
        MainThread::runAsync([op = std::move(op)] { runOperation(op); });
        return;
    }
    poolSubmit(std::move(op));
}

void runOperation(const std::shared_ptr<Operation>& op) {
    if (op->isFinished())
        return;
    try {
        op->start();
    } catch (...) {
        Logger::general().error("%{PUBLIC}@ threw from start(): %{PUBLIC}@", *op, currentExceptionAsError());
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
    static auto* queue = [] {
        auto* q = new OperationQueue(MainQueueTag{});
        q->setName("NSOperationQueue Main Queue");
        return q;
    }();
    return *queue;
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
    auto latch = waitUntilFinished ? std::make_shared<detail::FinishLatch>(operations.size()) : nullptr;
    auto accepted = core_->enqueue(operations, latch);
    // The "not yet submitted" counts drop only now, so the runnable part of the batch reaches the
    // pool in one hand-off.
    std::vector<std::shared_ptr<Operation>> ready;
    for (auto& op : accepted)
        if (detail::OperationAccess::pending(*op).fetch_sub(1, std::memory_order_acq_rel) == 1)
            ready.push_back(std::move(op));
    if (core_->isMain) {
        for (auto& op : ready)
            core_->dispatch(std::move(op));
    } else if (!ready.empty()) {
        detail::poolSubmitMany(ready);
    }
    if (!latch)
        return;
    BlockingRegion blocking;
    latch->wait();
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(core_->mutex);
    return core_->count;
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
    BlockingRegion blocking;
    std::unique_lock lock(core_->mutex);
    auto done = [&] { return core_->count == 0; };
    if (!timeout) {
        core_->allFinished.wait(lock, done);
        return true;
    }
    return core_->allFinished.wait_for(lock, *timeout, done);
}

} // namespace joblark
