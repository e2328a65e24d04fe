// Task engine figures, each beside a baseline measured in the same run:
//   serial chain of BlockTasks        vs. a bare two-thread hand-off (condition-variable ping-pong)
//   group of CPU-bound children       vs. a minimal fixed pool with a latch
//   eight tasks that block for 1 s    (wall time; ideal is 1 s)
//   composites nested eight deep      (wall time and peak thread count)
#include "joblark/Foundation/WorkerPool.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/GroupTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

using namespace joblark;

namespace {

constexpr int kTasks = 10'000;

void ensureController() {
    static TaskController controller;
}

// A little arithmetic that the optimiser cannot drop (about 50 ns).
std::uint64_t spin(std::uint64_t seed) {
    for (int i = 0; i < 64; ++i)
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return seed;
}

void reportPerTask(benchmark::State& state, int tasks) {
    state.SetItemsProcessed(state.iterations() * tasks);
    state.counters["us_per_task"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * tasks / 1e6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SerialChainOfBlockTasks(benchmark::State& state) {
    ensureController();
    std::atomic<int> ran{0};
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<TaskPtr> tasks;
        tasks.reserve(kTasks);
        for (int i = 0; i < kTasks; ++i)
            tasks.push_back(std::make_shared<BlockTask>(false, [&ran] { ++ran; }));
        state.ResumeTiming();
        TaskController::performInSeries(tasks, true);
        state.PauseTiming();
        tasks.clear();
        state.ResumeTiming();
    }
    reportPerTask(state, kTasks);
}

void BM_Baseline_TwoThreadHandOff(benchmark::State& state) {
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable turn;
        int next = 0; // even: main's turn, odd: the other thread's
        std::thread other([&] {
            std::unique_lock lock(mutex);
            for (int i = 0; i < kTasks; ++i) {
                turn.wait(lock, [&] { return next % 2 == 1; });
                ++next;
                turn.notify_one();
            }
        });
        {
            std::unique_lock lock(mutex);
            for (int i = 0; i < kTasks; ++i) {
                turn.wait(lock, [&] { return next % 2 == 0; });
                ++next;
                turn.notify_one();
            }
            turn.wait(lock, [&] { return next == 2 * kTasks; });
        }
        other.join();
    }
    // Each round trip is two hand-offs; one per task is the comparable figure.
    reportPerTask(state, 2 * kTasks);
}

void BM_GroupOfCpuBoundChildren(benchmark::State& state) {
    ensureController();
    std::atomic<std::uint64_t> sink{0};
    WorkerPool::resetPeakThreadCount();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<TaskPtr> children;
        children.reserve(kTasks);
        for (int i = 0; i < kTasks; ++i)
            children.push_back(std::make_shared<BlockTask>(false, [&sink, i] {
                sink.fetch_add(spin(static_cast<std::uint64_t>(i)), std::memory_order_relaxed);
            }));
        auto group = std::make_shared<GroupTask>(children);
        children.clear();
        state.ResumeTiming();
        TaskController::performInParallel(std::vector<TaskPtr>{group}, true);
        state.PauseTiming();
        group.reset();
        state.ResumeTiming();
    }
    reportPerTask(state, kTasks);
    state.counters["peak_threads"] = WorkerPool::peakThreadCount();
    state.counters["cores"] = std::thread::hardware_concurrency();
}

void BM_Baseline_FixedPoolWithLatch(benchmark::State& state) {
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::uint64_t> sink{0};
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable available;
        std::vector<std::function<void()>> queue;
        queue.reserve(kTasks);
        std::latch done(kTasks);
        std::vector<std::thread> pool;
        for (unsigned w = 0; w < workers; ++w)
            pool.emplace_back([&] {
                for (;;) {
                    std::function<void()> job;
                    {
                        std::unique_lock lock(mutex);
                        available.wait(lock, [&] { return !queue.empty(); });
                        job = std::move(queue.back());
                        queue.pop_back();
                        if (!job)
                            return;
                    }
                    job();
                    done.count_down();
                }
            });
        {
            std::lock_guard lock(mutex);
            for (int i = 0; i < kTasks; ++i)
                queue.emplace_back([&sink, i] {
                    sink.fetch_add(spin(static_cast<std::uint64_t>(i)), std::memory_order_relaxed);
                });
        }
        available.notify_all();
        done.wait();
        {
            std::lock_guard lock(mutex);
            for (unsigned w = 0; w < workers; ++w)
                queue.emplace_back(nullptr);
        }
        available.notify_all();
        for (auto& t : pool)
            t.join();
    }
    reportPerTask(state, kTasks);
}

void BM_EightTasksBlockingOneSecond(benchmark::State& state) {
    ensureController();
    WorkerPool::resetPeakThreadCount();
    for (auto _ : state) {
        std::vector<TaskPtr> tasks;
        for (int i = 0; i < 8; ++i)
            tasks.push_back(std::make_shared<BlockTask>(
                false, [] { std::this_thread::sleep_for(std::chrono::seconds(1)); }));
        TaskController::performInParallel(tasks, true);
    }
    state.counters["peak_threads"] = WorkerPool::peakThreadCount();
}

void BM_CompositesNestedEightDeep(benchmark::State& state) {
    ensureController();
    WorkerPool::resetPeakThreadCount();
    std::atomic<int> leaves{0};
    for (auto _ : state) {
        std::function<TaskPtr(int)> build = [&](int depth) -> TaskPtr {
            if (depth == 0)
                return std::make_shared<BlockTask>(false, [&] { ++leaves; });
            std::vector<TaskPtr> children{build(depth - 1), build(depth - 1)};
            if (depth % 2)
                return std::make_shared<GroupTask>(children);
            return std::make_shared<SerialTask>(children);
        };
        TaskController::performInParallel(std::vector<TaskPtr>{build(8)}, true);
    }
    state.counters["peak_threads"] = WorkerPool::peakThreadCount();
    state.counters["leaves_per_run"] =
        static_cast<double>(leaves.load()) / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_SerialChainOfBlockTasks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline_TwoThreadHandOff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GroupOfCpuBoundChildren)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline_FixedPoolWithLatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EightTasksBlockingOneSecond)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CompositesNestedEightDeep)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
