#include "joblark/Foundation/WorkerPool.hpp"

#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <time.h>
#include <vector>

// The shared pool behind every OperationQueue but the main one.
//
// It keeps about one runnable worker per core. A worker that is known to block (a composite waiting
// for its children, a hop to the main thread: BlockingRegion) stops counting at once and a spare
// worker takes its place. A worker that blocks without saying so is found by a monitor that looks
// every couple of milliseconds at workers stuck on one operation while work is waiting, and treats
// one whose thread used little CPU time in that window as blocked. CPU-bound work therefore stays
// near one thread per core, and blocked work is replaced within milliseconds.
//
// A worker that finishes an operation runs the first dependant that became ready on the same thread
// (its hand-off slot) instead of handing it to another thread: a serial chain costs no thread switch.

namespace joblark {
namespace {

using Clock = std::chrono::steady_clock;
using OpPtr = std::shared_ptr<Operation>;

constexpr int kThreadCap = 512;
constexpr auto kIdleRetirement = std::chrono::seconds(10);
constexpr auto kMonitorPeriod = std::chrono::milliseconds(2);
constexpr auto kStallWindow = std::chrono::milliseconds(3);

struct Worker {
    clockid_t cpuClock{};
    // Hand-off slot and a small batch taken from the shared queue in one go: only the owning worker
    // fills them; a worker that blocks gives them back, and the monitor takes them from one that
    // blocks without saying so.
    std::mutex slotMutex;
    OpPtr slot;
    std::deque<OpPtr> batch;

    OpPtr nextLocal() {
        std::lock_guard slotLock(slotMutex);
        if (slot)
            return std::move(slot);
        if (batch.empty())
            return nullptr;
        OpPtr op = std::move(batch.front());
        batch.pop_front();
        return op;
    }
    bool hasLocal() {
        std::lock_guard slotLock(slotMutex);
        return slot || !batch.empty();
    }
    // Moves the local work to the front of `ready`, keeping its order.
    void giveBack(std::deque<OpPtr>& ready) {
        std::lock_guard slotLock(slotMutex);
        for (auto it = batch.rbegin(); it != batch.rend(); ++it)
            ready.push_front(std::move(*it));
        batch.clear();
        if (slot)
            ready.push_front(std::move(slot));
    }
    std::atomic<bool> running{false};     // inside an operation
    std::atomic<std::uint64_t> seq{0};    // operations started
    std::atomic<int> knownDepthMirror{0}; // read by the worker itself without the pool mutex
    std::atomic<bool> presumedMirror{false};

    // Guarded by the pool mutex.
    int knownBlockDepth = 0;
    bool presumedBlocked = false;
    std::uint64_t sampledSeq = ~std::uint64_t{0};
    Clock::time_point sampledAt{};
    std::int64_t sampledCpuNanos = 0;

    bool blocked() const { return knownBlockDepth > 0 || presumedBlocked; }
};

thread_local Worker* tlsWorker = nullptr;

std::int64_t cpuNanos(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return 0;
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

class Pool {
public:
    static Pool& shared() {
        static auto* pool = new Pool; // never destroyed: workers may outlive static destruction
        return *pool;
    }

    void submit(OpPtr op) {
        if (Worker* w = tlsWorker; w && w->running.load(std::memory_order_relaxed) &&
                                   w->knownDepthMirror.load(std::memory_order_relaxed) == 0) {
            std::lock_guard slotLock(w->slotMutex);
            if (!w->slot) {
                w->slot = std::move(op);
                return;
            }
        }
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(op));
        wakeWorkersLocked();
    }

    void submitMany(std::vector<OpPtr>& ops) {
        std::lock_guard lock(mutex_);
        for (auto& op : ops)
            ready_.push_back(std::move(op));
        wakeWorkersLocked();
    }

    void enterBlocking(Worker& w) {
        std::lock_guard lock(mutex_);
        w.giveBack(ready_);
        bool wasBlocked = w.blocked();
        ++w.knownBlockDepth;
        w.knownDepthMirror.store(w.knownBlockDepth, std::memory_order_relaxed);
        if (!wasBlocked)
            ++blocked_;
        wakeWorkersLocked();
    }

    void leaveBlocking(Worker& w) {
        std::lock_guard lock(mutex_);
        --w.knownBlockDepth;
        w.knownDepthMirror.store(w.knownBlockDepth, std::memory_order_relaxed);
        if (!w.blocked())
            --blocked_;
    }

    int threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    int peak() {
        std::lock_guard lock(mutex_);
        return peak_;
    }
    void resetPeak() {
        std::lock_guard lock(mutex_);
        peak_ = threads_;
    }

private:
    Pool() : target_(std::max(1u, std::thread::hardware_concurrency())) {}

    int activeLocked() const { return threads_ - idle_ - blocked_; }

    // Wake or start workers while work waits and fewer than `target_` are runnable.
    void wakeWorkersLocked() {
        std::size_t waiting = ready_.size();
        bool started = false;
        while (waiting > 0 && activeLocked() < target_) {
            if (idle_ > 0) {
                --idle_;
                ++wakeTokens_;
                workCondition_.notify_one();
            } else if (threads_ < kThreadCap) {
                spawnLocked();
                started = true;
            } else {
                break;
            }
            --waiting;
        }
        // Only work left waiting (every runnable worker busy) or a new thread needs the monitor; a
        // sleeping one is not woken for work an idle worker took (in a chain of API tasks that was
        // one needless wake-up per request). It already looks every period while anything runs.
        if (monitorAsleep_ && (waiting > 0 || started))
            monitorCondition_.notify_one();
    }

    void spawnLocked() {
        ++threads_;
        peak_ = std::max(peak_, threads_);
        auto* w = new Worker;
        std::thread([this, w] { workerMain(w); }).detach();
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorMain(); }).detach();
        }
    }

    void workerMain(Worker* w) {
        pthread_getcpuclockid(pthread_self(), &w->cpuClock);
        {
            std::lock_guard lock(mutex_);
            workers_.push_back(w);
        }
        tlsWorker = w;
        for (;;) {
            OpPtr op = w->nextLocal();
            if (!op && !(op = take(*w)))
                break;
            w->seq.fetch_add(1, std::memory_order_relaxed);
            w->running.store(true, std::memory_order_release);
            detail::runOperation(op);
            w->running.store(false, std::memory_order_release);
            op.reset(); // release outside any lock; destructors may submit work
            if (w->presumedMirror.load(std::memory_order_acquire)) {
                std::lock_guard lock(mutex_);
                w->presumedBlocked = false;
                w->presumedMirror.store(false, std::memory_order_release);
                if (!w->blocked())
                    --blocked_;
            }
        }
        tlsWorker = nullptr;
        delete w;
    }

    // Next operation from the shared queue; null when the worker should retire.
    OpPtr take(Worker& w) {
        std::unique_lock lock(mutex_);
        for (;;) {
            // Over the target (a blocked worker came back): let this one rest.
            if (!ready_.empty() && activeLocked() <= target_) {
                OpPtr op = std::move(ready_.front());
                ready_.pop_front();
                // With plenty waiting, take a few more at once (at most half a fair share) to spare
                // the shared lock.
                std::size_t extra =
                    std::min<std::size_t>(ready_.size() / (2 * static_cast<std::size_t>(target_)), 15);
                if (extra > 0) {
                    std::lock_guard slotLock(w.slotMutex);
                    for (std::size_t i = 0; i < extra; ++i) {
                        w.batch.push_back(std::move(ready_.front()));
                        ready_.pop_front();
                    }
                }
                if (!ready_.empty())
                    wakeWorkersLocked();
                return op;
            }
            ++idle_;
            bool woken = workCondition_.wait_for(lock, kIdleRetirement, [&] { return wakeTokens_ > 0; });
            if (woken) {
                --wakeTokens_; // the waker already took us off the idle count
                continue;
            }
            --idle_;
            --threads_;
            std::erase(workers_, &w);
            return nullptr;
        }
    }

    void monitorMain() {
        std::unique_lock lock(mutex_);
        for (;;) {
            // While anything runs, look every period: a worker may sit on a filled hand-off slot.
            bool anyRunning = std::any_of(workers_.begin(), workers_.end(), [](Worker* w) {
                return w->running.load(std::memory_order_acquire);
            });
            if (!anyRunning && ready_.empty()) {
                monitorAsleep_ = true;
                monitorCondition_.wait(lock);
                monitorAsleep_ = false;
            } else
                monitorCondition_.wait_for(lock, kMonitorPeriod);
            if (ready_.empty() && !anySlotFilled())
                continue;
            auto now = Clock::now();
            for (Worker* w : workers_) {
                if (!w->running.load(std::memory_order_acquire))
                    continue;
                if (w->blocked()) {
                    // Work it handed itself after the monitor's last look must not wait for it.
                    if (w->presumedBlocked)
                        w->giveBack(ready_);
                    continue;
                }
                auto seq = w->seq.load(std::memory_order_relaxed);
                auto cpu = cpuNanos(w->cpuClock);
                if (seq != w->sampledSeq) {
                    w->sampledSeq = seq;
                    w->sampledAt = now;
                    w->sampledCpuNanos = cpu;
                    continue;
                }
                auto wall = now - w->sampledAt;
                if (wall < kStallWindow)
                    continue;
                auto wallNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count();
                if ((cpu - w->sampledCpuNanos) * 2 < wallNanos) {
                    w->presumedBlocked = true;
                    w->presumedMirror.store(true, std::memory_order_release);
                    ++blocked_;
                    w->giveBack(ready_);
                } else {
                    w->sampledAt = now;
                    w->sampledCpuNanos = cpu;
                }
            }
            wakeWorkersLocked();
        }
    }

    bool anySlotFilled() {
        return std::any_of(workers_.begin(), workers_.end(), [](Worker* w) { return w->hasLocal(); });
    }

    const int target_;
    std::mutex mutex_;
    std::condition_variable workCondition_;
    std::condition_variable monitorCondition_;
    std::deque<OpPtr> ready_;
    std::vector<Worker*> workers_;
    int threads_ = 0;
    int idle_ = 0;
    int blocked_ = 0;
    int wakeTokens_ = 0;
    int peak_ = 0;
    bool monitorStarted_ = false;
    bool monitorAsleep_ = false;
};

} // namespace

void detail::poolSubmit(std::shared_ptr<Operation> op) {
    Pool::shared().submit(std::move(op));
}
void detail::poolSubmitMany(std::vector<std::shared_ptr<Operation>>& ops) {
    Pool::shared().submitMany(ops);
}

BlockingRegion::BlockingRegion() {
    if (Worker* w = tlsWorker; w && w->running.load(std::memory_order_relaxed)) {
        Pool::shared().enterBlocking(*w);
        active_ = true;
    }
}

BlockingRegion::~BlockingRegion() {
    if (active_)
        Pool::shared().leaveBlocking(*tlsWorker);
}

namespace WorkerPool {
bool isWorkerThread() {
    return tlsWorker != nullptr;
}
int threadCount() {
    return Pool::shared().threads();
}
int peakThreadCount() {
    return Pool::shared().peak();
}
void resetPeakThreadCount() {
    Pool::shared().resetPeak();
}
} // namespace WorkerPool

} // namespace joblark
