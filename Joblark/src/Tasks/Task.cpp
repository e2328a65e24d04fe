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

Task::Task() = default;

std::optional<std::string> Task::tag() const {
    return readField(tag_);
}

void Task::setTag(std::optional<std::string> tag) {
    writeField(tag_, std::move(tag));
}

std::vector<ErrorPtr> Task::errors() const {
    return readField(errors_);
}

void Task::setErrors(std::vector<ErrorPtr> errors) {
    writeField(errors_, std::move(errors));
}

TaskResult Task::result() const {
    return readField(result_);
}

void Task::setResult(TaskResult result) {
    writeField(result_, std::move(result));
}

std::vector<TaskResult> Task::previousTaskResults() const {
    std::vector<TaskResult> results;
    if (!hasDependencies())
        return results;
    for (const auto& dependency : dependencies())
        if (auto* task = dynamic_cast<const Task*>(dependency.get()))
            results.push_back(task->result());
    return results;
}

bool Task::shouldPerform() const {
    auto results = previousTaskResults();
    return std::all_of(results.begin(), results.end(), [](const TaskResult& r) { return r.status.ok(); });
}

Task::State Task::state() const {
    return state_.load(std::memory_order_acquire);
}

void Task::setState(State state) {
    auto self = weak_from_this().lock(); // finishing may release the queue's reference
    State old = state_.load(std::memory_order_acquire);
    willChangeValueForKey(observableKey(old));
    willChangeValueForKey(observableKey(state));
    state_.store(state, std::memory_order_release);
    didChangeValueForKey(observableKey(old));
    didChangeValueForKey(observableKey(state));
}

void Task::settleUndecidedResult() {
    std::lock_guard lock(fieldsMutex_);
    if (result_.status == TaskStatus::unknown)
        result_ = errors_.empty() ? TaskResult::succeeded() : TaskResult::failed();
}

void Task::report(ErrorPtr error) {
    std::lock_guard lock(fieldsMutex_);
    errors_.push_back(std::move(error));
}

bool Task::isCancelled() const {
    if (state() != State::Finished)
        return false;
    std::lock_guard lock(fieldsMutex_);
    return !errors_.empty();
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
