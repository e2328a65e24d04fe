#include "TestSupport.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/SafeRetryTask.hpp"

#include <gtest/gtest.h>

#include <charconv>

using namespace joblark;
using namespace joblark::testing;

namespace {

TaskPtr withStatus(TaskStatus status, std::optional<Dictionary> values = std::nullopt) {
    auto task = std::make_shared<BlockTask>(false, nullptr);
    task->setBlock([t = task.get(), status, values] { t->setResult(TaskResult{status, values}); });
    return task;
}

// The waits logged as "[DEBUG] Task Failed. Sleeping: <seconds>...".
std::vector<double> loggedWaits(const LogCapture& log) {
    static const std::string prefix = "[DEBUG] Task Failed. Sleeping: ";
    std::vector<double> waits;
    for (const auto& message : log.messages()) {
        if (message.rfind(prefix, 0) != 0)
            continue;
        EXPECT_EQ(message.substr(message.size() - 3), "...");
        double value = -1;
        std::from_chars(message.data() + prefix.size(), message.data() + message.size() - 3, value);
        waits.push_back(value);
    }
    return waits;
}

} // namespace

class RetryTasks : public ::testing::Test {
protected:
    void SetUp() override { useTaskController(); }
    static void runToEnd(const TaskPtr& task) {
        TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
        ASSERT_TRUE(waitUntilFinished(task, 30s));
    }
};

TEST_F(RetryTasks, SafeRetryStopsAtTheFirstCleanAttempt) {
    int attempts = 0;
    auto task = std::make_shared<SafeRetryTask>(false, 3, 0.01, [&] {
        if (++attempts == 1)
            throw makeError("flaky");
    });
    runToEnd(task);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(task->retries(), 2);
    EXPECT_EQ(task->result(), TaskResult::succeeded());
    ASSERT_EQ(task->errors().size(), 1u) << "the failed attempt's error is kept";
    EXPECT_EQ(task->errors()[0]->localizedDescription(), "flaky");
}

TEST_F(RetryTasks, SafeRetryFailsWithEveryAttemptsErrorAndWaitsBetweenAttempts) {
    int attempts = 0;
    auto started = std::chrono::steady_clock::now();
    auto task = std::make_shared<SafeRetryTask>(false, 4, 0.05, [&] {
        ++attempts;
        throw makeError("always");
    });
    runToEnd(task);
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(attempts, 4);
    EXPECT_EQ(task->result().status, TaskStatus::failed);
    EXPECT_EQ(task->errors().size(), 4u);
    EXPECT_GE(elapsed, 150ms) << "three waits of 50 ms between four attempts";

    int never = 0;
    for (auto limit : {std::optional<std::int64_t>{}, std::optional<std::int64_t>{0}}) {
        auto idle = std::make_shared<SafeRetryTask>(false, limit, 0.0, [&] { ++never; });
        runToEnd(idle);
        EXPECT_EQ(idle->result(), TaskResult::succeeded());
    }
    EXPECT_EQ(never, 0);
}

TEST_F(RetryTasks, LazyRetrySucceedingAtOnceNeitherRetriesNorSleeps) {
    LogCapture log;
    auto task = std::make_shared<LazySafeRetryTask>(false, 3, 5.0, [] {
        return withStatus(TaskStatus::succeeded, Dictionary{{"v", 1}});
    });
    runToEnd(task);
    EXPECT_EQ(task->result(), TaskResult::succeeded(Dictionary{{"v", 1}}));
    EXPECT_EQ(task->retries(), 0);
    EXPECT_FALSE(log.contains("[DEBUG]"));
}

TEST_F(RetryTasks, LazyRetryWaitsDelayPlusJitterAndLogsTheRetry) {
    LogCapture log;
    int calls = 0;
    TaskPtr firstAttempt;
    auto task = std::make_shared<LazySafeRetryTask>(false, 3, 0.01, [&]() -> TaskPtr {
        auto attempt = ++calls == 1 ? withStatus(TaskStatus::failed, Dictionary{{"try", 1}})
                                    : withStatus(TaskStatus::succeeded, Dictionary{{"try", 2}});
        if (calls == 1)
            firstAttempt = attempt;
        return attempt;
    });
    task->setRetryJitterMilliseconds({5, 20});
    runToEnd(task);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(task->result(), TaskResult::succeeded(Dictionary{{"try", 2}}));
    auto waits = loggedWaits(log);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_GE(waits[0], 0.015);
    EXPECT_LE(waits[0], 0.029);
    EXPECT_EQ(log.count("[DEBUG] Retrying " + firstAttempt->description() + ": 1/3"), 1u);
}

TEST_F(RetryTasks, LazyRetryEndsWithTheLastAttemptAfterSleepingEachTime) {
    LogCapture log;
    int calls = 0;
    auto task = std::make_shared<LazySafeRetryTask>(false, 3, 0.02, [&] {
        ++calls;
        return withStatus(TaskStatus::failed, Dictionary{{"try", calls}});
    });
    task->setRetryJitterMilliseconds({500, 500}); // an empty range adds nothing
    runToEnd(task);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(task->result(), TaskResult::failed(Dictionary{{"try", 3}}));
    EXPECT_EQ(loggedWaits(log), (std::vector<double>{0.02, 0.02, 0.02}));
    EXPECT_EQ(log.count("[DEBUG] Retrying "), 2u);
    EXPECT_TRUE(task->errors().empty()) << "attempts' errors stay on the attempts";

    LogCapture quiet;
    int emptyCalls = 0;
    auto nothing = std::make_shared<LazySafeRetryTask>(false, 3, 0.0, [&] {
        ++emptyCalls;
        return TaskPtr();
    });
    nothing->setRetryJitterMilliseconds({0, 0});
    runToEnd(nothing);
    EXPECT_EQ(emptyCalls, 3);
    EXPECT_EQ(nothing->result(), TaskResult::succeeded());
    EXPECT_EQ(loggedWaits(quiet).size(), 3u);
    EXPECT_EQ(quiet.count("[DEBUG] Retrying "), 0u) << "no previous task to name";
}
