#include "TestSupport.hpp"

#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/GroupTask.hpp"

#include <gtest/gtest.h>

#include <numeric>

using namespace joblark;
using namespace joblark::testing;

namespace {

TaskPtr succeeding(std::optional<Dictionary> values = std::nullopt) {
    auto task = std::make_shared<BlockTask>(false, nullptr);
    task->setBlock([t = task.get(), values] { t->setResult(TaskResult::succeeded(values)); });
    return task;
}

TaskPtr failing(ErrorPtr error) {
    return std::make_shared<BlockTask>(false, [error] { throw error; });
}

Array errorsOf(const TaskResult& result) {
    if (!result.values)
        return {};
    auto it = result.values->find("errors");
    return it != result.values->end() && it->second.asArray() ? *it->second.asArray() : Array{};
}

} // namespace

class Composites : public ::testing::Test {
protected:
    void SetUp() override { useTaskController(); }
    static void runToEnd(const TaskPtr& task) {
        TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
        ASSERT_TRUE(waitUntilFinished(task));
    }
};

TEST_F(Composites, GroupSumsUpSuccessfulChildren) {
    auto combined = std::make_shared<GroupTask>(
        std::vector<TaskPtr>{succeeding(Dictionary{{"a", 1}}), succeeding(Dictionary{{"a", 2}, {"b", 3}}),
                             succeeding()},
        true);
    runToEnd(combined);
    EXPECT_EQ(combined->result(), TaskResult::succeeded(Dictionary{{"a", 2}, {"b", 3}}));

    auto first = succeeding(Dictionary{{"a", 1}});
    auto second = succeeding(Dictionary{{"a", 2}, {"b", 3}});
    auto listed = std::make_shared<GroupTask>(std::vector<TaskPtr>{first, second});
    runToEnd(listed);
    EXPECT_EQ(listed->result(),
              TaskResult::succeeded(Dictionary{{"results", Array{first->result(), second->result()}}}));

    auto noValues = std::make_shared<GroupTask>(std::vector<TaskPtr>{succeeding(), succeeding()}, true);
    runToEnd(noValues);
    EXPECT_EQ(noValues->result(), TaskResult::succeeded(Dictionary{})) << "empty dictionary, not absent";

    auto empty = std::make_shared<GroupTask>(std::vector<TaskPtr>{});
    runToEnd(empty);
    EXPECT_EQ(empty->result(), TaskResult::succeeded());

    // A child that succeeded but reported errors passes them up even though the group succeeds.
    auto noisy = std::make_shared<BlockTask>(false, nullptr);
    noisy->setBlock([t = noisy.get()] {
        t->report(makeError("warning"));
        t->setResult(TaskResult::succeeded());
    });
    auto group = std::make_shared<GroupTask>(std::vector<TaskPtr>{succeeding(), noisy});
    runToEnd(group);
    EXPECT_EQ(group->result().status, TaskStatus::succeeded);
    ASSERT_EQ(group->errors().size(), 1u);
    EXPECT_EQ(group->errors()[0]->localizedDescription(), "warning");
}

TEST_F(Composites, GroupFailureListsEveryChildsErrors) {
    auto error = makeError("second broke");
    auto group =
        std::make_shared<GroupTask>(std::vector<TaskPtr>{succeeding(), failing(error), succeeding()}, true);
    runToEnd(group);
    EXPECT_EQ(group->result().status, TaskStatus::failed);
    EXPECT_EQ(errorsOf(group->result()), (Array{Array{}, Array{error}, Array{}}));
    ASSERT_EQ(group->errors().size(), 1u);
    EXPECT_EQ(group->errors()[0], error);
    EXPECT_TRUE(group->isCancelled());
}

TEST_F(Composites, SerialStopsAtTheFirstFailure) {
    auto error = makeError("first broke");
    std::atomic<int> later{0};
    auto counting = [&] { return std::make_shared<BlockTask>(false, [&] { ++later; }); };
    auto serial = std::make_shared<SerialTask>(std::vector<TaskPtr>{failing(error), counting(), counting()});
    runToEnd(serial);
    EXPECT_EQ(later.load(), 0);
    EXPECT_EQ(serial->result().status, TaskStatus::failed);
    EXPECT_EQ(errorsOf(serial->result()), (Array{Array{error}, Array{}, Array{}}));
    for (std::size_t i = 1; i < serial->tasks().size(); ++i)
        EXPECT_EQ(serial->tasks()[i]->result().status, TaskStatus::unknown);

    auto emptyListed = std::make_shared<SerialTask>(std::vector<TaskPtr>{});
    runToEnd(emptyListed);
    EXPECT_EQ(emptyListed->result(), TaskResult::succeeded(Dictionary{{"results", Array{}}}));
    auto emptyCombined = std::make_shared<SerialTask>(std::vector<TaskPtr>{}, true);
    runToEnd(emptyCombined);
    EXPECT_EQ(emptyCombined->result(), TaskResult::succeeded(Dictionary{}));
}

TEST_F(Composites, SerialRunsOneChildAtATimeInOrder) {
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> overlap{0};
    std::vector<TaskPtr> children;
    for (int i = 0; i < 20; ++i)
        children.push_back(std::make_shared<BlockTask>(false, [&, i] {
            if (++running > 1)
                ++overlap;
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            --running;
        }));
    auto serial = std::make_shared<SerialTask>(children);
    runToEnd(serial);
    EXPECT_EQ(overlap.load(), 0);
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

