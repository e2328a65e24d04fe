#include "joblark/Foundation/RunLoop.hpp"

#include "RunLoopAccess.hpp"
#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <thread>

namespace joblark {

using Clock = RunLoop::Clock;

namespace {

enum class Step { idle, skipped, ran };

void logUncaught(const char* where) {
    auto error = currentExceptionAsError();
    Logger::general().error("RunLoop: uncaught exception in %{PUBLIC}@: %{PUBLIC}@", where, error);
}

Clock::duration repeatStep(double interval) {
    // A repeating timer needs a positive step, or it would be due again at once, forever.
    auto seconds = std::max(interval, 0.0001);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

struct RunLoop::Impl {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
    // Equal fire dates keep the order the timers were added in (multimap inserts at the upper bound).
    std::multimap<Clock::time_point, std::shared_ptr<Timer>> timers;
    // Written under the mutex so a waiting loop cannot miss it; read without it between items.
    std::atomic<bool> stopRequested{false};
    // Bumped under the mutex by wakeUp(), stop() and timer changes, so a waiting loop notices a wake-up
    // that carries no work and re-evaluates its condition and its next timer date.
    std::atomic<std::uint64_t> generation{0};
    std::atomic<std::thread::id> owner{};
    // The main loop is serviced by whatever thread MainThread designates, which can change.
    bool followsMainThread = false;
    std::weak_ptr<RunLoop> self;
    // Shared, so a poster copies a pointer under the lock and calls the hook after releasing it.
    std::shared_ptr<const std::function<void()>> wakeHook;

    void bumpLocked() {
        generation.fetch_add(1, std::memory_order_release);
        wake.notify_all();
    }

    bool hasDueLocked(Clock::time_point now) const {
        return !work.empty() || (!timers.empty() && timers.begin()->first <= now);
    }

    Step serviceTimer(Clock::time_point now) {
        std::unique_lock lock(mutex);
        if (timers.empty() || timers.begin()->first > now)
            return Step::idle;
        auto timer = std::move(timers.begin()->second);
        timers.erase(timers.begin());
        lock.unlock();
        return fire(timer);
    }

    Step serviceWork() {
        std::unique_lock lock(mutex);
        if (work.empty())
            return Step::idle;
        auto item = std::move(work.front());
        work.pop_front();
        lock.unlock();
        try {
            item();
        } catch (...) {
            logUncaught("a work item");
        }
        return Step::ran; // `item` is destroyed here, outside the lock: its captures may post again
    }

    // Timers first: a repeating timer is always moved past "now", so it cannot starve the work queue.
    Step serviceOne(Clock::time_point now) {
        auto step = serviceTimer(now);
        return step == Step::idle ? serviceWork() : step;
    }

    Step fire(const std::shared_ptr<Timer>& timer) {
        // Invalidation normally removes the timer; this catches one invalidated while being re-queued.
        if (!timer->isValid())
            return Step::skipped;
        try {
            RunLoopAccess::runBlock(*timer);
        } catch (...) {
            logUncaught("a timer block");
        }
        if (!timer->repeats()) {
            RunLoopAccess::finish(*timer);
            return Step::ran;
        }
        // Stay on the interval grid; steps missed while the loop was busy are skipped, not replayed.
        auto step = repeatStep(timer->timeInterval());
        auto due = timer->fireDate();
        auto next = due + step;
        if (auto now = Clock::now(); next <= now)
            next = due + ((now - due) / step + 1) * step;
        std::lock_guard lock(mutex);
        // Checked under the lock, which invalidate() takes after clearing the flag: no stale re-insert.
        if (timer->isValid()) {
            RunLoopAccess::setFireDate(*timer, next);
            timers.emplace(next, timer);
        }
        return Step::ran;
    }

    // The one loop behind run() and runUntil(): services items and timers, and sleeps on the condition
    // variable until the next timer, new work, a wake-up, stop() or the deadline.
    bool run(const std::function<bool()>* done, std::optional<Clock::time_point> deadline, bool honourStop) {
        for (;;) {
            // Read before `done`: a wakeUp() that follows a change `done` missed then shows as a new
            // generation.
            auto seen = generation.load(std::memory_order_acquire);
            if (done && (*done)())
                return true;
            auto now = Clock::now();
            if (deadline && now >= *deadline)
                return done && (*done)();
            if (honourStop && stopRequested.exchange(false))
                return false;
            if (serviceOne(now) != Step::idle)
                continue;

            std::unique_lock lock(mutex);
            if ((honourStop && stopRequested) || hasDueLocked(Clock::now()))
                continue;
            auto wakeAt = deadline;
            if (!timers.empty())
                wakeAt = std::min(wakeAt.value_or(Clock::time_point::max()), timers.begin()->first);
            // A far-off date (time_point::max() included) is "no time-out": spares the clock conversion.
            if (wakeAt && *wakeAt - now > std::chrono::hours(24 * 365))
                wakeAt.reset();
            auto woken = [&] {
                return generation.load(std::memory_order_relaxed) != seen || !work.empty() ||
                       (honourStop && stopRequested);
            };
            if (wakeAt)
                wake.wait_until(lock, *wakeAt, woken);
            else
                wake.wait(lock, woken);
        }
    }
};

namespace {

// RunLoop::current() of this thread when it is neither the main thread nor a pool worker.
thread_local std::shared_ptr<RunLoop> threadLoop;

bool servicedHere(const RunLoop& loop, const char* what) {
    if (loop.isCurrent())
        return true;
    // Two threads servicing one loop would break the order of its items.
    Logger::general().error("RunLoop: %{PUBLIC}@ called on a thread that does not own the loop; ignored",
                            what);
    return false;
}

} // namespace

std::shared_ptr<RunLoop> RunLoopAccess::make() {
    // RunLoop's constructor is private; a local class here shares this friend's access to it.
    struct Enabler : RunLoop {};
    std::shared_ptr<RunLoop> loop = std::make_shared<Enabler>();
    loop->impl_->self = loop;
    return loop;
}

void RunLoopAccess::bindToCurrentThread(const std::shared_ptr<RunLoop>& loop) {
    loop->impl_->owner.store(std::this_thread::get_id(), std::memory_order_release);
    threadLoop = loop;
}

void RunLoopAccess::removeTimer(RunLoop& loop, const Timer& timer) {
    std::shared_ptr<Timer> dropped; // released after the lock: its block may own arbitrary state
    std::lock_guard lock(loop.impl_->mutex);
    auto& timers = loop.impl_->timers;
    auto it =
        std::find_if(timers.begin(), timers.end(), [&](const auto& e) { return e.second.get() == &timer; });
    if (it == timers.end())
        return;
    dropped = std::move(it->second);
    timers.erase(it);
    loop.impl_->bumpLocked();
}

void RunLoopAccess::runUntil(RunLoop& loop, const std::function<bool()>& done) {
    loop.impl_->run(&done, std::nullopt, false);
}

std::size_t RunLoopAccess::pendingWorkCount(const RunLoop& loop) {
    std::lock_guard lock(loop.impl_->mutex);
    return loop.impl_->work.size();
}

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}

RunLoop::~RunLoop() = default;

std::shared_ptr<RunLoop> RunLoop::main() {
    // Never destroyed: other threads may still post to the main loop while the process exits.
    static auto* loop = [] {
        auto* holder = new std::shared_ptr<RunLoop>(RunLoopAccess::make());
        (*holder)->impl_->followsMainThread = true;
        return holder;
    }();
    return *loop;
}

namespace {

// Pool workers never service a loop, so their timers go to one loop with a thread of its own.
std::shared_ptr<RunLoop> backgroundLoop() {
    // Never destroyed, like its thread; the static's initialisation makes exactly one of each.
    static auto* loop = [] {
        auto* holder = new std::shared_ptr<RunLoop>(RunLoopAccess::make());
        std::thread([loop = *holder] {
            pthread_setname_np(pthread_self(), "joblark.timers");
            RunLoopAccess::bindToCurrentThread(loop);
            for (;;)
                loop->run(); // a stray stop() must not end it
        }).detach();
        return holder;
    }();
    return *loop;
}

} // namespace

std::shared_ptr<RunLoop> RunLoop::current() {
    if (MainThread::isCurrent())
        return main();
    if (threadLoop)
        return threadLoop;
    if (WorkerPool::isWorkerThread())
        return backgroundLoop();
    RunLoopAccess::bindToCurrentThread(RunLoopAccess::make());
    return threadLoop;
}

bool RunLoop::isCurrent() const {
    if (impl_->followsMainThread)
        return MainThread::isCurrent();
    return impl_->owner.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void RunLoop::perform(std::function<void()> work) {
    if (!work)
        return;
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->work.push_back(std::move(work));
        hook = impl_->wakeHook;
    }
    impl_->wake.notify_all();
    if (hook)
        (*hook)();
}

void RunLoop::addTimer(std::shared_ptr<Timer> timer) {
    if (!timer || !RunLoopAccess::attach(*timer, impl_->self))
        return;
    std::shared_ptr<const std::function<void()>> hook;
    // Declared before the lock, so it runs after the lock is released.
    struct CallAfterUnlock {
        std::shared_ptr<const std::function<void()>>& hook;
        ~CallAfterUnlock() {
            if (hook)
                (*hook)();
        }
    } callHook{hook};
    std::lock_guard lock(impl_->mutex);
    // Checked under the loop's lock: an invalidate() that found no loop yet must not be undone here.
    if (!timer->isValid())
        return;
    auto date = timer->fireDate();
    impl_->timers.emplace(date, std::move(timer));
    impl_->bumpLocked();
    hook = impl_->wakeHook;
}

void RunLoop::run() {
    if (!servicedHere(*this, "run()"))
        return;
    impl_->run(nullptr, std::nullopt, true);
}

bool RunLoop::runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    if (!servicedHere(*this, "runUntil()"))
        return false;
    return impl_->run(&done, deadline, false);
}

int RunLoop::runOnce() {
    if (!servicedHere(*this, "runOnce()"))
        return 0;
    int ran = 0;
    // Only what is due or queued on entry, so work that re-posts itself cannot keep this from returning.
    auto now = Clock::now();
    for (Step step; (step = impl_->serviceTimer(now)) != Step::idle;)
        if (step == Step::ran)
            ++ran;
    auto queued = RunLoopAccess::pendingWorkCount(*this);
    for (std::size_t i = 0; i < queued && impl_->serviceWork() == Step::ran; ++i)
        ++ran;
    return ran;
}

void RunLoop::stop() {
    std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    impl_->bumpLocked();
}

void RunLoop::wakeUp() {
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->bumpLocked();
        hook = impl_->wakeHook;
    }
    if (hook)
        (*hook)();
}

void RunLoop::setWakeHook(std::function<void()> hook) {
    auto installed = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
    std::lock_guard lock(impl_->mutex);
    impl_->wakeHook.swap(installed); // the old hook is released after the lock
}

std::optional<RunLoop::Clock::time_point> RunLoop::nextTimerDate() const {
    std::lock_guard lock(impl_->mutex);
    if (impl_->timers.empty())
        return std::nullopt;
    return impl_->timers.begin()->first;
}

} // namespace joblark
