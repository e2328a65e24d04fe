#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Operation.hpp"
#include "joblark/Foundation/Value.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace joblark {

/// The outcome of a task.
class JOBLARK_EXPORT TaskStatus {
public:
    enum Case : std::uint8_t { unknown = 0, succeeded = 1, failed = 2, cancelled = 3 };

    constexpr TaskStatus(Case c = unknown) : case_(c) {}
    constexpr operator Case() const { return case_; }

    /// Exact, case-sensitive match of "unknown", "succeeded", "failed", "cancelled".
    static std::optional<TaskStatus> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;
    constexpr bool ok() const { return case_ == succeeded; }

private:
    Case case_;
};

JOBLARK_EXPORT std::ostream& operator<<(std::ostream& out, TaskStatus status);

/// A status plus whatever the task produced for its successors.
struct JOBLARK_EXPORT TaskResult {
    TaskStatus status = TaskStatus::unknown;
    std::optional<Dictionary> values;

    static TaskResult initial() { return {}; }
    static TaskResult succeeded(std::optional<Dictionary> values = std::nullopt) {
        return {TaskStatus::succeeded, std::move(values)};
    }
    static TaskResult failed(std::optional<Dictionary> values = std::nullopt) {
        return {TaskStatus::failed, std::move(values)};
    }
    static TaskResult cancelled(std::optional<Dictionary> values = std::nullopt) {
        return {TaskStatus::cancelled, std::move(values)};
    }

    /// "Task Result(succeeded, 3 keys)" or "Task Result(unknown, nil)".
    std::string debugDescription() const;
    bool operator==(const TaskResult& other) const;
};

JOBLARK_EXPORT std::ostream& operator<<(std::ostream& out, const TaskResult& result);

/// Base of every unit of background work: lifecycle, refusal when a dependency did not succeed,
/// collected errors and the results of its dependencies. Subclasses supply main() or run().
///
/// Thread safety: every accessor may be called from any thread. The status and the error count
/// are atomics, so the run path (shouldPerform, settling the result, finishing) takes no lock;
/// values and error lists are copied under the task's field lock.
class JOBLARK_EXPORT Task : public Operation {
public:
    enum class State : std::uint8_t { Ready = 0, Executing = 1, Finished = 2 };
    static std::string_view rawValue(State state);
    static std::optional<State> stateFromRawValue(std::string_view raw);
    /// "isReady", "isExecuting", "isFinished".
    static std::string_view observableKey(State state);

    Task();
    std::string className() const override { return "Joblark.Task"; }

    virtual std::optional<std::string> tag() const;
    virtual void setTag(std::optional<std::string> tag);
    virtual std::vector<ErrorPtr> errors() const;
    virtual void setErrors(std::vector<ErrorPtr> errors);
    virtual TaskResult result() const;
    virtual void setResult(TaskResult result);
    /// Results of the dependencies that are tasks, in dependency order.
    virtual std::vector<TaskResult> previousTaskResults() const;
    /// True when every task dependency succeeded (or there are none). Reads the dependency list
    /// without a lock: meant for the task's own start, once its dependencies are wired.
    virtual bool shouldPerform() const;
    virtual State state() const;
    /// Every write sends will/did-change notifications for the old and the new state's key, even
    /// when the value does not change.
    virtual void setState(State state);
    virtual void report(ErrorPtr error);

    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override { return state() == State::Executing; }
    bool isFinished() const override { return state() == State::Finished; }
    /// True when the task finished with errors (not a cancellation request: cancel() changes nothing).
    bool isCancelled() const override;
    std::string debugDescription() const override;

    void start() override;
    /// Abstract: stops the program with "Subclasses must override this method".
    void main() override;

protected:
    /// When the status is still unknown: succeeded without errors, failed with them, no values.
    void settleUndecidedResult();

    /// Reads and writes of fields that other threads may read, under the task's field lock.
    template <class V>
    V readField(const V& field) const {
        std::lock_guard lock(fieldsMutex_);
        return field;
    }
    template <class V, class W>
    void writeField(V& field, W&& value) {
        std::lock_guard lock(fieldsMutex_);
        field = std::forward<W>(value);
    }

    mutable std::mutex fieldsMutex_;

private:
    std::optional<std::string> tag_;
    std::vector<ErrorPtr> errors_;
    std::optional<Dictionary> values_;
    // Written under the field lock (values and errors) or by compare-and-swap (settling); read
    // without it, so that the run path of a task costs no lock.
    std::atomic<TaskStatus::Case> status_{TaskStatus::unknown};
    std::atomic<bool> hasValues_{false};
    std::atomic<std::size_t> errorCount_{0};
    std::atomic<State> state_{State::Ready};
};

using TaskPtr = std::shared_ptr<Task>;

} // namespace joblark
