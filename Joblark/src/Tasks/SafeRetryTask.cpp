#include "joblark/Tasks/SafeRetryTask.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/WorkerPool.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <charconv>
#include <chrono>
#include <random>
#include <thread>

namespace joblark {

namespace {

void sleepFor(double seconds) {
    if (seconds <= 0)
        return;
    BlockingRegion blocking; // let the pool use another worker meanwhile
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::int64_t randomInRange(MillisecondRange range) {
    if (range.empty())
        return 0;
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::int64_t>(range.lowerBound, range.upperBound - 1)(generator);
}

std::string shortestDecimal(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::to_string(value);
}

} // namespace

SafeRetryTask::SafeRetryTask(bool alwaysPerform, std::optional<std::int64_t> maxRetries, double retryDelay,
                             Block block)
    : BlockTask(alwaysPerform, std::move(block)), maxRetries_(maxRetries), retryDelay_(retryDelay) {}

std::optional<std::int64_t> SafeRetryTask::maxRetries() const {
    return readField(maxRetries_);
}
void SafeRetryTask::setMaxRetries(std::optional<std::int64_t> value) {
    writeField(maxRetries_, value);
}
double SafeRetryTask::retryDelay() const {
    return readField(retryDelay_);
}
void SafeRetryTask::setRetryDelay(double seconds) {
    writeField(retryDelay_, seconds);
}

void SafeRetryTask::run() {
    auto limit = maxRetries();
    while (limit && retries_ < *limit && !result().status.ok()) {
        bool clean = invokeBlock();
        ++retries_;
        if (clean) {
            // A clean attempt ends the task well even though earlier attempts reported errors.
            if (result().status == TaskStatus::unknown)
                setResult(TaskResult::succeeded());
            return;
        }
        if (retries_ < *limit && !result().status.ok())
            sleepFor(retryDelay());
    }
}

LazySafeRetryTask::LazySafeRetryTask(bool alwaysPerform, std::optional<std::int64_t> maxRetries,
                                     double retryDelay, TaskGenerator taskGenerator)
    : LazyTask(alwaysPerform, std::move(taskGenerator)), maxRetries_(maxRetries), retryDelay_(retryDelay) {}

std::optional<std::int64_t> LazySafeRetryTask::maxRetries() const {
    return readField(maxRetries_);
}
void LazySafeRetryTask::setMaxRetries(std::optional<std::int64_t> value) {
    writeField(maxRetries_, value);
}
double LazySafeRetryTask::retryDelay() const {
    return readField(retryDelay_);
}
void LazySafeRetryTask::setRetryDelay(double seconds) {
    writeField(retryDelay_, seconds);
}
MillisecondRange LazySafeRetryTask::retryJitterMilliseconds() const {
    return readField(retryJitterMilliseconds_);
}
void LazySafeRetryTask::setRetryJitterMilliseconds(MillisecondRange range) {
    writeField(retryJitterMilliseconds_, range);
}

void LazySafeRetryTask::run() {
    while (!result().status.ok()) {
        auto limit = maxRetries();
        if (!limit || retries_ >= *limit)
            break;
        if (retries_ >= 1) {
            if (auto previous = task())
                Logger::general().notice("[DEBUG] Retrying %{PUBLIC}@: %{PUBLIC}@/%{PUBLIC}@",
                                         previous->description(), retries_, *limit);
        }
        auto generator = taskGenerator();
        if (TaskPtr attempt = generator ? generator() : nullptr) {
            setTask(attempt);
            TaskController::performInParallel({attempt}, true);
            setResult(attempt->result());
        }
        if (result().status.ok())
            break;
        if (retries_ < *limit) {
            ++retries_;
            double wait =
                retryDelay() + static_cast<double>(randomInRange(retryJitterMilliseconds())) / 1000.0;
            Logger::general().notice("[DEBUG] Task Failed. Sleeping: %{PUBLIC}@...", shortestDecimal(wait));
            sleepFor(wait);
        }
    }
}

} // namespace joblark
