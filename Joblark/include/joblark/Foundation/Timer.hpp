#pragma once

#include "joblark/Foundation/Export.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

// Thread safety: invalidate() is thread-safe; the block runs on the thread of the loop the timer is scheduled
// on.

namespace joblark {

class RunLoop;

/// A one-shot or repeating timer serviced by a RunLoop.
class JOBLARK_EXPORT Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;

    /// A timer not yet scheduled; hand it to RunLoop::addTimer.
    static std::shared_ptr<Timer> make(double interval, bool repeats, Block block);
    /// Makes a timer and schedules it on the calling thread's loop (RunLoop::current()).
    static std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Block block);

    /// Stops the timer; thread-safe. After it returns the block is not started again (a call
    /// already in progress on the loop's thread finishes).
    void invalidate();
    bool isValid() const { return valid_.load(std::memory_order_acquire); }
    /// Runs the block now on the calling thread (a one-shot timer is then invalidated).
    void fire();

    double timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }
    std::chrono::steady_clock::time_point fireDate() const;

    Timer(double interval, bool repeats, Block block); // use make()

private:
    friend class RunLoop; // the loop reads and moves the fire date
    friend struct RunLoopAccess;

    double interval_;
    bool repeats_;
    Block block_;
    std::atomic<bool> valid_{true};
    std::atomic<std::chrono::steady_clock::rep> fireDate_{0};
    // The loop the timer is scheduled on, so invalidate() can have it dropped at once.
    std::mutex loopMutex_;
    std::weak_ptr<RunLoop> loop_;
};

} // namespace joblark
