#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/LazyTask.hpp"

// Thread safety: Like every Task: accessors may be called from any thread; the branch tasks are fixed at
// construction.

namespace joblark {

/// A lazy task that always runs and branches on its predecessors: the success task when all of
/// them succeeded, else the failure task. Unless continueOnFailure is set, a failure also records a
/// StopError, so the flow fails (or, with a failure task, reports the stop) and its dependants are
/// refused when it fails.
class JOBLARK_EXPORT FlowTask : public LazyTask {
public:
    /// Marks a flow that stopped its chain.
    class StopError : public ErrorBase<StopError> {
    public:
        std::string localizedDescription() const override { return "The task flow stopped after a failure."; }
        std::string typeName() const override { return "Joblark.FlowTask.StopError"; }
    };

    FlowTask(TaskPtr onSuccess, TaskPtr onFailure, bool continueOnFailure);
    std::string className() const override { return "Joblark.FlowTask"; }

    TaskPtr successTask() const { return successTask_; }
    TaskPtr failureTask() const { return failureTask_; }
    bool continueOnFailure() const { return continueOnFailure_; }

    /// Chooses the branch; holds the flow weakly.
    TaskGenerator taskGenerator() const override;

private:
    const TaskPtr successTask_;
    const TaskPtr failureTask_;
    const bool continueOnFailure_;
};

} // namespace joblark
