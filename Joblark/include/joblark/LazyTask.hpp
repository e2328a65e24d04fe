#pragma once

#include "joblark/AsyncTask.hpp"
#include "joblark/SimpleTask.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace joblark {

/// Builds its work when it starts (from what its predecessors produced), runs the generated task on
/// the shared queue, waits for it and takes over its result (not its errors).
class LazyTask : public SimpleTask {
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

/// Generates several tasks, runs them all at once and waits; ends succeeded without values whatever
/// the children did.
class LazyGroupTask : public SimpleTask {
public:
    using TaskGenerator = std::function<std::optional<std::vector<TaskPtr>>()>;

    explicit LazyGroupTask(TaskGenerator taskGenerator) : taskGenerator_(std::move(taskGenerator)) {}
    std::string className() const override { return "Joblark.LazyGroupTask"; }
    const TaskGenerator& taskGenerator() const { return taskGenerator_; }
    void run() override;

private:
    TaskGenerator taskGenerator_;
};

/// Generates several tasks, runs them in list order and waits; ends succeeded without values
/// whatever the children did.
class LazySerialTask : public SimpleTask {
public:
    using TaskGenerator = std::function<std::optional<std::vector<TaskPtr>>()>;

    explicit LazySerialTask(TaskGenerator taskGenerator) : taskGenerator_(std::move(taskGenerator)) {}
    std::string className() const override { return "Joblark.LazySerialTask"; }
    const TaskGenerator& taskGenerator() const { return taskGenerator_; }
    void run() override;

private:
    TaskGenerator taskGenerator_;
};

/// Calls its generator on the main thread and runs the generated task on the shared queue without
/// blocking the main thread; finishes with the generated task's result once it is done.
class LazyUITask : public AsyncUITask {
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
