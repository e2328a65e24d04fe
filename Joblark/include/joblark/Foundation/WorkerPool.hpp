#pragma once

namespace joblark {

/// Declares that the calling thread is about to wait for other work (children, the main thread,
/// another queue). On a worker of the shared pool this lets the pool start a replacement worker at
/// once, so nested waits never starve the pool. Elsewhere it does nothing.
class BlockingRegion {
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
bool isWorkerThread();
/// Threads the pool has now, and the most it has had at once.
int threadCount();
int peakThreadCount();
void resetPeakThreadCount();
} // namespace WorkerPool

} // namespace joblark
