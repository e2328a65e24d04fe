#include "joblark/Tasks/SimpleTask.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Tasks/BlockTask.hpp"

namespace joblark {

void SimpleTask::main() {
    try {
        run();
    } catch (...) {
        // Work that throws instead of reporting still fails the task rather than the queue.
        report(currentExceptionAsError());
    }
    settleUndecidedResult();
    setState(State::Finished);
}

BlockTask::BlockTask(bool alwaysPerform, Block block)
    : alwaysPerform_(alwaysPerform), block_(std::move(block)) {}

BlockTask::Block BlockTask::block() const {
    return readField(block_);
}

void BlockTask::setBlock(Block block) {
    writeField(block_, std::move(block));
}

bool BlockTask::invokeBlock() {
    try {
        if (block_) // not copied: the block is replaced only before the task is submitted
            block_();
        return true;
    } catch (...) {
        report(currentExceptionAsError());
        return false;
    }
}

void BlockTask::run() {
    invokeBlock();
}

void UITask::run() {
    MainThread::runSync([this] { invokeBlock(); });
}

} // namespace joblark
