#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Operation.hpp"
#include "joblark/Foundation/OperationQueue.hpp"

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace joblark {

class APITaskDelegate; // the API layer supplies the delegate forms below

namespace detail {
/// Logs, once per process, that work was submitted before a TaskController existed.
JOBLARK_EXPORT void noteSubmissionBeforeController();
} // namespace detail

/// The one shared queue every task runs on, and the ways to submit work to it. Until a
/// TaskController has been constructed, submissions are dropped (the first one is logged).
///
/// Thread safety: every member may be called from any thread. Waiting submissions made on a worker
/// of the queue run queued work meanwhile, so composites nest without holding a thread each.
class JOBLARK_EXPORT TaskController {
public:
    using Operations = std::vector<std::shared_ptr<Operation>>;

    /// Makes the shared queue ready ("Background Networking Queue", user-initiated).
    TaskController();

    static bool ready();
    /// The shared queue once ready, else nullptr.
    static OperationQueue* queue();

    /// Adds all operations at once; optionally blocks until every one has finished.
    static void performInParallel(const Operations& operations, bool waitUntilFinished);
    /// Chains the operations in list order (each depends on the one before — also when not ready),
    /// then submits them like performInParallel.
    static void performInSeries(const Operations& operations, bool waitUntilFinished);

    template <class T>
    requires(std::derived_from<T, Operation> && !std::same_as<T, Operation>) static void performInParallel(
        const std::vector<std::shared_ptr<T>>& operations, bool waitUntilFinished) {
        if (auto* shared = queue())
            shared->addOperations(operations, waitUntilFinished);
        else if (!operations.empty())
            detail::noteSubmissionBeforeController();
    }
    template <class T>
    requires(std::derived_from<T, Operation> && !std::same_as<T, Operation>) static void performInSeries(
        const std::vector<std::shared_ptr<T>>& operations, bool waitUntilFinished) {
        for (std::size_t i = 1; i < operations.size(); ++i)
            operations[i]->addDependency(operations[i - 1]);
        performInParallel(operations, waitUntilFinished);
    }

    /// Sets `delegate` on every API task among the operations (replacing any it had), then submits.
    static void performInParallel(const Operations& operations,
                                  const std::shared_ptr<APITaskDelegate>& delegate, bool waitUntilFinished);
    /// Sets `delegate` on the API tasks that have none yet (keeping existing ones), then chains and
    /// submits.
    static void performInSeries(const Operations& tasks, const std::shared_ptr<APITaskDelegate>& delegate,
                                bool waitUntilFinished);
    static void perform(const std::shared_ptr<Operation>& task,
                        const std::shared_ptr<APITaskDelegate>& delegate, bool waitUntilFinished);

    /// The user-initiated quality of service.
    static constexpr int kQualityOfServiceUserInitiated = 25;
};

/// Runs the handler on the main thread: directly when already there, else synchronously there.
JOBLARK_EXPORT void ensureMainThread(const std::function<void()>& completionHandler);

/// Turns a callback-style operation into a blocking call: `callable` gets a "done" function, and
/// this returns once done has been called (at once, without calling it, when the controller is
/// not ready).
JOBLARK_EXPORT void syncronify(const std::function<void(std::function<void()> done)>& callable);

/// Inserts at position 0.
template <class T>
void prepend(std::vector<T>& list, T element) {
    list.insert(list.begin(), std::move(element));
}

/// Inserts all of `elements` at position 0, keeping their order.
template <class T>
void prepend(std::vector<T>& list, const std::vector<T>& elements) {
    list.insert(list.begin(), elements.begin(), elements.end());
}

/// The element at `index` when it is in range, else nothing.
template <class T, std::integral I>
std::optional<T> get(const std::vector<T>& list, I index) {
    if constexpr (std::is_signed_v<I>)
        if (index < 0)
            return std::nullopt;
    if (static_cast<std::size_t>(index) >= list.size())
        return std::nullopt;
    return list[static_cast<std::size_t>(index)];
}

} // namespace joblark
