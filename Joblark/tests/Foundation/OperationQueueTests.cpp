#include "TestSupport.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/OperationQueue.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

using namespace joblark;
using namespace joblark::testing;

TEST(OperationQueueDependencies, WaitForOperationsInOtherQueuesOrNone) {
    OperationQueue first("first");
    OperationQueue second("second");
    std::atomic<int> step{0};
    auto manual = std::make_shared<BlockOperation>([&] { EXPECT_EQ(step.exchange(1), 0); });
    auto elsewhere = std::make_shared<BlockOperation>([&] { EXPECT_EQ(step.exchange(2), 1); });
    auto last = std::make_shared<BlockOperation>([&] { EXPECT_EQ(step.exchange(3), 2); });
    elsewhere->addDependency(manual);
    last->addDependency(elsewhere);
    second.addOperation(last);
    first.addOperation(elsewhere);
    EXPECT_FALSE(last->isReady());
    manual->start(); // belongs to no queue: started by hand
    ASSERT_TRUE(last->waitUntilFinished(10s));
    EXPECT_EQ(step.load(), 3);
    EXPECT_TRUE(second.waitUntilAllOperationsAreFinished(10s));
    EXPECT_EQ(second.operationCount(), 0u);
}

TEST(OperationQueueDependencies, FinishedOperationsAreNeverStartedAgain) {
    OperationQueue queue;
    std::atomic<int> runs{0};
    auto op = std::make_shared<BlockOperation>([&] { ++runs; });
    op->start();
    queue.addOperation(op);
    queue.addOperation(op);
    auto after = std::make_shared<BlockOperation>([] {});
    after->addDependency(op);
    queue.addOperation(after);
    ASSERT_TRUE(after->waitUntilFinished(10s));
    EXPECT_EQ(runs.load(), 1);

    // An operation added twice runs once.
    auto twice = std::make_shared<BlockOperation>([&] { ++runs; });
    queue.addOperations({twice, twice}, true);
    EXPECT_EQ(runs.load(), 2);
}

TEST(OperationQueueDependencies, CancelledOperationsFinishWithoutRunning) {
    OperationQueue queue;
    auto gate = std::make_shared<BlockOperation>([] {});
    std::atomic<int> runs{0};
    std::vector<std::shared_ptr<Operation>> pending;
    for (int i = 0; i < 5; ++i) {
        auto op = std::make_shared<BlockOperation>([&] { ++runs; });
        op->addDependency(gate);
        pending.push_back(op);
    }
    queue.addOperations(pending, false);
    EXPECT_EQ(queue.operationCount(), 5u);
    queue.cancelAllOperations();
    gate->start();
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(10s));
    EXPECT_EQ(runs.load(), 0);
    for (auto& op : pending)
        EXPECT_TRUE(op->isCancelled() && op->isFinished());
}

TEST(OperationQueueMain, RunsOperationsOnTheMainThreadInDependencyOrder) {
    std::vector<int> order;
    auto background = std::make_shared<BlockOperation>([&] { order.push_back(1); });
    auto onMain = std::make_shared<BlockOperation>([&] {
        EXPECT_TRUE(MainThread::isCurrent());
        order.push_back(2);
    });
    onMain->addDependency(background);
    OperationQueue worker;
    OperationQueue::main().addOperation(onMain);
    worker.addOperation(background);
    ASSERT_TRUE(waitUntilFinished(onMain));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    auto gate = std::make_shared<BlockOperation>([] {});
    std::atomic<bool> ran{false};
    auto cancelled = std::make_shared<BlockOperation>([&] { ran = true; });
    cancelled->addDependency(gate);
    OperationQueue::main().addOperation(cancelled);
    OperationQueue::main().cancelAllOperations();
    gate->start();
    ASSERT_TRUE(waitUntilFinished(cancelled));
    EXPECT_FALSE(ran);
}

TEST(WorkerPoolGrowth, WorkThatBlocksWithoutSayingSoIsStillReplaced) {
    // Eight operations that each wait until all eight are running at once: on two cores this only
    // finishes if the pool notices the blocked workers and adds more.
    OperationQueue queue;
    std::mutex mutex;
    std::condition_variable allThere;
    int arrived = 0;
    std::atomic<int> released{0};
    for (int i = 0; i < 8; ++i)
        queue.addOperation([&] {
            std::unique_lock lock(mutex);
            ++arrived;
            allThere.notify_all();
            if (allThere.wait_for(lock, 20s, [&] { return arrived == 8; }))
                ++released;
        });
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(30s));
    EXPECT_EQ(released.load(), 8);
    EXPECT_GE(WorkerPool::peakThreadCount(), 8);
}

TEST(WorkerPoolGrowth, WaitsNestedInWorkersFinish) {
    OperationQueue queue;
    std::vector<std::shared_ptr<Operation>> inner;
    std::atomic<int> done{0};
    for (int i = 0; i < 32; ++i)
        inner.push_back(std::make_shared<BlockOperation>([&] { ++done; }));
    std::vector<std::shared_ptr<Operation>> outer;
    for (int i = 0; i < 4; ++i) {
        std::vector<std::shared_ptr<Operation>> slice(inner.begin() + i * 8, inner.begin() + (i + 1) * 8);
        outer.push_back(std::make_shared<BlockOperation>([slice] {
            OperationQueue nested;
            nested.addOperations(slice, true); // waits inside a worker
        }));
    }
    queue.addOperations(outer, false);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(30s));
    EXPECT_EQ(done.load(), 32);
}

TEST(WorkerPoolGrowth, WorkHandedToABlockedWorkerIsTakenBack) {
    // The operation that releases `next` keeps the worker afterwards; `next` was handed to that same
    // worker to run afterwards, so it must be taken back and run elsewhere.
    OperationQueue queue;
    auto release = std::make_shared<BlockOperation>([] {});
    std::mutex mutex;
    std::condition_variable ran;
    bool nextRan = false;
    auto next = std::make_shared<BlockOperation>([&] {
        std::lock_guard lock(mutex);
        nextRan = true;
        ran.notify_all();
    });
    next->addDependency(release);
    queue.addOperation(next);
    std::atomic<bool> sawIt{false};
    queue.addOperation([&] {
        release->start();
        std::unique_lock lock(mutex);
        sawIt = ran.wait_for(lock, 10s, [&] { return nextRan; });
    });
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(20s));
    EXPECT_TRUE(sawIt);
}
