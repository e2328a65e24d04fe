#pragma once

#include "joblark/Foundation/Export.hpp"

// Thread safety: Thread-safe. BlockingRegion is made and destroyed on the thread that blocks.

namespace joblark {

/// Declares that the calling thread is about to wait for other work (children, the main thread,
/// another queue). On a worker of the shared pool this lets the pool start a replacement worker at
/// once, so nested waits never starve the pool. Elsewhere it does nothing.
class JOBLARK_EXPORT BlockingRegion {
public:
    BlockingRegion();
    ~BlockingRegion();
    BlockingRegion(const BlockingRegion&) = delete;
    BlockingRegion& operator=(const BlockingRegion&) = delete;

private:
    bool active_ = false;
};

namespace WorkerPool {
/// True on a worker thread of the shared pool.
JOBLARK_EXPORT bool isWorkerThread();
/// Threads the pool has now, and the most it has had at once.
JOBLARK_EXPORT int threadCount();
JOBLARK_EXPORT int peakThreadCount();
JOBLARK_EXPORT void resetPeakThreadCount();
} // namespace WorkerPool

} // namespace joblark
