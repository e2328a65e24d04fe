#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/Task.hpp"

// Thread safety: Like every Task: accessors may be called from any thread; run() runs on the queue's thread.

namespace joblark {

/// A synchronous task: its work is run(), on the queue's thread. When run() leaves the status
/// unknown, the task ends succeeded without errors, failed with them (values dropped).
class JOBLARK_EXPORT SimpleTask : public Task {
public:
    SimpleTask() = default;
    std::string className() const override { return "Joblark.SimpleTask"; }
    bool isAsynchronous() const override { return false; }
    void main() override;
    virtual void run() {}
};

} // namespace joblark
