#include "TestSupport.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/FlowTask.hpp"
#include "joblark/Tasks/LazyTask.hpp"

#include <gtest/gtest.h>

using namespace joblark;
using namespace joblark::testing;

namespace {

TaskPtr withResult(TaskResult result) {
    auto task = std::make_shared<BlockTask>(false, nullptr);
    task->setBlock([t = task.get(), result] { t->setResult(result); });
    return task;
}

TaskPtr failing() {
    return std::make_shared<BlockTask>(false, [] { throw makeError("predecessor failed"); });
}

} // namespace

class LazyTasks : public ::testing::Test {
protected:
    void SetUp() override { useTaskController(); }
    // Runs the tasks in series on the shared queue and waits for all of them.
    static void runChain(const std::vector<TaskPtr>& tasks) {
        TaskController::performInSeries(tasks, false);
        ASSERT_TRUE(waitUntilFinished(std::vector<std::shared_ptr<Operation>>(tasks.begin(), tasks.end())));
    }
};

TEST_F(LazyTasks, LazyTaskTakesOverTheGeneratedResultButNotItsErrors) {
    Dictionary values{{"code", 500}};
    auto generated = std::make_shared<BlockTask>(false, nullptr);
    generated->setBlock([t = generated.get(), values] {
        t->report(makeError("stays on the generated task"));
        t->setResult(TaskResult::failed(values));
    });
    auto lazy = std::make_shared<LazyTask>([generated] { return generated; });
    runChain({lazy});
    EXPECT_EQ(lazy->result(), TaskResult::failed(values));
    EXPECT_TRUE(lazy->errors().empty());
    EXPECT_EQ(lazy->task(), generated);

    auto none = std::make_shared<LazyTask>([] { return TaskPtr(); });
    runChain({none});
    EXPECT_EQ(none->result(), TaskResult::succeeded());
}

TEST_F(LazyTasks, GeneratorSeesPredecessorsAndIsNotCalledWhenRefused) {
    auto producer = withResult(TaskResult::succeeded(Dictionary{{"id", "abc"}}));
    std::string seenId;
    auto consumer = std::make_shared<LazyTask>(nullptr);
    consumer->setTaskGenerator([&seenId, c = consumer.get()]() -> TaskPtr {
        seenId = *c->previousTaskResults().at(0).values->at("id").asString();
        return withResult(TaskResult::succeeded());
    });
    runChain({producer, consumer});
    EXPECT_EQ(seenId, "abc");

    bool called = false;
    auto refused = std::make_shared<LazyTask>([&] {
        called = true;
        return TaskPtr();
    });
    runChain({failing(), refused});
    EXPECT_FALSE(called);
    EXPECT_EQ(refused->result().status, TaskStatus::unknown);
}

TEST_F(LazyTasks, LazyGroupAndSerialSucceedWhateverTheChildrenDid) {
    std::atomic<int> ran{0};
    auto group = std::make_shared<LazyGroupTask>([&] {
        return std::vector<TaskPtr>{std::make_shared<BlockTask>(false,
                                                                [&] {
                                                                    ++ran;
                                                                    throw makeError("a");
                                                                }),
                                    std::make_shared<BlockTask>(false, [&] {
                                        ++ran;
                                        throw makeError("b");
                                    })};
    });
    runChain({group});
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(group->result(), TaskResult::succeeded());

    std::vector<int> order;
    auto serial = std::make_shared<LazySerialTask>([&] {
        return std::vector<TaskPtr>{std::make_shared<BlockTask>(false, [&] { order.push_back(1); }),
                                    std::make_shared<BlockTask>(false,
                                                                [&] {
                                                                    order.push_back(2);
                                                                    throw makeError("x");
                                                                }),
                                    std::make_shared<BlockTask>(false, [&] { order.push_back(3); })};
    });
    runChain({serial});
    EXPECT_EQ(order, (std::vector<int>{1, 2})) << "the third child is refused after the second failed";
    EXPECT_EQ(serial->result(), TaskResult::succeeded());
}

TEST_F(LazyTasks, LazyUITaskGeneratesOnMainAndFinishesWithTheGeneratedResult) {
    std::atomic<bool> generatedOnMain{false};
    auto lazy = std::make_shared<LazyUITask>([&]() -> TaskPtr {
        generatedOnMain = MainThread::isCurrent();
        return failing();
    });
    runChain({lazy});
    EXPECT_TRUE(generatedOnMain);
    EXPECT_EQ(lazy->result(), TaskResult::failed())
        << "a failed generated task still completes the lazy task";
    ASSERT_TRUE(lazy->task());

    auto none = std::make_shared<LazyUITask>([] { return TaskPtr(); });
    runChain({none});
    EXPECT_EQ(none->result(), TaskResult::succeeded());
}

TEST_F(LazyTasks, FlowBranchesOnItsPredecessors) {
    struct Row {
        bool predecessorFails;
        bool continueOnFailure;
        bool withBranchTask;
        TaskStatus expectedStatus;
        bool expectStopError;
        bool dependantRuns;
    };
    const Row rows[] = {
        {false, false, true, TaskStatus::cancelled, false, false}, // success task's own result
        {false, false, false, TaskStatus::succeeded, false, true},
        {true, false, true, TaskStatus::succeeded, true, true},
        {true, false, false, TaskStatus::failed, true, false},
        {true, true, true, TaskStatus::succeeded, false, true},
        {true, true, false, TaskStatus::succeeded, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "fails=" << row.predecessorFails << " continue="
                                          << row.continueOnFailure << " branch=" << row.withBranchTask);
        TaskPtr successTask = row.withBranchTask ? withResult(TaskResult::cancelled()) : nullptr;
        TaskPtr failureTask = row.withBranchTask ? withResult(TaskResult::succeeded()) : nullptr;
        auto flow = std::make_shared<FlowTask>(successTask, failureTask, row.continueOnFailure);
        bool dependantRan = false;
        auto dependant = std::make_shared<BlockTask>(false, [&] { dependantRan = true; });
        auto predecessor = row.predecessorFails ? failing() : withResult(TaskResult::succeeded());
        runChain({predecessor, flow, dependant});
        EXPECT_EQ(flow->result().status, row.expectedStatus);
        auto errors = flow->errors();
        if (row.expectStopError) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_TRUE(std::dynamic_pointer_cast<const FlowTask::StopError>(errors[0]));
        } else {
            EXPECT_TRUE(errors.empty());
        }
        EXPECT_EQ(dependantRan, row.dependantRuns);
    }

    // Without predecessors the success branch runs.
    auto alone = std::make_shared<FlowTask>(withResult(TaskResult::succeeded(Dictionary{{"ok", true}})),
                                            nullptr, false);
    runChain({alone});
    EXPECT_EQ(alone->result(), TaskResult::succeeded(Dictionary{{"ok", true}}));
}
