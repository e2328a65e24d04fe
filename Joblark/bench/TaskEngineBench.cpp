// Task engine figures, each beside oneTBB doing the same shape in the same run:
//   chain of 10,000 BlockTasks, run only         vs. a task_group whose tasks run the next one
//   fan-out of 10,000 + join (performInParallel, vs. task_group::run ×N + wait
//     and a GroupTask of 10,000 children)
//   composites nested eight deep (255, 256 leaves) vs. task_groups nested eight deep
//   eight tasks that block for 1 s                (wall time; ideal is 1 s, TBB at its default)
// Ratios: divide the Joblark line's time by the TBB line's beside it. The CPU column is the whole
// process's CPU time, the fairer figure on a machine that other work shares.
#include "joblark/Foundation/WorkerPool.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/GroupTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <benchmark/benchmark.h>
#include <oneapi/tbb/task_group.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

using namespace joblark;

namespace {

constexpr int kTasks = 10'000;

void ensureController() {
    static TaskController controller;
}

void reportPerTask(benchmark::State& state, int tasks) {
    state.SetItemsProcessed(state.iterations() * tasks);
    state.counters["ns_per_task"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * tasks / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::vector<TaskPtr> trivialTasks(std::atomic<int>& ran, int count) {
    std::vector<TaskPtr> tasks;
    tasks.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        tasks.push_back(
            std::make_shared<BlockTask>(false, [&ran] { ran.fetch_add(1, std::memory_order_relaxed); }));
    return tasks;
}

void BM_ChainOfBlockTasks_RunOnly(benchmark::State& state) {
    ensureController();
    std::atomic<int> ran{0};
    for (auto _ : state) {
        state.PauseTiming();
        auto tasks = trivialTasks(ran, kTasks);
        for (std::size_t i = 1; i < tasks.size(); ++i)
            tasks[i]->addDependency(tasks[i - 1]);
        state.ResumeTiming();
        TaskController::performInParallel(tasks, true);
        state.PauseTiming();
        tasks.clear();
        state.ResumeTiming();
    }
    reportPerTask(state, kTasks);
}

void BM_TBB_ChainOfTasks(benchmark::State& state) {
    std::atomic<int> ran{0};
    for (auto _ : state) {
        tbb::task_group group;
        std::function<void(int)> step = [&](int i) {
            ran.fetch_add(1, std::memory_order_relaxed);
            if (i + 1 < kTasks)
                group.run([&step, i] { step(i + 1); });
        };
        group.run([&step] { step(0); });
        group.wait();
    }
    reportPerTask(state, kTasks);
}

void BM_FanOutAndJoin_PerformInParallel(benchmark::State& state) {
    ensureController();
    std::atomic<int> ran{0};
    for (auto _ : state) {
        state.PauseTiming();
        auto tasks = trivialTasks(ran, kTasks);
        state.ResumeTiming();
        TaskController::performInParallel(tasks, true);
        state.PauseTiming();
        tasks.clear();
        state.ResumeTiming();
    }
    reportPerTask(state, kTasks);
}

void BM_FanOutAndJoin_GroupTask(benchmark::State& state) {
    ensureController();
    std::atomic<int> ran{0};
    for (auto _ : state) {
        state.PauseTiming();
        auto group = std::make_shared<GroupTask>(trivialTasks(ran, kTasks));
        state.ResumeTiming();
        TaskController::performInParallel(std::vector<TaskPtr>{group}, true);
        state.PauseTiming();
        group.reset();
        state.ResumeTiming();
    }
    reportPerTask(state, kTasks);
}

void BM_TBB_FanOutAndJoin(benchmark::State& state) {
    std::atomic<int> ran{0};
    for (auto _ : state) {
        tbb::task_group group;
        for (int i = 0; i < kTasks; ++i)
            group.run([&ran] { ran.fetch_add(1, std::memory_order_relaxed); });
        group.wait();
    }
    reportPerTask(state, kTasks);
}

void BM_CompositesNestedEightDeep(benchmark::State& state) {
    ensureController();
    WorkerPool::resetPeakThreadCount();
    std::atomic<int> leaves{0};
    for (auto _ : state) {
        state.PauseTiming();
        std::function<TaskPtr(int)> build = [&](int depth) -> TaskPtr {
            if (depth == 0)
                return std::make_shared<BlockTask>(false,
                                                   [&] { leaves.fetch_add(1, std::memory_order_relaxed); });
            std::vector<TaskPtr> children{build(depth - 1), build(depth - 1)};
            if (depth % 2)
                return std::make_shared<GroupTask>(children);
            return std::make_shared<SerialTask>(children);
        };
        auto root = build(8);
        state.ResumeTiming();
        TaskController::performInParallel(std::vector<TaskPtr>{root}, true);
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
    state.counters["peak_threads"] = WorkerPool::peakThreadCount();
    state.counters["cores"] = std::thread::hardware_concurrency();
}

void BM_TBB_NestedEightDeep(benchmark::State& state) {
    std::atomic<int> leaves{0};
    std::function<void(int)> node = [&](int depth) {
        if (depth == 0) {
            leaves.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        tbb::task_group group;
        if (depth % 2) { // group: both at once
            group.run([&, depth] { node(depth - 1); });
            group.run([&, depth] { node(depth - 1); });
            group.wait();
        } else { // serial: one after the other, each waited for
            group.run([&, depth] { node(depth - 1); });
            group.wait();
            group.run([&, depth] { node(depth - 1); });
            group.wait();
        }
    };
    for (auto _ : state)
        node(8);
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

void BM_TBB_EightTasksBlockingOneSecond(benchmark::State& state) {
    for (auto _ : state) {
        tbb::task_group group;
        for (int i = 0; i < 8; ++i)
            group.run([] { std::this_thread::sleep_for(std::chrono::seconds(1)); });
        group.wait();
    }
}

} // namespace

BENCHMARK(BM_ChainOfBlockTasks_RunOnly)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_TBB_ChainOfTasks)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_FanOutAndJoin_PerformInParallel)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_FanOutAndJoin_GroupTask)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_TBB_FanOutAndJoin)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_CompositesNestedEightDeep)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_TBB_NestedEightDeep)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_EightTasksBlockingOneSecond)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_TBB_EightTasksBlockingOneSecond)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
