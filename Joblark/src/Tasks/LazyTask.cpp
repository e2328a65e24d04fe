#include "joblark/Tasks/LazyTask.hpp"

#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace joblark {

LazyTask::LazyTask(bool alwaysPerform, TaskGenerator taskGenerator)
    : alwaysPerform_(alwaysPerform), taskGenerator_(std::move(taskGenerator)) {}

LazyTask::TaskGenerator LazyTask::taskGenerator() const {
    return readField(taskGenerator_);
}

void LazyTask::setTaskGenerator(TaskGenerator generator) {
    writeField(taskGenerator_, std::move(generator));
}

TaskPtr LazyTask::task() const {
    return readField(task_);
}

void LazyTask::setTask(TaskPtr task) {
    writeField(task_, std::move(task));
}

void LazyTask::run() {
    auto generator = taskGenerator();
    TaskPtr generated = generator ? generator() : nullptr;
    if (!generated)
        return;
    setTask(generated);
    TaskController::performInSeries({generated}, true);
    setResult(generated->result());
}

void LazyBatchTask::run() {
    auto tasks = taskGenerator_ ? taskGenerator_() : std::nullopt;
    if (tasks)
        runGenerated(*tasks);
}

void LazyGroupTask::runGenerated(const std::vector<TaskPtr>& tasks) {
    TaskController::performInParallel(tasks, true);
}

void LazySerialTask::runGenerated(const std::vector<TaskPtr>& tasks) {
    TaskController::performInSeries(tasks, true);
}

LazyUITask::LazyUITask(bool alwaysPerform, TaskGenerator taskGenerator)
    : AsyncUITask(alwaysPerform, nullptr), taskGenerator_(std::move(taskGenerator)) {}

TaskPtr LazyUITask::task() const {
    return readField(task_);
}

void LazyUITask::doWork(CompletionHandler completionHandler) {
    TaskPtr generated = taskGenerator_ ? taskGenerator_() : nullptr;
    if (!generated) {
        completionHandler(TaskResult::succeeded());
        return;
    }
    {
        std::lock_guard lock(fieldsMutex_);
        task_ = generated;
    }
    if (!TaskController::ready()) {
        detail::noteSubmissionBeforeController();
        // Nothing would ever run the generated task; finish now rather than wait forever.
        completionHandler(generated->result());
        return;
    }
    auto finishing = std::make_shared<BlockTask>(
        true, [generated, completionHandler] { completionHandler(generated->result()); });
    TaskController::performInSeries({generated, finishing}, false);
}

} // namespace joblark
