#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/SimpleTask.hpp"

#include <functional>

// Thread safety: Like every Task: accessors may be called from any thread; replace the block only before
// submitting.

namespace joblark {

/// Runs a block that may throw; a thrown error is reported and makes the task fail.
class JOBLARK_EXPORT BlockTask : public SimpleTask {
public:
    using Block = std::function<void()>;

    BlockTask(bool alwaysPerform, Block block);
    std::string className() const override { return "Joblark.BlockTask"; }

    bool alwaysPerform() const { return alwaysPerform_; }
    virtual Block block() const;
    /// Replace the block only before the task is submitted: the run reads it without a copy.
    virtual void setBlock(Block block);

    bool shouldPerform() const override { return alwaysPerform_ || Task::shouldPerform(); }
    void run() override;

protected:
    /// Calls the block, reporting what it throws; true when it returned normally.
    bool invokeBlock();

private:
    const bool alwaysPerform_;
    Block block_;
};

/// A BlockTask whose block runs on the main thread; the queue's thread waits for it.
class JOBLARK_EXPORT UITask : public BlockTask {
public:
    using BlockTask::BlockTask;
    std::string className() const override { return "Joblark.UITask"; }
    void run() override;
};

} // namespace joblark
