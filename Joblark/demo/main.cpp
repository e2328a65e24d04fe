// joblark-demo: a short tour of the task engine. Three "checks" run at once in a group, a flow
// decides what happens next, a retry task copes with a flaky step, and a main-thread task reports.
#include "joblark/Joblark.hpp"

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

using namespace joblark;
using namespace std::chrono_literals;

namespace {

TaskPtr check(const std::string& name, int milliseconds, bool healthy) {
    auto task = std::make_shared<BlockTask>(false, nullptr);
    task->setBlock([t = task.get(), name, milliseconds, healthy] {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        if (!healthy)
            throw makeError(name + " did not answer");
        t->setResult(TaskResult::succeeded(Dictionary{{name, milliseconds}}));
    });
    return task;
}

} // namespace

int main(int argc, char** argv) {
    bool failOne = argc > 1 && std::string(argv[1]) == "--fail";
    TaskController controller;

    auto checks = std::make_shared<GroupTask>(
        std::vector<TaskPtr>{check("api", 120, true), check("web", 80, !failOne), check("db", 40, true)},
        true);

    int attempts = 0;
    auto flaky = std::make_shared<SafeRetryTask>(false, 3, 0.05, [&attempts] {
        if (++attempts < 2)
            throw makeError("cache warming up");
    });

    auto report = std::make_shared<UITask>(true, [&] {
        auto summary = checks->result();
        std::printf("checks: %s\n", summary.debugDescription().c_str());
        if (summary.values)
            for (const auto& [name, value] : *summary.values)
                if (auto ms = value.asInteger())
                    std::printf("  %-4s answered in %lld ms\n", name.c_str(), static_cast<long long>(*ms));
        for (const auto& error : checks->errors())
            std::printf("  error: %s\n", error->localizedDescription().c_str());
        std::printf("flaky step: %s after %d attempts\n", flaky->result().debugDescription().c_str(),
                    attempts);
    });

    auto flow = std::make_shared<FlowTask>(flaky, nullptr, false);
    TaskController::performInSeries(std::vector<TaskPtr>{checks, flow}, false);
    report->addDependency(flow);
    TaskController::performInParallel(std::vector<TaskPtr>{report}, false);

    // The main thread serves the main run loop until the report has been printed.
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!report->isFinished() && std::chrono::steady_clock::now() < deadline)
        RunLoop::main()->runUntil([&] { return report->isFinished(); }, 10ms);
    std::printf("flow: %s, %s\n", flow->result().debugDescription().c_str(),
                flow->errors().empty() ? "chain went on" : "chain stopped");
    return checks->result().status.ok() ? 0 : 1;
}
