#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/AsyncTask.hpp"
#include "joblark/Tasks/SimpleTask.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Thread safety: Like every Task: accessors may be called from any thread; the generator runs once, on the
// thread that runs the task (the main thread for LazyUITask).

namespace joblark {

/// Builds its work when it starts (from what its predecessors produced), runs the generated task on
/// the shared queue, waits for it and takes over its result (not its errors).
class JOBLARK_EXPORT LazyTask : public SimpleTask {
public:
    using TaskGenerator = std::function<TaskPtr()>;

    LazyTask(bool alwaysPerform, TaskGenerator taskGenerator);
    explicit LazyTask(TaskGenerator taskGenerator) : LazyTask(false, std::move(taskGenerator)) {}
    std::string className() const override { return "Joblark.LazyTask"; }

    bool alwaysPerform() const { return alwaysPerform_; }
    virtual TaskGenerator taskGenerator() const;
    virtual void setTaskGenerator(TaskGenerator generator);
    /// The most recently generated task.
    virtual TaskPtr task() const;
    virtual void setTask(TaskPtr task);

    bool shouldPerform() const override { return alwaysPerform_ || Task::shouldPerform(); }
    void run() override;

private:
    const bool alwaysPerform_;
    TaskGenerator taskGenerator_;
    TaskPtr task_;
};

/// What the lazy group and serial tasks share: a generator of several tasks, called at start, whose
/// tasks are then run and waited for. They end succeeded without values whatever the children did.
class JOBLARK_EXPORT LazyBatchTask : public SimpleTask {
public:
    using TaskGenerator = std::function<std::optional<std::vector<TaskPtr>>()>;

    explicit LazyBatchTask(TaskGenerator taskGenerator) : taskGenerator_(std::move(taskGenerator)) {}
    const TaskGenerator& taskGenerator() const { return taskGenerator_; }
    void run() override;

protected:
    /// Runs the generated tasks and blocks until they have finished.
    virtual void runGenerated(const std::vector<TaskPtr>& tasks) = 0;

private:
    TaskGenerator taskGenerator_;
};

/// Runs its generated tasks all at once.
class JOBLARK_EXPORT LazyGroupTask : public LazyBatchTask {
public:
    using LazyBatchTask::LazyBatchTask;
    std::string className() const override { return "Joblark.LazyGroupTask"; }

protected:
    void runGenerated(const std::vector<TaskPtr>& tasks) override;
};

/// Runs its generated tasks one after the other, in list order.
class JOBLARK_EXPORT LazySerialTask : public LazyBatchTask {
public:
    using LazyBatchTask::LazyBatchTask;
    std::string className() const override { return "Joblark.LazySerialTask"; }

protected:
    void runGenerated(const std::vector<TaskPtr>& tasks) override;
};

/// Calls its generator on the main thread and runs the generated task on the shared queue without
/// blocking the main thread; finishes with the generated task's result once it is done.
class JOBLARK_EXPORT LazyUITask : public AsyncUITask {
public:
    using TaskGenerator = LazyTask::TaskGenerator;

    LazyUITask(bool alwaysPerform, TaskGenerator taskGenerator);
    explicit LazyUITask(TaskGenerator taskGenerator) : LazyUITask(false, std::move(taskGenerator)) {}
    std::string className() const override { return "Joblark.LazyUITask"; }

    TaskPtr task() const;
    void doWork(CompletionHandler completionHandler);

protected:
    void invokeWork(CompletionHandler handler) override { doWork(std::move(handler)); }

private:
    TaskGenerator taskGenerator_;
    TaskPtr task_;
};

} // namespace joblark
