#pragma once

// Internal to the platform layer: what RunLoop, Timer and DispatchQueue need from each other beyond
// their public API.

#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"

#include <cstddef>
#include <functional>
#include <memory>

namespace joblark {

struct RunLoopAccess {
    /// A loop not yet bound to any thread.
    static std::shared_ptr<RunLoop> make();
    /// Makes `loop` the calling thread's RunLoop::current() and the thread that services it.
    static void bindToCurrentThread(const std::shared_ptr<RunLoop>& loop);
    /// Drops an invalidated timer at once instead of when it would have come due.
    static void removeTimer(RunLoop& loop, const Timer& timer);
    /// Services `loop` until `done` holds, without a deadline (the caller owns the loop).
    static void runUntil(RunLoop& loop, const std::function<bool()>& done);
    static std::size_t pendingWorkCount(const RunLoop& loop);

    // Timer state only the servicing loop touches.
    /// Records the loop a timer goes to; false when it is invalid or already on a loop.
    static bool attach(Timer& timer, std::weak_ptr<RunLoop> loop);
    static void runBlock(Timer& timer) {
        if (timer.block_)
            timer.block_(timer);
    }
    static void setFireDate(Timer& timer, RunLoop::Clock::time_point date) {
        timer.fireDate_.store(date.time_since_epoch().count(), std::memory_order_release);
    }
    /// A one-shot timer that has fired: invalid, and no longer tied to its loop.
    static void finish(Timer& timer);
};

} // namespace joblark
