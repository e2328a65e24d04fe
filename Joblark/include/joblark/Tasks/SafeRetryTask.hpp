#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/LazyTask.hpp"

#include <cstdint>
#include <optional>

// Thread safety: Like every Task: accessors may be called from any thread; change the retry settings only
// before submitting.

namespace joblark {

/// Calls its block up to maxRetries times, until an attempt throws nothing; waits retryDelay
/// between failed attempts. Ends succeeded at the first clean attempt (earlier attempts' errors
/// stay in errors), failed when every attempt threw.
class JOBLARK_EXPORT SafeRetryTask : public BlockTask {
public:
    SafeRetryTask(bool alwaysPerform, std::optional<std::int64_t> maxRetries, double retryDelay, Block block);
    std::string className() const override { return "Joblark.SafeRetryTask"; }

    virtual std::optional<std::int64_t> maxRetries() const;
    virtual void setMaxRetries(std::optional<std::int64_t> value);
    virtual double retryDelay() const;
    virtual void setRetryDelay(double seconds);
    /// Attempts made so far.
    std::int64_t retries() const { return retries_; }

    void run() override;

private:
    std::optional<std::int64_t> maxRetries_;
    double retryDelay_;
    std::int64_t retries_ = 0;
};

/// A half-open range [lowerBound, upperBound) of milliseconds.
struct JOBLARK_EXPORT MillisecondRange {
    std::int64_t lowerBound = 0;
    std::int64_t upperBound = 0;
    bool empty() const { return upperBound <= lowerBound; }
};

/// Runs a freshly generated task per attempt on the shared queue, up to maxRetries attempts, until
/// one succeeds; after every failed attempt it waits retryDelay plus a random jitter. Ends with the
/// last attempt's result.
class JOBLARK_EXPORT LazySafeRetryTask : public LazyTask {
public:
    LazySafeRetryTask(bool alwaysPerform, std::optional<std::int64_t> maxRetries, double retryDelay,
                      TaskGenerator taskGenerator);
    std::string className() const override { return "Joblark.LazySafeRetryTask"; }

    virtual std::optional<std::int64_t> maxRetries() const;
    virtual void setMaxRetries(std::optional<std::int64_t> value);
    virtual double retryDelay() const;
    virtual void setRetryDelay(double seconds);
    virtual MillisecondRange retryJitterMilliseconds() const;
    virtual void setRetryJitterMilliseconds(MillisecondRange range);
    std::int64_t retries() const { return retries_; }

    void run() override;

private:
    std::optional<std::int64_t> maxRetries_;
    double retryDelay_;
    MillisecondRange retryJitterMilliseconds_{100, 1000};
    std::int64_t retries_ = 0;
};

} // namespace joblark
