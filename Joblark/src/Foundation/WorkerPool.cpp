// Temporary stand-in; replaced by the real pool.
#include "joblark/Foundation/WorkerPool.hpp"
namespace joblark {
BlockingRegion::BlockingRegion() {}
BlockingRegion::~BlockingRegion() {}
namespace WorkerPool {
bool isWorkerThread() { return false; }
int threadCount() { return 0; }
int peakThreadCount() { return 0; }
void resetPeakThreadCount() {}
} // namespace WorkerPool
} // namespace joblark
