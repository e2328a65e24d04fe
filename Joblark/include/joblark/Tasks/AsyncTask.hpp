#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/Task.hpp"

#include <atomic>
#include <functional>
#include <optional>

// Thread safety: Like every Task: accessors may be called from any thread; the completion handler may be
// called from any thread, once.

namespace joblark {

/// A task whose work finishes it later through a completion handler, from any thread.
class JOBLARK_EXPORT AsyncTask : public Task {
public:
    using CompletionHandler = std::function<void(std::optional<TaskResult>)>;
    using Work = std::function<void(CompletionHandler)>;

    explicit AsyncTask(Work work);
    std::string className() const override { return "Joblark.AsyncTask"; }

    void main() override;
    /// Stores the result (succeeded without values when none is given) and finishes the task.
    /// Only the first call counts: a second one would change a result dependants may be reading.
    virtual void complete(std::optional<TaskResult> result);

protected:
    /// Calls the work with the handler; subclasses may supply the work differently.
    virtual void invokeWork(CompletionHandler handler);
    CompletionHandler makeHandler();
    /// Runs invokeWork, turning anything it throws into a reported error and a failed completion.
    void invokeWorkSafely(const CompletionHandler& handler);

private:
    Work work_;
    std::atomic<bool> completed_{false};
};

/// An AsyncTask whose work is called on the main thread.
class JOBLARK_EXPORT AsyncUITask : public AsyncTask {
public:
    AsyncUITask(bool alwaysPerform, Work work);
    std::string className() const override { return "Joblark.AsyncUITask"; }

    bool alwaysPerform() const { return alwaysPerform_; }
    bool shouldPerform() const override { return alwaysPerform_ || Task::shouldPerform(); }
    void main() override;

private:
    const bool alwaysPerform_;
};

} // namespace joblark
