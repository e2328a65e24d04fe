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

TEST(DispatchQueue, RunsInOrderOnItsOwnThreadAndSyncWaitsOrRunsInline) {
    DispatchQueue queue("test.order");
    EXPECT_FALSE(queue.isCurrent());
    std::vector<int> order, expected; // touched only on the queue until sync() returns
    std::atomic<bool> allOnQueue{true};
    auto testThread = std::this_thread::get_id();
    for (int i = 0; i < 500; ++i) {
        expected.push_back(i);
        queue.async([&, i] {
            allOnQueue = allOnQueue && queue.isCurrent() && std::this_thread::get_id() != testThread;
            order.push_back(i);
        });
    }
    queue.async([&] { // a sync() from its own work would deadlock if it queued behind this item
        order.push_back(-1);
        queue.sync([&] { order.push_back(-2); });
        order.push_back(-3);
    });
    expected.insert(expected.end(), {-1, -2, -3});
    queue.sync([] {});
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(allOnQueue);

    EXPECT_THROW(queue.sync([] { throw std::invalid_argument("bad input"); }), std::invalid_argument);
    bool stillWorks = false;
    queue.sync([&] { stillWorks = true; });
    EXPECT_TRUE(stillWorks);
}

TEST(DispatchQueue, TimersAndDelayedWorkRunOnTheQueue) {
    DispatchQueue queue("test.timers");
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<bool> allOnQueue{true};
    std::promise<void> finished;
    auto record = [&](int n) {
        allOnQueue = allOnQueue && queue.isCurrent();
        std::lock_guard lock(mutex);
        order.push_back(n);
        if (order.size() == 4)
            finished.set_value();
    };
    // All scheduled from one item, so a late start of the queue's thread cannot reorder them.
    queue.async([&] {
        allOnQueue = allOnQueue && RunLoop::current() == queue.runLoop();
        queue.asyncAfter(std::chrono::milliseconds(30), [&] { record(30); });
        queue.asyncAfter(0.01, [&] { record(10); });
        Timer::scheduledTimer(0.02, false, [&](Timer&) { record(20); });
        record(0);
    });
    ASSERT_EQ(finished.get_future().wait_for(kDeadline), std::future_status::ready);
    EXPECT_TRUE(allOnQueue);
    EXPECT_EQ(order, (std::vector<int>{0, 10, 20, 30}));
}

TEST(DispatchQueue, DestructionRunsEverythingQueuedEvenFromItsOwnWork) {
    constexpr int kItems = 1000;
    std::atomic<int> ran{0};
    std::promise<void> open, openSelf, ranLast;
    {
        DispatchQueue queue("test.drain");
        queue.async([gate = open.get_future().share()] { gate.wait_for(kDeadline); }); // holds the rest
        for (int i = 0; i < kItems; ++i)
            queue.async([&] { ++ran; });
        open.set_value();
    }
    EXPECT_EQ(ran, kItems);

    auto queue = std::make_shared<DispatchQueue>("test.self");
    queue->async([gate = openSelf.get_future().share()] { gate.wait_for(kDeadline); });
    // This item ends up holding the last reference, so the queue dies on its own thread.
    queue->async([&, keepAlive = queue] { ranLast.set_value(); });
    queue.reset();
    openSelf.set_value();
    EXPECT_EQ(ranLast.get_future().wait_for(kDeadline), std::future_status::ready);
}

} // namespace
} // namespace joblark
