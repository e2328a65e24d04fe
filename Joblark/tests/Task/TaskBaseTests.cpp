#include "TestSupport.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/SimpleTask.hpp"
#include "joblark/Tasks/Task.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

using namespace joblark;
using namespace joblark::testing;

namespace {

// Records every change notification of an operation as "will isReady" / "did isFinished".
struct ChangeRecorder {
    std::mutex mutex;
    std::vector<std::string> events;
    void attach(Operation& op) {
        op.addChangeObserver([this](Operation&, std::string_view key, Operation::ChangePhase phase) {
            std::lock_guard lock(mutex);
            events.push_back(std::string(phase == Operation::ChangePhase::will ? "will " : "did ") +
                             std::string(key));
        });
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return events;
    }
};

std::shared_ptr<BlockTask> failingTask() {
    return std::make_shared<BlockTask>(false, [] { throw makeError("boom"); });
}

} // namespace

TEST(TaskValues, RawValuesAreCaseSensitiveAndResultsDescribeThemselves) {
    EXPECT_FALSE(TaskStatus::fromRawValue("Succeeded").has_value());
    EXPECT_FALSE(Task::stateFromRawValue("finished").has_value());
    EXPECT_FALSE(TaskStatus(TaskStatus::cancelled).ok());

    EXPECT_EQ(TaskResult::initial().debugDescription(), "Task Result(unknown, nil)");
    EXPECT_EQ(TaskResult::failed().debugDescription(), "Task Result(failed, nil)");
    EXPECT_EQ(TaskResult::failed(Dictionary{}).debugDescription(), "Task Result(failed, 0 keys)");
    EXPECT_EQ(TaskResult::succeeded(Dictionary{{"a", 1}}).debugDescription(),
              "Task Result(succeeded, 1 keys)");

    auto task = std::make_shared<SimpleTask>();
    task->start();
    EXPECT_EQ(task->debugDescription(), "Joblark.SimpleTask(Task Result(succeeded, nil))");
}

TEST(TaskLifecycle, NotificationsAnnounceOldAndNewStateInOrder) {
    auto task = std::make_shared<SimpleTask>();
    ChangeRecorder recorder;
    recorder.attach(*task);
    task->start();
    EXPECT_EQ(recorder.snapshot(),
              (std::vector<std::string>{"will isReady", "will isExecuting", "did isReady", "did isExecuting",
                                        "will isExecuting", "will isFinished", "did isExecuting",
                                        "did isFinished"}));

    // A write of the current value still sends both pairs.
    auto same = std::make_shared<SimpleTask>();
    ChangeRecorder sameRecorder;
    sameRecorder.attach(*same);
    same->setState(Task::State::Ready);
    EXPECT_EQ(sameRecorder.snapshot(),
              (std::vector<std::string>{"will isReady", "will isReady", "did isReady", "did isReady"}));
}

TEST(TaskLifecycle, RefusedTaskGoesStraightToFinishedAndLogsWhy) {
    auto failed = failingTask();
    failed->start();
    ASSERT_EQ(failed->result().status, TaskStatus::failed);

    auto dependant =
        std::make_shared<BlockTask>(false, [] { ADD_FAILURE() << "a refused task must not run"; });
    dependant->addDependency(failed);
    ChangeRecorder recorder;
    recorder.attach(*dependant);
    LogCapture log;
    dependant->start();

    EXPECT_TRUE(dependant->isFinished());
    EXPECT_EQ(dependant->result(), TaskResult::initial());
    EXPECT_TRUE(dependant->errors().empty());
    EXPECT_FALSE(dependant->isCancelled());
    EXPECT_EQ(recorder.snapshot(),
              (std::vector<std::string>{"will isReady", "will isFinished", "did isReady", "did isFinished"}));
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LogLevel::debug);
    EXPECT_EQ(entries[0].message,
              "Not all dependencies successfully completed. Refusing to perform " + dependant->description());
}

TEST(TaskLifecycle, OnlyTaskDependenciesDecideWhetherToPerform) {
    auto task = std::make_shared<SimpleTask>();
    EXPECT_TRUE(task->shouldPerform());
    EXPECT_TRUE(task->previousTaskResults().empty());

    // A plain operation that never ran neither blocks nor counts.
    auto plain = std::make_shared<BlockOperation>([] {});
    task->addDependency(plain);
    EXPECT_TRUE(task->shouldPerform());
    EXPECT_TRUE(task->previousTaskResults().empty());

    // Any dependency not succeeded (including one that never ran) refuses.
    for (auto status : {TaskStatus::unknown, TaskStatus::failed, TaskStatus::cancelled}) {
        auto other = std::make_shared<SimpleTask>();
        other->setResult(TaskResult{status, std::nullopt});
        auto dependant = std::make_shared<SimpleTask>();
        dependant->addDependency(plain);
        dependant->addDependency(other);
        EXPECT_FALSE(dependant->shouldPerform()) << status;
        ASSERT_EQ(dependant->previousTaskResults().size(), 1u);
        EXPECT_EQ(dependant->previousTaskResults()[0].status, status);
    }
}

TEST(TaskLifecycle, IsCancelledMeansFinishedWithErrors) {
    auto failedWithoutErrors = std::make_shared<BlockTask>(false, [] {});
    failedWithoutErrors->setBlock([t = failedWithoutErrors.get()] { t->setResult(TaskResult::failed()); });
    failedWithoutErrors->start();
    EXPECT_EQ(failedWithoutErrors->result().status, TaskStatus::failed);
    EXPECT_FALSE(failedWithoutErrors->isCancelled());

    auto reported = std::make_shared<SimpleTask>();
    reported->report(makeError("early"));
    EXPECT_FALSE(reported->isCancelled()) << "not finished yet";
    reported->cancel();
    EXPECT_FALSE(reported->isCancelled()) << "cancel() is no cancellation for tasks";
    reported->start();
    EXPECT_TRUE(reported->isFinished()) << "cancel() does not stop a task";
    EXPECT_TRUE(reported->isCancelled());
}

TEST(TaskLifecycle, RefusalRunsDownTheWholeChainOnTheQueue) {
    useTaskController();
    std::vector<TaskPtr> chain;
    chain.push_back(failingTask());
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i)
        chain.push_back(std::make_shared<BlockTask>(false, [&] { ++ran; }));
    TaskController::performInSeries(chain, false);
    ASSERT_TRUE(waitUntilFinished(std::vector<std::shared_ptr<Operation>>(chain.begin(), chain.end())));
    EXPECT_EQ(ran.load(), 0);
    for (std::size_t i = 1; i < chain.size(); ++i)
        EXPECT_EQ(chain[i]->result().status, TaskStatus::unknown);

    // alwaysPerform breaks the chain: it runs and sees the refused predecessor's result.
    auto first = failingTask();
    auto refused = std::make_shared<SimpleTask>();
    std::vector<TaskResult> seen;
    auto always = std::make_shared<BlockTask>(true, [&] {});
    always->setBlock([&seen, t = always.get()] { seen = t->previousTaskResults(); });
    auto after = std::make_shared<SimpleTask>();
    TaskController::performInSeries(std::vector<TaskPtr>{first, refused, always, after}, true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].status, TaskStatus::unknown);
    EXPECT_EQ(always->result().status, TaskStatus::succeeded);
    EXPECT_EQ(after->result().status, TaskStatus::succeeded);
}

TEST(TaskLifecycleDeathTest, AbstractMainStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Bare : Task {};
    EXPECT_DEATH(std::make_shared<Bare>()->start(), "Subclasses must override this method");
}
