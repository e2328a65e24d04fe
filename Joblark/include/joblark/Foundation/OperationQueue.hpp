#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Operation.hpp"

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace joblark {

namespace detail {
template <class T>
class Immortal;
}

/// Runs operations once their dependencies have finished. Every queue but main() shares one pool of
/// worker threads that keeps about one runnable worker per core and replaces a worker that blocks;
/// main() runs its operations on the main thread.
///
/// Thread safety: every member may be called from any thread. A waiting call made on a pool worker
/// runs other queued work meanwhile instead of holding the thread.
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
    /// The same for a list of a subclass, without converting the list.
    template <class T>
    requires(std::derived_from<T, Operation> && !std::same_as<T, Operation>) void addOperations(
        const std::vector<std::shared_ptr<T>>& operations, bool waitUntilFinished) {
        addOperations(
            operations.size(), [&operations](std::size_t i) -> Operation* { return operations[i].get(); },
            waitUntilFinished);
    }
    void addOperation(std::function<void()> block);

    std::size_t operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;
    /// Sends cancel() to every operation not yet finished.
    void cancelAllOperations();
    [[nodiscard("false means the timeout passed first")]] bool
    waitUntilAllOperationsAreFinished(std::optional<Operation::Clock::duration> timeout = std::nullopt);

    /// Marks this queue as one that lives until the process ends (the main queue, the task
    /// controller's): its operations then skip the references that keep a queue's bookkeeping
    /// alive, and it does not list them for operations().
    void setProcessLifetime();

private:
    template <class T>
    friend class detail::Immortal;
    struct MainQueueTag {};
    explicit OperationQueue(MainQueueTag);
    void addOperations(std::size_t count, const std::function<Operation*(std::size_t)>& at,
                       bool waitUntilFinished);
    std::shared_ptr<detail::QueueCore> core_;
};

} // namespace joblark
