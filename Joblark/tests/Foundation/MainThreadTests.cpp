#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/RunLoop.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace joblark {
namespace {

constexpr auto kDeadline = 5s;

// Runs `body` on `threads` new threads while the main loop is pumped; true when all finished in time.
bool onThreadsWhilePumping(int threads, const std::function<void()>& body) {
    std::atomic<int> finished{0};
    std::vector<std::thread> started;
    for (int i = 0; i < threads; ++i)
        started.emplace_back([&] {
            body();
            ++finished;
            RunLoop::main()->wakeUp();
        });
    bool done = RunLoop::main()->runUntil([&] { return finished == threads; }, kDeadline);
    for (auto& t : started)
        t.join();
    return done;
}

TEST(MainThread, RunSyncOnMainRunsInlineRunAsyncLaterInOrder) {
    bool elsewhere = true;
    std::thread([&] { elsewhere = MainThread::isCurrent(); }).join();
    EXPECT_FALSE(elsewhere);
    std::vector<int> order;
    MainThread::runAsync([&] { order.push_back(2); });
    MainThread::runSync([&] { order.push_back(1); }); // nothing pumps the loop: must not wait for it
    EXPECT_EQ(order, (std::vector<int>{1}));
    MainThread::runAsync([&] { order.push_back(3); });
    ASSERT_TRUE(RunLoop::main()->runUntil([&] { return order.size() == 3; }, kDeadline));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainThread, RunSyncFromOtherThreadsRunsOnThePumpedLoopAndRethrows) {
    constexpr int kThreads = 4, kCalls = 50;
    int onMain = 0; // deliberately unsynchronised: only the main thread may touch it
    std::atomic<int> doneOnReturn{0};
    std::string runtimeMessage, errorMessage;
    ASSERT_TRUE(onThreadsWhilePumping(kThreads, [&] {
        for (int i = 0; i < kCalls; ++i) {
            bool ran = false;
            MainThread::runSync([&] {
                onMain += MainThread::isCurrent() ? 1 : 0;
                ran = true;
            });
            doneOnReturn += ran ? 1 : 0;
        }
    }));
    ASSERT_TRUE(onThreadsWhilePumping(1, [&] {
        try {
            MainThread::runSync([] { throw std::runtime_error("main said no"); });
        } catch (const std::runtime_error& e) {
            runtimeMessage = e.what();
        }
        try {
            MainThread::runSync([] { throw GenericError("typed failure"); });
        } catch (const Error& e) {
            errorMessage = e.localizedDescription();
        }
    }));
    EXPECT_EQ(onMain, kThreads * kCalls);
    EXPECT_EQ(doneOnReturn, kThreads * kCalls);
    EXPECT_EQ(runtimeMessage, "main said no");
    EXPECT_EQ(errorMessage, "typed failure");
}

TEST(MainThread, InstalledExecutorCarriesTheWorkAndDroppedWorkFailsTheCaller) {
    struct Restore {
        ~Restore() { MainThread::setExecutor({}); }
    } restore;
    std::atomic<int> handedOver{0};
    MainThread::setExecutor([&](MainThread::Work work) {
        ++handedOver;
        RunLoop::main()->perform(std::move(work));
    });
    ASSERT_TRUE(onThreadsWhilePumping(1, [] { MainThread::runSync([] {}); }));
    EXPECT_EQ(handedOver, 1);

    MainThread::setExecutor([](MainThread::Work) {}); // a toolkit loop that already quit
    auto caller = std::async(std::launch::async, [] { MainThread::runSync([] {}); });
    ASSERT_EQ(caller.wait_for(kDeadline), std::future_status::ready);
    EXPECT_THROW(caller.get(), std::runtime_error);
}

TEST(MainThread, AdoptCurrentThreadMovesTheMainThread) {
    std::promise<void> adopted;
    std::promise<bool> ranOnMain;
    std::atomic<bool> delivered{false}, mainThere{false};
    std::thread other([&] {
        MainThread::adoptCurrentThread();
        mainThere = MainThread::isCurrent() && RunLoop::current() == RunLoop::main();
        adopted.set_value();
        RunLoop::main()->runUntil([&] { return delivered.load(); }, kDeadline);
    });
    bool adoptedInTime = adopted.get_future().wait_for(kDeadline) == std::future_status::ready;
    bool mainHere = MainThread::isCurrent() || RunLoop::main()->isCurrent();
    auto result = ranOnMain.get_future();
    MainThread::runAsync([&] {
        ranOnMain.set_value(MainThread::isCurrent());
        delivered = true;
    });
    bool ranInTime = result.wait_for(kDeadline) == std::future_status::ready;
    other.join();
    MainThread::adoptCurrentThread(); // back to this thread before anything can fail
    ASSERT_TRUE(adoptedInTime && ranInTime);
    EXPECT_TRUE(mainThere);
    EXPECT_FALSE(mainHere);
    EXPECT_TRUE(result.get());
}

} // namespace
} // namespace joblark
