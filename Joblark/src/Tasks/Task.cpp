#include "joblark/Tasks/Task.hpp"

#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <ostream>

namespace joblark {

namespace {
constexpr std::string_view kStatusNames[] = {"unknown", "succeeded", "failed", "cancelled"};
constexpr std::string_view kStateNames[] = {"Ready", "Executing", "Finished"};
constexpr std::string_view kStateKeys[] = {"isReady", "isExecuting", "isFinished"};
} // namespace

std::optional<TaskStatus> TaskStatus::fromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < std::size(kStatusNames); ++i)
        if (kStatusNames[i] == raw)
            return TaskStatus(static_cast<Case>(i));
    return std::nullopt;
}

std::string_view TaskStatus::rawValue() const {
    return kStatusNames[case_];
}

std::ostream& operator<<(std::ostream& out, TaskStatus status) {
    return out << status.rawValue();
}

std::string TaskResult::debugDescription() const {
    std::string out = "Task Result(";
    out += status.rawValue();
    out += ", ";
    // No singular form: one entry prints "1 keys".
    out += values ? std::to_string(values->size()) + " keys" : std::string("nil");
    out += ")";
    return out;
}

bool TaskResult::operator==(const TaskResult& other) const {
    return status == other.status && values == other.values;
}

std::ostream& operator<<(std::ostream& out, const TaskResult& result) {
    return out << result.debugDescription();
}

Value::Value(const TaskResult& r) : v_(std::make_shared<const TaskResult>(r)) {}
Value::Value(TaskResult&& r) : v_(std::make_shared<const TaskResult>(std::move(r))) {}

bool detail::taskResultEquals(const TaskResult& a, const TaskResult& b) {
    return a == b;
}
std::string detail::taskResultDescription(const TaskResult& r) {
    return r.debugDescription();
}

std::string_view Task::rawValue(State state) {
    return kStateNames[static_cast<int>(state)];
}

std::optional<Task::State> Task::stateFromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < std::size(kStateNames); ++i)
        if (kStateNames[i] == raw)
            return static_cast<State>(i);
    return std::nullopt;
}

std::string_view Task::observableKey(State state) {
    return kStateKeys[static_cast<int>(state)];
}

Task::Task() : Operation(true) {}

std::optional<std::string> Task::tag() const {
    return readField(tag_);
}

void Task::setTag(std::optional<std::string> tag) {
    writeField(tag_, std::move(tag));
}

std::vector<ErrorPtr> Task::errors() const {
    if (errorCount_.load(std::memory_order_acquire) == 0)
        return {};
    return readField(errors_);
}

void Task::setErrors(std::vector<ErrorPtr> errors) {
    std::lock_guard lock(fieldsMutex_);
    errors_ = std::move(errors);
    errorCount_.store(errors_.size(), std::memory_order_release);
}

TaskResult Task::result() const {
    auto status = status_.load(std::memory_order_acquire);
    if (!hasValues_.load(std::memory_order_acquire))
        return {status, std::nullopt};
    std::lock_guard lock(fieldsMutex_);
    return {status_.load(std::memory_order_relaxed), values_};
}

void Task::setResult(TaskResult result) {
    std::lock_guard lock(fieldsMutex_);
    values_ = std::move(result.values);
    hasValues_.store(values_.has_value(), std::memory_order_release);
    status_.store(result.status, std::memory_order_release);
}

std::vector<TaskResult> Task::previousTaskResults() const {
    std::vector<TaskResult> results;
    if (!hasDependencies())
        return results;
    for (const auto& dependency : dependencies())
        if (dependency->isTask())
            results.push_back(static_cast<const Task&>(*dependency).result());
    return results;
}

bool Task::shouldPerform() const {
    bool all = true;
    if (hasDependencies())
        forEachDependency([&all](const Operation& dependency) {
            if (dependency.isTask() &&
                static_cast<const Task&>(dependency).status_.load(std::memory_order_acquire) !=
                    TaskStatus::succeeded)
                all = false;
        });
    return all;
}

Task::State Task::state() const {
    return state_.load(std::memory_order_acquire);
}

void Task::setState(State state) {
    State old = state_.load(std::memory_order_acquire);
    willChangeValueForKey(observableKey(old));
    willChangeValueForKey(observableKey(state));
    state_.store(state, std::memory_order_release);
    didChangeValueForKey(observableKey(old));
    didChangeValueForKey(observableKey(state)); // the last use of `this`: finishing may release it
}

void Task::settleUndecidedResult() {
    if (status_.load(std::memory_order_acquire) != TaskStatus::unknown)
        return;
    auto settled =
        errorCount_.load(std::memory_order_acquire) == 0 ? TaskStatus::succeeded : TaskStatus::failed;
    if (hasValues_.load(std::memory_order_acquire)) {
        std::lock_guard lock(fieldsMutex_);
        if (status_.load(std::memory_order_relaxed) != TaskStatus::unknown)
            return;
        values_.reset(); // values left beside an undecided status are dropped
        hasValues_.store(false, std::memory_order_release);
        status_.store(settled, std::memory_order_release);
        return;
    }
    auto expected = TaskStatus::unknown;
    status_.compare_exchange_strong(expected, settled, std::memory_order_acq_rel);
}

void Task::report(ErrorPtr error) {
    std::lock_guard lock(fieldsMutex_);
    errors_.push_back(std::move(error));
    errorCount_.store(errors_.size(), std::memory_order_release);
}

bool Task::isCancelled() const {
    return state() == State::Finished && errorCount_.load(std::memory_order_acquire) > 0;
}

std::string Task::debugDescription() const {
    return className() + "(" + result().debugDescription() + ")";
}

void Task::start() {
    if (state() == State::Finished)
        return; // finished early (or already run): nothing to do
    if (shouldPerform()) {
        setState(State::Executing);
        main();
        return;
    }
    Logger::general().debug("Not all dependencies successfully completed. Refusing to perform %{PUBLIC}@",
                            *this);
    setState(State::Finished);
}

void Task::main() {
    fatalError("Subclasses must override this method");
}

} // namespace joblark
