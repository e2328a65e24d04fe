#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Operation.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace joblark {

/// Runs operations once their dependencies have finished. Every queue but main() shares one pool of
/// worker threads that keeps about one runnable worker per core and replaces a worker that blocks;
/// main() runs its operations on the main thread.
class JOBLARK_EXPORT OperationQueue {
public:
    OperationQueue();
    explicit OperationQueue(std::string name);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    static OperationQueue& main();

    std::string name() const;
    void setName(std::string name);
    int qualityOfService() const;
    void setQualityOfService(int qos);

    /// An operation belongs to at most one queue and runs at most once; one that already finished
    /// is never started.
    void addOperation(std::shared_ptr<Operation> operation);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
    void addOperation(std::function<void()> block);

    std::size_t operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;
    /// Sends cancel() to every operation not yet finished.
    void cancelAllOperations();
    bool waitUntilAllOperationsAreFinished(std::optional<Operation::Clock::duration> timeout = std::nullopt);

private:
    struct MainQueueTag {};
    explicit OperationQueue(MainQueueTag);
    std::shared_ptr<detail::QueueCore> core_;
};

} // namespace joblark
