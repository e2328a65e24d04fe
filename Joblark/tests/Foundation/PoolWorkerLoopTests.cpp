#include "joblark/Foundation/OperationQueue.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Foundation/WorkerPool.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace joblark {
namespace {

// Pool workers never service a loop; their timers must still fire, all on one loop of its own.
TEST(PoolWorkerRunLoop, WorkersShareOneBackgroundTimerLoop) {
    constexpr int kOperations = 16; // more than there are cores
    OperationQueue queue(std::string("test.pool-timers"));
    std::mutex mutex;
    std::condition_variable firedCv;
    std::set<std::shared_ptr<RunLoop>> loops;
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
            loops.insert(loop);
            onWorkers += WorkerPool::isWorkerThread() ? 1 : 0;
        });
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(5s));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(firedCv.wait_for(lock, 5s, [&] { return fired == kOperations; }));
    EXPECT_EQ(onWorkers, kOperations);
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_NE(*loops.begin(), RunLoop::main());
    EXPECT_EQ(timerThreads.size(), 1u); // one thread, and never a worker
}

} // namespace
} // namespace joblark
