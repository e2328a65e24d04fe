#include "joblark/Foundation/DispatchQueue.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace joblark {
namespace {

constexpr auto kDeadline = 5s;

TEST(DispatchQueue, RunsInOrderOnItsOwnThreadAndSyncWaits) {
    DispatchQueue queue("test.order");
    EXPECT_FALSE(queue.isCurrent());
    std::vector<int> order; // touched only on the queue until sync() returns
    std::atomic<bool> allOnQueue{true};
    auto testThread = std::this_thread::get_id();
    for (int i = 0; i < 500; ++i)
        queue.async([&, i] {
            if (!queue.isCurrent() || std::this_thread::get_id() == testThread)
                allOnQueue = false;
            order.push_back(i);
        });
    queue.sync([] {});
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allOnQueue);

    EXPECT_THROW(queue.sync([] { throw std::invalid_argument("bad input"); }), std::invalid_argument);
    bool stillWorks = false;
    queue.sync([&] { stillWorks = true; });
    EXPECT_TRUE(stillWorks);
}

TEST(DispatchQueue, SyncFromItsOwnWorkRunsInline) {
    DispatchQueue queue("test.reentrant");
    std::promise<std::vector<int>> result;
    queue.async([&] {
        std::vector<int> steps{1};
        queue.sync([&] { steps.push_back(2); }); // would deadlock if it queued behind this item
        steps.push_back(3);
        result.set_value(steps);
    });
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(future.get(), (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueue, TimersAndDelayedWorkRunOnTheQueue) {
    DispatchQueue queue("test.timers");
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<bool> allOnQueue{true};
    std::promise<void> finished;
    auto record = [&](int n) {
        if (!queue.isCurrent())
            allOnQueue = false;
        std::lock_guard lock(mutex);
        order.push_back(n);
        if (order.size() == 4)
            finished.set_value();
    };
    queue.asyncAfter(0.03, [&] { record(30); });
    queue.asyncAfter(0.01, [&] { record(10); });
    std::atomic<bool> sameLoop{false};
    queue.async([&] {
        sameLoop = RunLoop::current() == queue.runLoop();
        Timer::scheduledTimer(0.02, false, [&](Timer&) { record(20); });
        record(0);
    });
    ASSERT_EQ(finished.get_future().wait_for(kDeadline), std::future_status::ready);
    EXPECT_TRUE(sameLoop);
    EXPECT_TRUE(allOnQueue);
    EXPECT_EQ(order, (std::vector<int>{0, 10, 20, 30}));
}

TEST(DispatchQueue, DestructionRunsEverythingAlreadyQueued) {
    constexpr int kItems = 1000;
    std::atomic<int> ran{0};
    std::promise<void> open;
    auto gate = open.get_future().share();
    {
        DispatchQueue queue("test.drain");
        queue.async([gate] { gate.wait_for(kDeadline); }); // holds the rest back
        for (int i = 0; i < kItems; ++i)
            queue.async([&] { ++ran; });
        open.set_value();
    }
    EXPECT_EQ(ran, kItems);
}

TEST(DispatchQueue, CanBeDestroyedByItsOwnWork) {
    auto queue = std::make_shared<DispatchQueue>("test.self");
    std::promise<void> open, ranLast;
    queue->async([gate = open.get_future().share()] { gate.wait_for(kDeadline); });
    // This item ends up holding the last reference, so the queue dies on its own thread.
    queue->async([&, keepAlive = queue] {
        (void)keepAlive;
        ranLast.set_value();
    });
    queue.reset();
    open.set_value();
    EXPECT_EQ(ranLast.get_future().wait_for(kDeadline), std::future_status::ready);
}

} // namespace
} // namespace joblark
