#pragma once

#include "joblark/Foundation/Operation.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace joblark::testing {

using namespace std::chrono_literals;

/// The shared queue is ready from the first call on (it never goes back).
inline void useTaskController() {
    static TaskController controller;
}

/// Services the main run loop (the tests run on the main thread) until `done` or the deadline.
/// Conditions set by other threads do not wake the loop, so it is looked at every couple of ms.
inline bool pumpMainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        RunLoop::main()->runUntil(done, std::min(deadline, now + 2ms));
    }
    return true;
}

inline bool waitUntilFinished(const std::vector<std::shared_ptr<Operation>>& operations,
                              std::chrono::milliseconds timeout = 10s) {
    return pumpMainUntil(
        [&] {
            for (const auto& op : operations)
                if (!op->isFinished())
                    return false;
            return true;
        },
        timeout);
}

inline bool waitUntilFinished(const std::shared_ptr<Operation>& operation,
                              std::chrono::milliseconds timeout = 10s) {
    return waitUntilFinished(std::vector<std::shared_ptr<Operation>>{operation}, timeout);
}

} // namespace joblark::testing
