#pragma once

#include "joblark/Foundation/Export.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Thread safety: perform, addTimer, stop and wakeUp are thread-safe; run, runUntil and runOnce belong to the
// loop's own thread.

namespace joblark {

class Timer;

/// A per-thread loop of work items and timers. Any thread may hand work or timers to any loop;
/// only the loop's own thread runs them, while it is inside run()/runUntil()/runOnce().
class JOBLARK_EXPORT RunLoop {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    /// The loop of the calling thread, created on first use. A worker of the shared task pool does
    /// not service a loop of its own, so there this is a shared background timer loop that always runs.
    static std::shared_ptr<RunLoop> current();
    /// The main thread's loop.
    static std::shared_ptr<RunLoop> main();

    /// Queue a work item (thread-safe); items run in the order they were queued.
    void perform(std::function<void()> work);
    /// Schedule a timer (thread-safe). The loop keeps it until it is invalidated or, for a one-shot
    /// timer, until it has fired.
    void addTimer(std::shared_ptr<Timer> timer);

    /// Service work and timers until stop() is called.
    void run();
    /// Service work and timers until `done` returns true or the deadline passes; returns done().
    /// `done` is evaluated on this thread after each item or timer and on every wake-up.
    bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);
    bool runUntil(const std::function<bool()>& done, Clock::duration timeout) {
        return runUntil(done, Clock::now() + timeout);
    }
    /// Run what is due now without waiting; returns the number of items and timers run.
    int runOnce();
    /// Make run() return after the current item (thread-safe).
    void stop();
    /// Wakes a thread blocked in run()/runUntil() so it re-evaluates its condition.
    void wakeUp();

    bool isCurrent() const;

    /// Lets another event loop (a toolkit's) service this one with runOnce() instead of run():
    /// `hook` is called, on the posting thread and outside the loop's lock, whenever work is queued,
    /// a timer is added or wakeUp() is called. The driver then runs what is due and arms its own
    /// timer for nextTimerDate(). An empty function removes the hook.
    void setWakeHook(std::function<void()> hook);
    /// When the earliest scheduled timer is due; absent when no timer is scheduled (thread-safe).
    std::optional<Clock::time_point> nextTimerDate() const;

    struct Impl;

private:
    RunLoop();
    std::unique_ptr<Impl> impl_;
    friend struct RunLoopAccess;
};

} // namespace joblark
