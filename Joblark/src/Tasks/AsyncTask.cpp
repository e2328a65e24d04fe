#include "joblark/Tasks/AsyncTask.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"

namespace joblark {

AsyncTask::AsyncTask(Work work) : work_(std::move(work)) {}

AsyncTask::CompletionHandler AsyncTask::makeHandler() {
    auto self = sharedAs<AsyncTask>();
    return [self](std::optional<TaskResult> result) { self->complete(std::move(result)); };
}

void AsyncTask::invokeWork(CompletionHandler handler) {
    if (work_)
        work_(std::move(handler));
    else
        handler(std::nullopt);
}

void AsyncTask::invokeWorkSafely(const CompletionHandler& handler) {
    try {
        invokeWork(handler);
    } catch (...) {
        report(currentExceptionAsError());
        handler(TaskResult::failed());
    }
}

void AsyncTask::main() {
    invokeWorkSafely(makeHandler());
}

void AsyncTask::complete(std::optional<TaskResult> result) {
    if (completed_.exchange(true, std::memory_order_acq_rel)) {
        Logger::general().error("[WARN] %{PUBLIC}@ completed more than once; later result ignored", *this);
        return;
    }
    setResult(result ? std::move(*result) : TaskResult::succeeded());
    setState(State::Finished);
}

AsyncUITask::AsyncUITask(bool alwaysPerform, Work work)
    : AsyncTask(std::move(work)), alwaysPerform_(alwaysPerform) {}

void AsyncUITask::main() {
    auto handler = makeHandler();
    MainThread::runSync([&] { invokeWorkSafely(handler); });
}

} // namespace joblark
