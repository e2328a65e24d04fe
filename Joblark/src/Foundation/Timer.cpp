#include "joblark/Foundation/Timer.hpp"

#include "RunLoopAccess.hpp"
#include "joblark/Foundation/RunLoop.hpp"

#include <algorithm>

namespace joblark {

Timer::Timer(double interval, bool repeats, Block block)
    : interval_(interval), repeats_(repeats), block_(std::move(block)) {
    // Like the platform's timers, the first fire date is counted from creation, not from scheduling.
    RunLoopAccess::setFireDate(*this, std::chrono::steady_clock::now() +
                                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::duration<double>(std::max(interval, 0.0))));
}

std::shared_ptr<Timer> Timer::make(double interval, bool repeats, Block block) {
    return std::make_shared<Timer>(interval, repeats, std::move(block));
}

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, bool repeats, Block block) {
    auto timer = make(interval, repeats, std::move(block));
    RunLoop::current()->addTimer(timer);
    return timer;
}

std::chrono::steady_clock::time_point Timer::fireDate() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(fireDate_.load(std::memory_order_acquire)));
}

void Timer::invalidate() {
    // The flag goes first: the loop re-checks it under its own lock before it re-queues a repeating
    // timer, so once the loop's lock has been taken below the timer cannot come back.
    if (!valid_.exchange(false, std::memory_order_acq_rel))
        return;
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(loopMutex_);
        loop = loop_.lock();
        loop_.reset();
    }
    if (loop)
        RunLoopAccess::removeTimer(*loop, *this);
}

void Timer::fire() {
    if (!isValid())
        return;
    if (block_)
        block_(*this);
    if (!repeats_)
        invalidate();
}

bool RunLoopAccess::attach(Timer& timer, std::weak_ptr<RunLoop> loop) {
    std::lock_guard lock(timer.loopMutex_);
    // A timer lives on one loop at a time; scheduled twice it would fire twice per step.
    if (!timer.isValid() || !timer.loop_.expired())
        return false;
    timer.loop_ = std::move(loop);
    return true;
}

void RunLoopAccess::finish(Timer& timer) {
    timer.valid_.store(false, std::memory_order_release);
    std::lock_guard lock(timer.loopMutex_);
    timer.loop_.reset();
}

} // namespace joblark
