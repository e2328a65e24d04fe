#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace joblark {
namespace {

constexpr auto kDeadline = 5s;

bool pumpMain(const std::function<bool()>& done) {
    return RunLoop::main()->runUntil(done, kDeadline);
}

// Pumps until a marker timer `delay` from now has fired: shows nothing else fired meanwhile, without a sleep.
void pumpPast(double delay) {
    bool reached = false;
    auto marker = Timer::scheduledTimer(delay, false, [&](Timer&) { reached = true; });
    ASSERT_TRUE(pumpMain([&] { return reached; }));
}

TEST(RunLoop, WorkFromManyThreadsKeepsEachThreadsOrder) {
    constexpr int kThreads = 4, kItems = 200;
    std::vector<std::pair<int, int>> seen; // touched only on the main thread
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i)
                RunLoop::main()->perform([&seen, t, i] { seen.emplace_back(t, i); });
        });
    bool all = pumpMain([&] { return seen.size() == kThreads * kItems; });
    for (auto& p : posters)
        p.join();
    ASSERT_TRUE(all);
    std::vector<int> next(kThreads, 0);
    for (auto [t, i] : seen)
        EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++);
}

TEST(RunLoop, ThrowingWorkAndTimersAreLoggedAndTheLoopGoesOn) {
    LogCapture log;
    int ticks = 0;
    bool after = false;
    RunLoop::main()->perform([] { throw std::runtime_error("work item exploded"); });
    auto timer = Timer::scheduledTimer(0.001, true, [&](Timer&) {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    RunLoop::main()->perform([&] { after = true; });
    EXPECT_TRUE(pumpMain([&] { return after && ticks >= 3; }));
    timer->invalidate();
    EXPECT_TRUE(log.contains("work item exploded"));
    EXPECT_GE(log.count("tick failed"), 3u); // a repeating timer keeps going after a throw
}

TEST(RunLoop, StopAndWakeUpFromAnotherThread) {
    auto loop = RunLoop::main();
    std::promise<void> ran;
    std::thread stopper([&] {
        loop->perform([&] { ran.set_value(); });
        if (ran.get_future().wait_for(kDeadline) != std::future_status::ready)
            ADD_FAILURE() << "item never ran";
        loop->stop();
    });
    loop->run();
    stopper.join();

    std::atomic<bool> flag{false};
    std::thread setter([&] {
        flag = true;
        loop->wakeUp(); // no work item: only the wake-up ends the wait early
    });
    auto start = RunLoop::Clock::now();
    EXPECT_TRUE(pumpMain([&] { return flag.load(); }));
    EXPECT_LT(RunLoop::Clock::now() - start, kDeadline);
    setter.join();
}

TEST(Timer, OneShotsFireOnceByDateRepeatersUntilInvalidated) {
    std::vector<int> order;
    auto late = Timer::scheduledTimer(0.03, false, [&](Timer&) { order.push_back(30); });
    auto early = Timer::scheduledTimer(0.01, false, [&](Timer&) { order.push_back(10); });
    auto middle = Timer::make(0.02, false, [&](Timer&) { order.push_back(20); });
    RunLoop::main()->addTimer(middle);
    RunLoop::main()->addTimer(middle); // scheduling twice must not fire twice
    std::weak_ptr<Timer> weakOneShot = middle;
    middle.reset();
    int repeats = 0;
    std::weak_ptr<Timer> weakRepeater = Timer::scheduledTimer(0.001, true, [&](Timer& t) {
        if (++repeats == 3)
            t.invalidate();
    });
    ASSERT_TRUE(pumpMain([&] { return order.size() >= 3 && repeats >= 3; }));
    pumpPast(0.02);
    EXPECT_EQ(order, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(repeats, 3);
    EXPECT_FALSE(early->isValid());
    EXPECT_TRUE(weakOneShot.expired()); // the loop let go of them
    EXPECT_TRUE(weakRepeater.expired());
}

TEST(Timer, InvalidateFromAnotherThread) {
    std::atomic<int> fired{0}, firedAtInvalidate{-1};
    std::thread other([&, timer = Timer::scheduledTimer(0.001, true, [&](Timer&) { ++fired; })] {
        auto until = RunLoop::Clock::now() + kDeadline;
        while (fired < 3 && RunLoop::Clock::now() < until)
            std::this_thread::yield();
        timer->invalidate();
        firedAtInvalidate = fired.load();
        RunLoop::main()->wakeUp();
    });
    bool invalidated = pumpMain([&] { return firedAtInvalidate >= 0; });
    other.join();
    ASSERT_TRUE(invalidated);
    EXPECT_GE(firedAtInvalidate, 3);
    pumpPast(0.02);
    EXPECT_LE(fired, firedAtInvalidate + 1); // a call under way may finish, no later one starts

    auto distant = Timer::make(3600, false, [](Timer&) {}); // released at once, not at its fire date
    std::weak_ptr<Timer> weak = distant;
    RunLoop::main()->addTimer(distant);
    std::thread([distant = std::move(distant)] { distant->invalidate(); }).join();
    EXPECT_TRUE(weak.expired());
}

// How a toolkit's event loop services a RunLoop: it sleeps in its own wait until the hook pokes it or
// the next timer is due, then runs what is due. Nothing here polls.
TEST(RunLoop, WakeHookLetsAForeignLoopServiceIt) {
    std::mutex mutex;
    std::condition_variable poke;
    bool poked = false, finish = false;
    std::promise<std::shared_ptr<RunLoop>> loopReady;
    std::promise<void> allRan;
    std::thread foreign([&] {
        auto loop = RunLoop::current();
        loop->setWakeHook([&] {
            std::lock_guard lock(mutex);
            poked = true;
            poke.notify_all();
        });
        loopReady.set_value(loop);
        auto until = RunLoop::Clock::now() + kDeadline;
        std::unique_lock lock(mutex);
        while (!finish && RunLoop::Clock::now() < until) {
            lock.unlock();
            loop->runOnce();
            lock.lock();
            auto next = std::min(loop->nextTimerDate().value_or(until), until);
            poke.wait_until(lock, next, [&] { return poked || finish; });
            poked = false;
        }
        loop->setWakeHook(nullptr);
    });
    auto loop = loopReady.get_future().get();
    EXPECT_FALSE(loop->nextTimerDate());

    bool ran = false; // both written on the foreign thread only
    int fired = 0;
    loop->perform([&] { ran = true; });
    auto timer = Timer::make(0.005, true, [&](Timer& self) {
        if (++fired == 3 && ran) {
            self.invalidate();
            allRan.set_value();
        }
    });
    loop->addTimer(timer);
    auto due = loop->nextTimerDate();
    auto status = allRan.get_future().wait_for(kDeadline);
    {
        std::lock_guard lock(mutex);
        finish = true;
        poke.notify_all();
    }
    foreign.join();
    ASSERT_EQ(status, std::future_status::ready);
    ASSERT_TRUE(due);
    EXPECT_LE(*due, timer->fireDate());  // the first fire date, the later ones come after it
    EXPECT_FALSE(loop->nextTimerDate()); // invalidated: gone from the loop
}

} // namespace
} // namespace joblark
