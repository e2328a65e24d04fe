#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Operation.hpp"
#include "joblark/Tasks/Task.hpp"

#include <atomic>
#include <functional>

// Thread safety: Like every Operation: members may be called from any thread; the state changes on the main
// thread.

namespace joblark {

/// A plain operation (not a task) around a block that is handed a completion handler. It goes from
/// Ready straight to Finished, changing state on the main thread.
class JOBLARK_EXPORT SimpleAsyncronousOperation : public Operation {
public:
    using State = Task::State;
    using Block = std::function<void(std::function<void()>)>;

    explicit SimpleAsyncronousOperation(Block block);
    std::string className() const override { return "Joblark.SimpleAsyncronousOperation"; }

    virtual State state() const { return state_.load(std::memory_order_acquire); }
    virtual void setState(State state);

    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override { return state() == State::Executing; }
    bool isFinished() const override { return state() == State::Finished; }
    bool isCancelled() const override { return isFinished(); }

    void main() override;
    /// One line to the general log: "Joblark.SimpleAsyncronousOperation: <message>".
    virtual void log(const std::string& message) const;
    virtual void finish();

private:
    std::atomic<State> state_{State::Ready};
    Block block_;
};

} // namespace joblark
