#include "TestSupport.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/PendingNotificationTask.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace joblark;
using namespace joblark::testing;

namespace {
void countFinishedNotifications(Operation& op, std::atomic<int>& counter) {
    op.addChangeObserver([&counter](Operation& o, std::string_view key, Operation::ChangePhase phase) {
        if (key == "isFinished" && phase == Operation::ChangePhase::did && o.isFinished())
            ++counter;
    });
}
} // namespace

class PendingNotification : public ::testing::Test {
protected:
    void SetUp() override { useTaskController(); }
};

TEST_F(PendingNotification, NotificationEndsTheWaitOnce) {
    std::atomic<int> work{0};
    auto task = std::make_shared<PendingNotificationTask>("Test.ping", std::nullopt, 30.0, [&] { ++work; });
    TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
    ASSERT_TRUE(pumpMainUntil([&] { return task->isExecuting() && task->timer(); }));
    NotificationCenter::defaultCenter().post("Test.ping", Value("sender"), Dictionary{{"k", 1}});
    ASSERT_TRUE(waitUntilFinished(task));
    NotificationCenter::defaultCenter().post("Test.ping");
    EXPECT_EQ(work.load(), 1);
    ASSERT_TRUE(task->receivedNotification());
    EXPECT_EQ(task->receivedNotification()->userInfo, (Dictionary{{"k", 1}}));
    EXPECT_EQ(task->result().status, TaskStatus::unknown);
    EXPECT_FALSE(task->timer()->isValid());
}

TEST_F(PendingNotification, TimeOutEndsTheWaitAndLaterNotificationsChangeNothing) {
    std::atomic<int> work{0};
    auto sender = std::make_shared<BlockTask>(false, nullptr);
    auto other = std::make_shared<BlockTask>(false, nullptr);
    auto task =
        std::make_shared<PendingNotificationTask>("Test.timeout", Value(sender), 0.05, [&] { ++work; });
    auto dependant = std::make_shared<BlockTask>(false, [] {});
    auto always = std::make_shared<BlockTask>(true, [] {});
    dependant->addDependency(task);
    always->addDependency(task);
    TaskController::performInParallel(std::vector<TaskPtr>{task, dependant, always}, false);
    ASSERT_TRUE(pumpMainUntil([&] { return task->isExecuting(); }));
    NotificationCenter::defaultCenter().post("Test.timeout", Value(other)); // another sender: ignored
    ASSERT_TRUE(waitUntilFinished(std::vector<std::shared_ptr<Operation>>{task, dependant, always}));
    EXPECT_EQ(work.load(), 1);
    EXPECT_FALSE(task->receivedNotification());
    NotificationCenter::defaultCenter().post("Test.timeout", Value(sender));
    EXPECT_EQ(work.load(), 1);
    EXPECT_FALSE(task->receivedNotification());
    EXPECT_EQ(dependant->result().status, TaskStatus::unknown)
        << "status stays unknown, so dependants refuse";
    EXPECT_EQ(always->result().status, TaskStatus::succeeded);
}

TEST_F(PendingNotification, NotificationBeforeStartFinishesItAndTheQueueSkipsIt) {
    std::atomic<int> work{0};
    auto gate = std::make_shared<BlockTask>(false, [] {});
    auto task = std::make_shared<PendingNotificationTask>("Test.early", std::nullopt, 30.0, [&] { ++work; });
    task->addDependency(gate);
    TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
    NotificationCenter::defaultCenter().post("Test.early");
    EXPECT_TRUE(task->isFinished());
    EXPECT_EQ(work.load(), 1);
    TaskController::performInParallel(std::vector<TaskPtr>{gate}, false);
    ASSERT_TRUE(waitUntilFinished(gate));
    ASSERT_TRUE(TaskController::queue()->waitUntilAllOperationsAreFinished(10s));
    EXPECT_FALSE(task->timer()) << "main() never ran";
    EXPECT_EQ(work.load(), 1);
}

TEST_F(PendingNotification, FirstEventWinsWhenTheyRaceOnTwoThreads) {
    for (int round = 0; round < 200; ++round) {
        std::string name = "Test.race." + std::to_string(round);
        std::atomic<int> work{0};
        std::atomic<int> finished{0};
        auto task = std::make_shared<PendingNotificationTask>(name, std::nullopt, 0.001, [&] { ++work; });
        countFinishedNotifications(*task, finished);
        TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
        std::thread poster([&] {
            while (!task->isExecuting() && !task->isFinished())
                std::this_thread::yield();
            NotificationCenter::defaultCenter().post(name);
        });
        ASSERT_TRUE(waitUntilFinished(task));
        poster.join();
        EXPECT_EQ(work.load(), 1);
        EXPECT_EQ(finished.load(), 1);
        NotificationCenter::defaultCenter().post(name);
        EXPECT_EQ(work.load(), 1);
    }
}
