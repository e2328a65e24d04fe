#include "joblark/Foundation/WorkerPool.hpp"

#include "Immortal.hpp"
#include "QueueCore.hpp"
#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

// The shared pool behind every OperationQueue but the main one.
//
// It keeps about one runnable worker per core. Each worker has a hand-off slot and a deque of its
// own: the first dependant an operation releases goes to the slot and runs next on the same thread
// (a serial chain costs no thread switch and no lock), further ones go to the deque, from which
// idle workers steal. Work submitted from outside the pool goes to one shared queue.
//
// A waiting call made on a worker (a composite waiting for its children, waitUntilFinished) does
// not park the thread: it runs queued work, its own first, until what it waits for is done, and
// only sleeps, counted as idle, when there is nothing to run. Nesting depth and breadth are then
// bounded by memory, not threads. Only blocking that is not a wait for other pool work earns a
// replacement: a declared one (BlockingRegion: a hop to the main thread, a retry delay) at once,
// an unannounced one (sleep, blocking I/O) through a monitor that looks every couple of
// milliseconds at workers stuck on one operation while work is waiting, and treats one whose
// thread used little CPU time in that window as blocked.

namespace joblark {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreadCap = 512;
constexpr auto kIdleRetirement = std::chrono::seconds(10);
constexpr auto kMonitorPeriod = std::chrono::milliseconds(2);
constexpr auto kStallWindow = std::chrono::milliseconds(3);
// A helper runs other work on its own stack; past this depth it waits instead (and is replaced),
// so that a long run of unrelated waiting work cannot overflow the stack.
constexpr int kMaxHelpDepth = 96;

/// A fixed-size work-stealing deque (Chase and Lev): the owner pushes and pops at the bottom
/// without locking, others steal from the top. When it is full, work goes to the shared queue.
class WorkDeque {
public:
    bool push(Operation* op) {
        auto b = bottom_.load(std::memory_order_relaxed);
        auto t = top_.load(std::memory_order_acquire);
        if (b - t >= static_cast<std::int64_t>(kCapacity))
            return false;
        slots_[static_cast<std::size_t>(b) & kMask].store(op, std::memory_order_relaxed);
        bottom_.store(b + 1, std::memory_order_seq_cst);
        return true;
    }
    Operation* pop() {
        auto b = bottom_.load(std::memory_order_relaxed) - 1;
        bottom_.store(b, std::memory_order_seq_cst);
        auto t = top_.load(std::memory_order_seq_cst);
        if (t > b) {
            bottom_.store(b + 1, std::memory_order_relaxed);
            return nullptr;
        }
        Operation* op = slots_[static_cast<std::size_t>(b) & kMask].load(std::memory_order_relaxed);
        if (t == b) {
            if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst))
                op = nullptr;
            bottom_.store(b + 1, std::memory_order_relaxed);
        }
        return op;
    }
    Operation* steal() {
        for (;;) {
            auto t = top_.load(std::memory_order_seq_cst);
            auto b = bottom_.load(std::memory_order_seq_cst);
            if (t >= b)
                return nullptr;
            Operation* op = slots_[static_cast<std::size_t>(t) & kMask].load(std::memory_order_relaxed);
            if (top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst))
                return op;
        }
    }
    bool empty() const {
        return bottom_.load(std::memory_order_seq_cst) <= top_.load(std::memory_order_seq_cst);
    }

private:
    static constexpr std::size_t kCapacity = 1024;
    static constexpr std::size_t kMask = kCapacity - 1;
    alignas(64) std::atomic<std::int64_t> top_{0};
    alignas(64) std::atomic<std::int64_t> bottom_{0};
    std::array<std::atomic<Operation*>, kCapacity> slots_{};
};

struct Worker {
    std::thread thread;
    clockid_t cpuClock{};
    pid_t tid = 0;
    std::atomic<Operation*> slot{nullptr}; // filled by the owner only; emptied by it or the monitor
    WorkDeque deque;

    std::atomic<int> runDepth{0};         // operations on this thread's stack
    std::atomic<std::uint64_t> seq{0};    // operations started
    std::atomic<int> knownDepthMirror{0}; // read by the worker itself without the pool mutex
    std::atomic<bool> presumedMirror{false};
    std::atomic<bool> parked{false}; // a helper with nothing to run, counted as idle
    bool retired = false;            // guarded by the pool mutex

    // Guarded by the pool mutex.
    int knownBlockDepth = 0;
    bool presumedBlocked = false;
    std::uint64_t sampledSeq = ~std::uint64_t{0};
    Clock::time_point sampledAt{};
    std::int64_t sampledCpuNanos = 0;

    bool blocked() const { return knownBlockDepth > 0 || presumedBlocked; }
    bool acceptsLocalWork() const {
        return runDepth.load(std::memory_order_relaxed) > 0 &&
               knownDepthMirror.load(std::memory_order_relaxed) == 0 &&
               !presumedMirror.load(std::memory_order_relaxed);
    }
    Operation* nextLocal() {
        if (slot.load(std::memory_order_relaxed))
            if (Operation* op = slot.exchange(nullptr, std::memory_order_acq_rel))
                return op;
        return deque.pop();
    }
    bool hasLocal() const { return slot.load(std::memory_order_acquire) || !deque.empty(); }
};

thread_local Worker* tlsWorker = nullptr;
thread_local int tlsHelpDepth = 0;
thread_local const Operation* tlsRunning = nullptr; // the innermost operation this worker runs
// The slot holds a dependant waited for by the same batch wait as the operation that released it.
thread_local bool tlsSlotSameBatch = false;
// Batch waits whose count-down waits until this worker has let go of the finished operation.
// Consecutive ones for the same latch are counted down together.
thread_local std::vector<std::pair<detail::FinishLatch*, std::ptrdiff_t>> tlsDeferredLatches;
constexpr std::size_t kMaxDeferred = 64;

// The thread's scheduler state from /proc: 'R' runnable, 'S'/'D' asleep in the kernel.
bool isSleeping(pid_t tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", static_cast<int>(tid));
    std::FILE* file = std::fopen(path, "re");
    if (!file)
        return true; // cannot tell: trust the CPU-time measure
    char buffer[512];
    std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[length] = '\0';
    // "tid (name) S ...": the name may contain spaces and parentheses, so look after the last ')'.
    const char* close = std::strrchr(buffer, ')');
    if (!close || close[1] != ' ')
        return true;
    return close[2] != 'R';
}

std::int64_t cpuNanos(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return 0;
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

void flushDeferredLatches() {
    while (!tlsDeferredLatches.empty()) {
        auto [latch, n] = tlsDeferredLatches.back();
        tlsDeferredLatches.pop_back();
        latch->countDown(n);
    }
}

// Owner-only counters: a plain load and store, not a locked read-modify-write.
template <class T>
void bump(std::atomic<T>& counter, T delta) {
    counter.store(counter.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

class Pool {
public:
    static Pool& shared() {
        static detail::Immortal<Pool> pool;
        return pool.get();
    }

    Pool() : target_(static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))) {}

    void submit(Operation* op) {
        if (Worker* w = tlsWorker; w && w->acceptsLocalWork()) {
            if (!w->slot.load(std::memory_order_relaxed)) {
                auto* latch = tlsRunning ? detail::OperationAccess::latch(*tlsRunning) : nullptr;
                tlsSlotSameBatch = latch && latch == detail::OperationAccess::latch(*op);
                w->slot.store(op, std::memory_order_release);
                if (!monitorAsleep_.load(std::memory_order_relaxed))
                    return;
                // The monitor must keep looking in case this worker blocks before it runs `op`.
                std::lock_guard lock(mutex_);
                monitorCondition_.notify_one();
                return;
            }
            if (w->deque.push(op)) {
                if (idle_.load(std::memory_order_seq_cst) > 0)
                    wakeOne();
                return;
            }
        }
        std::lock_guard lock(mutex_);
        ready_.push_back(op);
        wakeWorkersLocked();
    }

    void submitMany(std::vector<Operation*>& ops) {
        if (ops.empty())
            return;
        if (Worker* w = tlsWorker; w && w->acceptsLocalWork()) {
            std::size_t i = 0;
            for (; i < ops.size(); ++i)
                if (!w->deque.push(ops[i]))
                    break;
            if (i == ops.size()) {
                if (idle_.load(std::memory_order_seq_cst) > 0 && ops.size() > 1)
                    wakeOne();
                else if (monitorAsleep_.load(std::memory_order_relaxed)) {
                    std::lock_guard lock(mutex_);
                    monitorCondition_.notify_one();
                }
                return;
            }
            std::lock_guard lock(mutex_);
            ready_.insert(ready_.end(), ops.begin() + static_cast<std::ptrdiff_t>(i), ops.end());
            wakeWorkersLocked();
            return;
        }
        std::lock_guard lock(mutex_);
        ready_.insert(ready_.end(), ops.begin(), ops.end());
        wakeWorkersLocked();
    }

    void enterBlocking(Worker& w) {
        std::lock_guard lock(mutex_);
        giveBackLocked(w);
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

    bool helpUntil(Worker& w, const std::function<bool()>& done, std::optional<Clock::time_point> deadline) {
        struct DepthGuard {
            DepthGuard() { ++tlsHelpDepth; }
            ~DepthGuard() { --tlsHelpDepth; }
        } depthGuard;
        const bool mayRun = tlsHelpDepth <= kMaxHelpDepth;
        for (;;) {
            flushDeferredLatches();
            if (done())
                return true;
            if (deadline && Clock::now() >= *deadline)
                return false;
            if (mayRun) {
                Operation* op = w.nextLocal();
                if (!op)
                    op = takeShared(w, false);
                if (op) {
                    runOne(w, op);
                    continue;
                }
            }
            std::unique_lock lock(mutex_);
            if (!mayRun) {
                // Too deep to run more here: wait like a blocked worker, so the pool replaces us.
                giveBackLocked(w);
                bool wasBlocked = w.blocked();
                ++w.knownBlockDepth;
                w.knownDepthMirror.store(w.knownBlockDepth, std::memory_order_relaxed);
                if (!wasBlocked)
                    ++blocked_;
                wakeWorkersLocked();
                parkedHelpers_.fetch_add(1, std::memory_order_seq_cst);
                auto ready = [&] { return done(); };
                if (deadline)
                    workCondition_.wait_until(lock, *deadline, ready);
                else
                    workCondition_.wait(lock, ready);
                parkedHelpers_.fetch_sub(1, std::memory_order_seq_cst);
                --w.knownBlockDepth;
                w.knownDepthMirror.store(w.knownBlockDepth, std::memory_order_relaxed);
                if (!w.blocked())
                    --blocked_;
                continue;
            }
            idle_.fetch_add(1, std::memory_order_seq_cst);
            parkedHelpers_.fetch_add(1, std::memory_order_seq_cst);
            w.parked.store(true, std::memory_order_release);
            auto woken = [&] { return wakeTokens_ > 0 || done() || anyWorkLocked(); };
            bool tokenOrWork;
            if (deadline)
                tokenOrWork = workCondition_.wait_until(lock, *deadline, woken);
            else {
                workCondition_.wait(lock, woken);
                tokenOrWork = true;
            }
            w.parked.store(false, std::memory_order_release);
            parkedHelpers_.fetch_sub(1, std::memory_order_seq_cst);
            if (tokenOrWork && wakeTokens_ > 0)
                --wakeTokens_; // the waker already took us off the idle count
            else
                idle_.fetch_sub(1, std::memory_order_seq_cst);
        }
    }

    void wakeHelpers() {
        if (parkedHelpers_.load(std::memory_order_seq_cst) == 0)
            return;
        { std::lock_guard lock(mutex_); }
        workCondition_.notify_all();
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
    int activeLocked() const { return threads_ - idle_.load(std::memory_order_relaxed) - blocked_; }

    bool anyWorkLocked() const {
        if (!ready_.empty())
            return true;
        return std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return !w->deque.empty(); });
    }

    void wakeOne() {
        std::lock_guard lock(mutex_);
        if (idle_.load(std::memory_order_relaxed) > 0 && activeLocked() < target_) {
            idle_.fetch_sub(1, std::memory_order_relaxed);
            ++wakeTokens_;
            workCondition_.notify_one();
        }
    }

    // Wake or start workers while work waits and fewer than `target_` are runnable.
    void wakeWorkersLocked() {
        std::size_t waiting = ready_.size();
        bool started = false;
        while (waiting > 0 && activeLocked() < target_) {
            if (idle_.load(std::memory_order_relaxed) > 0) {
                idle_.fetch_sub(1, std::memory_order_relaxed);
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
        // Only work left waiting (every runnable worker busy) or a new thread needs the monitor.
        if (monitorAsleep_.load(std::memory_order_relaxed) && (waiting > 0 || started))
            monitorCondition_.notify_one();
    }

    void spawnLocked() {
        ++threads_;
        peak_ = std::max(peak_, threads_);
        reapRetiredLocked();
        auto& w = workers_.emplace_back(std::make_unique<Worker>());
        w->thread = std::thread([this, raw = w.get()] { workerMain(*raw); });
        if (!monitor_.joinable())
            monitor_ = std::thread([this] { monitorMain(); });
    }

    void reapRetiredLocked() {
        for (auto& w : retired_)
            if (w->thread.joinable())
                w->thread.join(); // it has left workerMain; joining is immediate
        retired_.clear();
    }

    // Moves the worker's local work to the front of the shared queue, keeping its order.
    void giveBackLocked(Worker& w) {
        std::vector<Operation*> local;
        while (Operation* op = w.deque.steal())
            local.push_back(op);
        for (auto it = local.rbegin(); it != local.rend(); ++it)
            ready_.push_front(*it);
        if (Operation* op = w.slot.exchange(nullptr, std::memory_order_acq_rel))
            ready_.push_front(op);
    }

    void runOne(Worker& w, Operation* op) {
        auto hold = std::move(detail::OperationAccess::runHold(*op));
        bump(w.seq, std::uint64_t{1});
        bump(w.runDepth, 1);
        const Operation* outer = std::exchange(tlsRunning, op);
        detail::runOperation(*op);
        tlsRunning = outer;
        bump(w.runDepth, -1);
        hold.reset(); // before the waiters hear of it: the last reference is theirs to drop
        // Along a chain waited for as one batch, the count-downs are made together when the chain
        // leaves this worker (or every few dozen operations); otherwise at once.
        bool chainGoesOn = tlsSlotSameBatch && w.slot.load(std::memory_order_relaxed) != nullptr;
        tlsSlotSameBatch = false;
        if (!chainGoesOn || tlsDeferredLatches.size() >= kMaxDeferred || tlsHelpDepth > 0)
            flushDeferredLatches();
        if (w.presumedMirror.load(std::memory_order_acquire) &&
            w.runDepth.load(std::memory_order_relaxed) == 0) {
            std::lock_guard lock(mutex_);
            w.presumedBlocked = false;
            w.presumedMirror.store(false, std::memory_order_release);
            if (!w.blocked())
                --blocked_;
        }
    }

    void workerMain(Worker& w) {
        pthread_getcpuclockid(pthread_self(), &w.cpuClock);
        w.tid = static_cast<pid_t>(syscall(SYS_gettid));
        tlsWorker = &w;
        for (;;) {
            Operation* op = w.nextLocal();
            if (!op)
                op = takeShared(w, true);
            if (!op)
                break;
            runOne(w, op);
        }
        tlsWorker = nullptr;
    }

    Operation* stealLocked() {
        for (auto& other : workers_)
            if (Operation* op = other->deque.steal())
                return op;
        return nullptr;
    }

    // Next operation from the shared queue or another worker's deque. A top-level worker waits for
    // one (null when it should retire); a helper returns null at once.
    Operation* takeShared(Worker& w, bool waitForWork) {
        std::unique_lock lock(mutex_);
        for (;;) {
            // Over the target (a blocked worker came back): let this one rest.
            if (activeLocked() <= target_ || !waitForWork) {
                if (!ready_.empty()) {
                    Operation* op = ready_.front();
                    ready_.pop_front();
                    // With plenty waiting, take a few more at once (at most half a fair share) to
                    // spare the shared lock; others steal them back if they run dry.
                    std::size_t extra =
                        std::min<std::size_t>(ready_.size() / (2 * static_cast<std::size_t>(target_)), 64);
                    for (std::size_t i = 0; i < extra && w.deque.push(ready_.back()); ++i)
                        ready_.pop_back();
                    if (!ready_.empty())
                        wakeWorkersLocked();
                    return op;
                }
                if (Operation* op = stealLocked())
                    return op;
            }
            if (!waitForWork)
                return nullptr;
            idle_.fetch_add(1, std::memory_order_seq_cst);
            if (anyWorkLocked()) { // a push that saw no idle worker before our count went up
                idle_.fetch_sub(1, std::memory_order_seq_cst);
                if (activeLocked() <= target_)
                    continue;
                idle_.fetch_add(1, std::memory_order_seq_cst);
            }
            bool woken = workCondition_.wait_for(lock, kIdleRetirement, [&] { return wakeTokens_ > 0; });
            if (woken) {
                --wakeTokens_; // the waker already took us off the idle count
                continue;
            }
            idle_.fetch_sub(1, std::memory_order_seq_cst);
            --threads_;
            w.retired = true;
            auto it =
                std::find_if(workers_.begin(), workers_.end(), [&](const auto& p) { return p.get() == &w; });
            retired_.push_back(std::move(*it));
            workers_.erase(it);
            monitorCondition_.notify_one(); // the monitor joins the thread once it has left
            return nullptr;
        }
    }

    void monitorMain() {
        std::unique_lock lock(mutex_);
        for (;;) {
            reapRetiredLocked();
            // While anything runs, look every period: a worker may sit on a filled hand-off slot.
            bool anyRunning = std::any_of(workers_.begin(), workers_.end(), [](const auto& w) {
                return w->runDepth.load(std::memory_order_acquire) > 0 &&
                       !w->parked.load(std::memory_order_acquire);
            });
            if (!anyRunning && ready_.empty() && retired_.empty()) {
                monitorAsleep_.store(true, std::memory_order_relaxed);
                monitorCondition_.wait(lock);
                monitorAsleep_.store(false, std::memory_order_relaxed);
            } else {
                monitorCondition_.wait_for(lock, kMonitorPeriod);
            }
            if (ready_.empty() && !anyLocalWorkLocked())
                continue;
            auto now = Clock::now();
            for (auto& wp : workers_) {
                Worker* w = wp.get();
                if (w->runDepth.load(std::memory_order_acquire) == 0 ||
                    w->parked.load(std::memory_order_acquire))
                    continue;
                if (w->blocked()) {
                    // Work it handed itself after the monitor's last look must not wait for it.
                    if (w->presumedBlocked)
                        giveBackLocked(*w);
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
                // Little CPU time can also mean the thread was runnable but preempted (a busy shared
                // machine): only a thread the kernel has put to sleep counts as blocked.
                if ((cpu - w->sampledCpuNanos) * 2 < wallNanos && isSleeping(w->tid)) {
                    w->presumedBlocked = true;
                    w->presumedMirror.store(true, std::memory_order_release);
                    ++blocked_;
                    giveBackLocked(*w);
                } else {
                    w->sampledAt = now;
                    w->sampledCpuNanos = cpu;
                }
            }
            wakeWorkersLocked();
        }
    }

    bool anyLocalWorkLocked() const {
        return std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->hasLocal(); });
    }

    const int target_;
    std::mutex mutex_;
    std::condition_variable workCondition_;
    std::condition_variable monitorCondition_;
    std::deque<Operation*> ready_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::unique_ptr<Worker>> retired_;
    std::thread monitor_;
    int threads_ = 0;
    std::atomic<int> idle_{0}; // written under the mutex; read without it by pushers
    int blocked_ = 0;
    int wakeTokens_ = 0;
    int peak_ = 0;
    std::atomic<int> parkedHelpers_{0};
    std::atomic<bool> monitorAsleep_{false};
};

} // namespace

void detail::poolSubmit(Operation* op) {
    Pool::shared().submit(op);
}
void detail::poolSubmitMany(std::vector<Operation*>& ops) {
    Pool::shared().submitMany(ops);
}

std::optional<bool> detail::poolHelpUntil(const std::function<bool()>& done,
                                          std::optional<std::chrono::steady_clock::time_point> deadline) {
    Worker* w = tlsWorker;
    if (!w || w->runDepth.load(std::memory_order_relaxed) == 0 ||
        w->knownDepthMirror.load(std::memory_order_relaxed) > 0)
        return std::nullopt;
    return Pool::shared().helpUntil(*w, done, deadline);
}

void detail::poolWakeHelpers() {
    Pool::shared().wakeHelpers();
}

void detail::countDownSoon(FinishLatch* latch, const Operation& finished) {
    // Only for the operation this worker is running: one finished from inside another is counted
    // at once, since the worker may go on to block on what the waiter would do next.
    if (tlsWorker && tlsRunning == &finished) {
        if (!tlsDeferredLatches.empty() && tlsDeferredLatches.back().first == latch)
            ++tlsDeferredLatches.back().second;
        else
            tlsDeferredLatches.emplace_back(latch, 1);
        return;
    }
    latch->countDown();
}

BlockingRegion::BlockingRegion() {
    if (Worker* w = tlsWorker; w && w->runDepth.load(std::memory_order_relaxed) > 0) {
        flushDeferredLatches(); // whoever waits for them may be what this thread is about to wait for
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
