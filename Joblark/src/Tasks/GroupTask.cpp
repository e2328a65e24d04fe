#include "joblark/Tasks/GroupTask.hpp"

#include "joblark/Tasks/TaskController.hpp"

namespace joblark {

GroupTask::GroupTask(std::vector<TaskPtr> tasks, bool combineResults)
    : tasks_(std::move(tasks)), combineResults_(combineResults) {}

void GroupTask::run() {
    if (tasks_.empty()) {
        setResult(TaskResult::succeeded());
        return;
    }
    TaskController::performInParallel(tasks_, true); // dropped (and logged) when not ready
    summarizeChildren();
}

void GroupTask::summarizeChildren() {
    // One copy of each child's result and errors; the error lists are only built for a failure.
    std::vector<TaskResult> results;
    std::vector<std::vector<ErrorPtr>> childErrors;
    results.reserve(tasks_.size());
    childErrors.reserve(tasks_.size());
    std::size_t errorCount = 0;
    bool allSucceeded = true;
    for (const auto& child : tasks_) {
        results.push_back(child->result());
        childErrors.push_back(child->errors());
        errorCount += childErrors.back().size();
        allSucceeded = allSucceeded && results.back().status.ok();
    }
    std::vector<ErrorPtr> allErrors;
    allErrors.reserve(errorCount);
    for (const auto& list : childErrors)
        allErrors.insert(allErrors.end(), list.begin(), list.end());

    if (!allSucceeded) {
        Array errorLists;
        errorLists.reserve(childErrors.size());
        for (auto& list : childErrors)
            errorLists.emplace_back(Array(list.begin(), list.end()));
        Dictionary values;
        values.emplace("errors", std::move(errorLists)); // not an initializer list: that would copy
        setResult(TaskResult::failed(std::move(values)));
    } else if (combineResults_) {
        Dictionary merged;
        for (auto& result : results)
            if (result.values)
                for (auto& [key, value] : *result.values)
                    merged.insert_or_assign(key, std::move(value));
        setResult(TaskResult::succeeded(std::move(merged)));
    } else {
        Array list;
        list.reserve(results.size());
        for (auto& result : results)
            list.emplace_back(std::move(result));
        Dictionary values;
        values.emplace("results", std::move(list));
        setResult(TaskResult::succeeded(std::move(values)));
    }
    setErrors(std::move(allErrors));
}

SerialTask::SerialTask(std::vector<TaskPtr> tasks, bool combineResults)
    : GroupTask(std::move(tasks), combineResults) {}

void SerialTask::run() {
    TaskController::performInSeries(tasks(), true);
    summarizeChildren();
}

} // namespace joblark
