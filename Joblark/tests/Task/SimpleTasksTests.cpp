#include "TestSupport.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/AsyncTask.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/SimpleAsyncronousOperation.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace joblark;
using namespace joblark::testing;

TEST(BlockTaskOutcome, StatusFollowsReportedErrorsUnlessTheBlockDecided) {
    auto clean = std::make_shared<BlockTask>(false, [] {});
    clean->start();
    EXPECT_EQ(clean->result(), TaskResult::succeeded());

    auto twice = std::make_shared<BlockTask>(false, nullptr);
    twice->setBlock([t = twice.get()] {
        t->report(makeError("one"));
        t->report(makeError("two"));
    });
    twice->start();
    EXPECT_EQ(twice->result(), TaskResult::failed());
    EXPECT_EQ(twice->errors().size(), 2u);
    EXPECT_TRUE(twice->isCancelled());

    auto decided = std::make_shared<BlockTask>(false, nullptr);
    decided->setBlock([t = decided.get()] {
        t->setResult(TaskResult::succeeded(Dictionary{{"answer", 42}}));
        t->report(makeError("noted"));
    });
    decided->start();
    EXPECT_EQ(decided->result(), TaskResult::succeeded(Dictionary{{"answer", 42}}));
    EXPECT_EQ(decided->errors().size(), 1u);

    auto undecided = std::make_shared<BlockTask>(false, nullptr);
    undecided->setBlock([t = undecided.get()] {
        t->setResult(TaskResult{TaskStatus::unknown, Dictionary{{"x", 1}}});
    });
    undecided->start();
    EXPECT_EQ(undecided->result(), TaskResult::succeeded()) << "values of an undecided result are dropped";
}

TEST(BlockTaskOutcome, ThrownErrorsKeepTheirTypeAndNeverEscape) {
    struct CustomError : ErrorBase<CustomError> {
        std::string localizedDescription() const override { return "custom"; }
    };
    auto byValue = std::make_shared<BlockTask>(false, [] { throw CustomError(); });
    auto byPointer =
        std::make_shared<BlockTask>(false, [] { throw ErrorPtr(std::make_shared<CustomError>()); });
    auto standard = std::make_shared<BlockTask>(false, [] { throw std::runtime_error("std failure"); });
    auto odd = std::make_shared<BlockTask>(false, [] { throw 7; });
    for (auto& task : {byValue, byPointer, standard, odd}) {
        task->start();
        EXPECT_EQ(task->result().status, TaskStatus::failed);
        ASSERT_EQ(task->errors().size(), 1u);
    }
    EXPECT_TRUE(std::dynamic_pointer_cast<const CustomError>(byValue->errors()[0]));
    EXPECT_TRUE(std::dynamic_pointer_cast<const CustomError>(byPointer->errors()[0]));
    EXPECT_EQ(standard->errors()[0]->localizedDescription(), "std failure");
}

TEST(AsyncTaskOutcome, TheHandlerDecidesTheResult) {
    useTaskController();
    auto nothing = std::make_shared<AsyncTask>([](AsyncTask::CompletionHandler done) { done(std::nullopt); });
    nothing->start();
    EXPECT_TRUE(nothing->isFinished());
    EXPECT_EQ(nothing->result(), TaskResult::succeeded());

    Dictionary values{{"why", "server said no"}};
    auto later = std::make_shared<AsyncTask>([&](AsyncTask::CompletionHandler done) {
        std::thread([done, values] { done(TaskResult::failed(values)); }).detach();
    });
    TaskController::performInParallel(std::vector<TaskPtr>{later}, false);
    ASSERT_TRUE(waitUntilFinished(later));
    EXPECT_EQ(later->result(), TaskResult::failed(values));
    EXPECT_TRUE(later->errors().empty());

    // Errors do not matter, and only the first completion counts.
    AsyncTask::CompletionHandler kept;
    auto twice = std::make_shared<AsyncTask>([&](AsyncTask::CompletionHandler done) { kept = done; });
    twice->report(makeError("ignored for the status"));
    LogCapture log;
    twice->start();
    EXPECT_FALSE(twice->isFinished());
    kept(TaskResult::succeeded(Dictionary{{"n", 1}}));
    kept(TaskResult::failed());
    EXPECT_EQ(twice->result(), TaskResult::succeeded(Dictionary{{"n", 1}}));
    EXPECT_TRUE(log.contains("completed more than once"));

    auto throwing =
        std::make_shared<AsyncTask>([](AsyncTask::CompletionHandler) { throw makeError("work threw"); });
    throwing->start();
    EXPECT_EQ(throwing->result().status, TaskStatus::failed);
    EXPECT_EQ(throwing->errors().size(), 1u);
}

TEST(MainThreadTasks, UITaskRunsItsBlockOnTheMainThread) {
    useTaskController();
    std::atomic<bool> onMain{false};
    std::thread::id blockThread;
    auto task = std::make_shared<UITask>(false, [&] {
        onMain = MainThread::isCurrent();
        blockThread = std::this_thread::get_id();
        throw makeError("reported on main");
    });
    TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
    ASSERT_TRUE(waitUntilFinished(task));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(blockThread, std::this_thread::get_id());
    EXPECT_EQ(task->result().status, TaskStatus::failed);

    // Started on the main thread itself it runs inline, without waiting for the loop.
    bool ran = false;
    auto inlineTask = std::make_shared<UITask>(false, [&] { ran = true; });
    inlineTask->start();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(inlineTask->isFinished());
}

TEST(MainThreadTasks, AsyncUITaskCallsWorkOnMainAndMayFinishLater) {
    useTaskController();
    std::atomic<bool> onMain{false};
    AsyncTask::CompletionHandler kept;
    auto task = std::make_shared<AsyncUITask>(false, [&](AsyncTask::CompletionHandler done) {
        onMain = MainThread::isCurrent();
        kept = done;
    });
    TaskController::performInParallel(std::vector<TaskPtr>{task}, false);
    ASSERT_TRUE(pumpMainUntil([&] { return task->isExecuting() && kept != nullptr; }));
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(task->isFinished());
    kept(TaskResult::cancelled());
    EXPECT_TRUE(task->isFinished());
    EXPECT_EQ(task->result().status, TaskStatus::cancelled);

    auto failed = std::make_shared<BlockTask>(false, [] { throw makeError("x"); });
    auto always =
        std::make_shared<AsyncUITask>(true, [](AsyncTask::CompletionHandler done) { done(std::nullopt); });
    auto refused =
        std::make_shared<AsyncUITask>(false, [](AsyncTask::CompletionHandler done) { done(std::nullopt); });
    always->addDependency(failed);
    refused->addDependency(failed);
    TaskController::performInParallel(std::vector<TaskPtr>{failed, always, refused}, false);
    ASSERT_TRUE(waitUntilFinished(std::vector<std::shared_ptr<Operation>>{always, refused}));
    EXPECT_EQ(always->result().status, TaskStatus::succeeded);
    EXPECT_EQ(refused->result().status, TaskStatus::unknown);
}

TEST(MainThreadTasks, SimpleAsyncronousOperationFinishesOnTheMainThread) {
    useTaskController();
    std::mutex mutex;
    std::function<void()> finish; // handed over from the worker that runs the block
    auto op = std::make_shared<SimpleAsyncronousOperation>([&](std::function<void()> done) {
        std::lock_guard lock(mutex);
        finish = done;
    });
    std::atomic<bool> finishedOnMain{false};
    std::vector<std::string> keys;
    op->addChangeObserver([&](Operation&, std::string_view key, Operation::ChangePhase phase) {
        if (phase == Operation::ChangePhase::did)
            keys.emplace_back(key);
        if (key == "isFinished" && phase == Operation::ChangePhase::did)
            finishedOnMain = MainThread::isCurrent();
    });
    LogCapture log;
    TaskController::queue()->addOperation(op);
    ASSERT_TRUE(pumpMainUntil([&] {
        std::lock_guard lock(mutex);
        return finish != nullptr;
    }));
    EXPECT_FALSE(op->isExecuting()) << "it never enters Executing";
    EXPECT_FALSE(op->isCancelled());
    std::thread worker([&] {
        std::lock_guard lock(mutex);
        finish();
    });
    ASSERT_TRUE(pumpMainUntil([&] { return op->isFinished(); }));
    worker.join();
    EXPECT_TRUE(finishedOnMain);
    EXPECT_TRUE(op->isCancelled()) << "reports cancelled once finished";
    EXPECT_EQ(keys, (std::vector<std::string>{"isReady", "isFinished"}));
    auto messages = log.messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Joblark.SimpleAsyncronousOperation: Starting..."),
              messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Joblark.SimpleAsyncronousOperation: Finished."),
              messages.end());
}
