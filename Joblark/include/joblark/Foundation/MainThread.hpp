#pragma once

#include "joblark/Foundation/Export.hpp"

#include <functional>

// Thread safety: Thread-safe: any thread may run work on the main thread; runSync must not be called on the
// main thread for work that waits for it.

namespace joblark {

/// The designated main thread: where user-interface work and application state changes run.
/// By default it is the process's initial thread and work reaches it through RunLoop::main();
/// a toolkit installs its own executor (the Qt program posts to its event loop).
class JOBLARK_EXPORT MainThread {
public:
    using Work = std::function<void()>;
    /// Hands a work item to the main thread without waiting; must be callable from any thread.
    using Executor = std::function<void(Work)>;

    static bool isCurrent();
    /// Runs `work` on the main thread: inline when already there, else posts it and blocks until it
    /// has run. Exceptions thrown by `work` are rethrown in the caller. When called from a worker of
    /// the task pool, the pool is told that this worker blocks.
    static void runSync(const Work& work);
    /// Posts `work` to the main thread (also when called on it: it runs later, in order).
    static void runAsync(Work work);

    /// Make the calling thread the main thread (tests, or a program whose loop runs elsewhere).
    static void adoptCurrentThread();
    /// Replace how work reaches the main thread; an empty function restores RunLoop::main().
    static void setExecutor(Executor executor);
};

} // namespace joblark
