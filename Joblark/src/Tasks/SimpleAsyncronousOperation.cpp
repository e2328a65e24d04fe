#include "joblark/Tasks/SimpleAsyncronousOperation.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"

namespace joblark {

SimpleAsyncronousOperation::SimpleAsyncronousOperation(Block block) : block_(std::move(block)) {}

void SimpleAsyncronousOperation::setState(State state) {
    auto self = weak_from_this().lock();
    State old = state_.load(std::memory_order_acquire);
    willChangeValueForKey(Task::observableKey(old));
    willChangeValueForKey(Task::observableKey(state));
    state_.store(state, std::memory_order_release);
    didChangeValueForKey(Task::observableKey(old));
    didChangeValueForKey(Task::observableKey(state));
}

void SimpleAsyncronousOperation::log(const std::string& message) const {
    Logger::general().notice("%{PUBLIC}@: %{PUBLIC}@", className(), message);
}

void SimpleAsyncronousOperation::main() {
    log("Starting...");
    if (isCancelled()) {
        finish();
        return;
    }
    auto self = sharedAs<SimpleAsyncronousOperation>();
    try {
        if (block_)
            block_([self] { self->finish(); });
        else
            finish();
    } catch (...) {
        log("Block threw: " + currentExceptionAsError()->localizedDescription());
        finish();
    }
}

void SimpleAsyncronousOperation::finish() {
    auto self = sharedAs<SimpleAsyncronousOperation>();
    MainThread::runSync([self] { self->setState(State::Finished); });
    log("Finished.");
}

} // namespace joblark
