#include "joblark/Tasks/FlowTask.hpp"

#include <algorithm>

namespace joblark {

FlowTask::FlowTask(TaskPtr onSuccess, TaskPtr onFailure, bool continueOnFailure)
    : LazyTask(true, nullptr), successTask_(std::move(onSuccess)), failureTask_(std::move(onFailure)),
      continueOnFailure_(continueOnFailure) {}

LazyTask::TaskGenerator FlowTask::taskGenerator() const {
    std::weak_ptr<FlowTask> weakFlow = std::const_pointer_cast<FlowTask>(sharedAs<FlowTask>());
    return [weakFlow]() -> TaskPtr {
        auto flow = weakFlow.lock();
        if (!flow)
            return nullptr;
        auto results = flow->previousTaskResults();
        if (std::all_of(results.begin(), results.end(), [](const TaskResult& r) { return r.status.ok(); }))
            return flow->successTask_;
        if (!flow->continueOnFailure_)
            flow->report(std::make_shared<StopError>());
        return flow->failureTask_;
    };
}

} // namespace joblark
