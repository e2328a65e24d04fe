#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/SimpleTask.hpp"

#include <memory>
#include <vector>

// Thread safety: Like every Task: accessors may be called from any thread; the children are fixed at
// construction and submitted by the composite itself.

namespace joblark {

/// Runs its children all at once on the shared queue and waits for them. Its result sums them up:
/// failed with {"errors": [each child's errors]} when one did not succeed; otherwise succeeded with
/// {"results": [each child's result]}, or the union of their values when combineResults is set.
class JOBLARK_EXPORT GroupTask : public SimpleTask {
public:
    explicit GroupTask(std::vector<TaskPtr> tasks, bool combineResults = false);
    std::string className() const override { return "Joblark.GroupTask"; }

    const std::vector<TaskPtr>& tasks() const { return tasks_; }
    bool combineResults() const { return combineResults_; }
    void run() override;

protected:
    /// Writes this task's result and errors from its finished children.
    void summarizeChildren();

private:
    const std::vector<TaskPtr> tasks_;
    const bool combineResults_;
};

/// Runs its children one after the other (each depends on the one before) and sums them up like
/// GroupTask. A failed child makes every later child refuse to run.
class JOBLARK_EXPORT SerialTask : public GroupTask {
public:
    explicit SerialTask(std::vector<TaskPtr> tasks, bool combineResults = false);
    std::string className() const override { return "Joblark.SerialTask"; }
    void run() override;
};

} // namespace joblark
