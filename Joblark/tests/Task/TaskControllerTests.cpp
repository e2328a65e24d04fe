#include "TestSupport.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/TaskLog.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace joblark;
using namespace joblark::testing;

TEST(TaskControllerSetup, SharedQueueIsNamedAndReady) {
    useTaskController();
    TaskController again; // constructing again changes nothing
    ASSERT_TRUE(TaskController::ready());
    ASSERT_NE(TaskController::queue(), nullptr);
    EXPECT_EQ(TaskController::queue()->name(), "Background Networking Queue");
    EXPECT_EQ(TaskController::queue()->qualityOfService(), 25);
    EXPECT_EQ(TaskLog().subsystem(), "Queue");
    EXPECT_EQ(TaskLog().category(), "Task");
}

TEST(TaskControllerSetup, SeriesChainsInListOrder) {
    useTaskController();
    auto a = std::make_shared<BlockTask>(false, [] {});
    TaskController::performInSeries({}, true);
    TaskController::performInSeries({a}, true);
    EXPECT_TRUE(a->dependencies().empty());
    EXPECT_TRUE(a->isFinished());

    std::vector<int> order;
    std::vector<TaskPtr> tasks;
    for (int i = 0; i < 50; ++i)
        tasks.push_back(std::make_shared<BlockTask>(false, [&order, i] { order.push_back(i); }));
    TaskController::performInSeries(tasks, true);
    for (std::size_t i = 1; i < tasks.size(); ++i) {
        ASSERT_EQ(tasks[i]->dependencies().size(), 1u);
        EXPECT_EQ(tasks[i]->dependencies()[0], tasks[i - 1]);
    }
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i)
        expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(order, expected);
}

TEST(TaskControllerSetup, SyncronifyBlocksUntilDoneIsCalledElsewhere) {
    useTaskController();
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool returned = false;
        bool doneBeforeReturn = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread caller;
    syncronify([&caller, shared](std::function<void()> done) {
        caller = std::thread([shared, done] {
            std::unique_lock lock(shared->mutex);
            // A syncronify that does not block returns meanwhile and says so.
            shared->changed.wait_for(lock, 200ms, [&] { return shared->returned; });
            shared->doneBeforeReturn = !shared->returned;
            lock.unlock();
            done();
        });
    });
    {
        std::lock_guard lock(shared->mutex);
        shared->returned = true;
    }
    shared->changed.notify_all();
    caller.join();
    EXPECT_TRUE(shared->doneBeforeReturn);
}

TEST(TaskControllerSetup, EnsureMainThreadFromMainAndFromWorkers) {
    useTaskController();
    bool inlineRan = false;
    ensureMainThread([&] { inlineRan = MainThread::isCurrent(); });
    EXPECT_TRUE(inlineRan) << "runs directly on the main thread";

    std::atomic<int> onMain{0};
    std::vector<TaskPtr> workers;
    for (int i = 0; i < 8; ++i)
        workers.push_back(std::make_shared<BlockTask>(false, [&] {
            ensureMainThread([&] {
                if (MainThread::isCurrent())
                    ++onMain;
            });
        }));
    TaskController::performInParallel(workers, false);
    ASSERT_TRUE(waitUntilFinished(std::vector<std::shared_ptr<Operation>>(workers.begin(), workers.end())));
    EXPECT_EQ(onMain.load(), 8);
}

TEST(ListHelpers, PrependAndBoundedGet) {
    std::vector<int> list{3, 4};
    prepend(list, 2);
    prepend(list, std::vector<int>{0, 1});
    EXPECT_EQ(list, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(get(list, 0), 0);
    EXPECT_EQ(get(list, 4), 4);
    EXPECT_FALSE(get(list, 5).has_value());
    EXPECT_FALSE(get(list, -1).has_value());
    EXPECT_FALSE(get(std::vector<int>{}, 0).has_value());
}
