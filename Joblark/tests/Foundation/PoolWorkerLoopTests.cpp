#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/OperationQueue.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace joblark {
namespace {

constexpr auto kDeadline = 5s;
constexpr int kOperations = 16; // more than there are cores

// Pool workers never service a loop; their timers must still fire, all on one loop of its own.
TEST(PoolWorkerRunLoop, WorkersShareOneBackgroundTimerLoop) {
    OperationQueue queue(std::string("test.pool-timers"));
    std::mutex mutex;
    std::condition_variable firedCv;
    std::vector<std::shared_ptr<RunLoop>> loops;
    std::set<std::thread::id> timerThreads;
    int onWorkers = 0, fired = 0;
    for (int i = 0; i < kOperations; ++i)
        queue.addOperation([&] {
            auto loop = RunLoop::current(); // first use races between workers: still one loop
            Timer::scheduledTimer(0.001, false, [&](Timer&) {
                std::lock_guard lock(mutex);
                ++fired;
                if (!WorkerPool::isWorkerThread())
                    timerThreads.insert(std::this_thread::get_id());
                firedCv.notify_all();
            });
            std::lock_guard lock(mutex);
            loops.push_back(loop);
            onWorkers += WorkerPool::isWorkerThread() ? 1 : 0;
        });
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(kDeadline));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(firedCv.wait_for(lock, kDeadline, [&] { return fired == kOperations; }));
    EXPECT_EQ(onWorkers, kOperations);
    for (const auto& loop : loops)
        EXPECT_EQ(loop, loops.front());
    EXPECT_NE(loops.front(), RunLoop::main());
    EXPECT_EQ(timerThreads.size(), 1u); // one thread, and never a worker
}

TEST(PoolWorkerRunLoop, WorkersReachThePumpedMainThreadWithRunSync) {
    OperationQueue queue(std::string("test.pool-runsync"));
    int onMain = 0; // unsynchronised on purpose: only the main thread touches it
    std::atomic<int> finished{0};
    for (int i = 0; i < kOperations; ++i)
        queue.addOperation([&] {
            MainThread::runSync([&] { onMain += MainThread::isCurrent() ? 1 : 0; });
            ++finished;
            RunLoop::main()->wakeUp();
        });
    ASSERT_TRUE(RunLoop::main()->runUntil([&] { return finished == kOperations; }, kDeadline));
    EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(kDeadline));
    EXPECT_EQ(onMain, kOperations);
}

} // namespace
} // namespace joblark
