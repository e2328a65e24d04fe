#pragma once

#include "joblark/Foundation/Export.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// Thread safety: Thread-safe: work may be queued from any thread; it runs one item at a time on the queue's
// own thread.

namespace joblark {

class RunLoop;

/// A named serial queue: one thread of its own that runs a RunLoop, so timers scheduled from its
/// work items fire on it too. Destruction runs what was already queued, then joins the thread.
class JOBLARK_EXPORT DispatchQueue {
public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(std::function<void()> work);
    /// Runs `work` on the queue and waits for it; runs inline when called from the queue itself.
    void sync(const std::function<void()>& work);
    void asyncAfter(double seconds, std::function<void()> work);
    template <class Rep, class Period>
    void asyncAfter(std::chrono::duration<Rep, Period> delay, std::function<void()> work) {
        asyncAfter(std::chrono::duration<double>(delay).count(), std::move(work));
    }
    bool isCurrent() const;
    std::shared_ptr<RunLoop> runLoop() const;

private:
    struct Impl;
    std::string label_;
    std::unique_ptr<Impl> impl_;
};

} // namespace joblark
