#pragma once

// Internal to the platform layer: the blocking hand-off behind MainThread::runSync and DispatchQueue::sync.

#include "joblark/Foundation/WorkerPool.hpp"

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace joblark::detail {

/// Hands `work` to `post` and blocks until it has run on the other side, then rethrows whatever it
/// threw. If the receiver destroys the item without running it (a toolkit loop shutting down), the
/// caller gets an exception instead of waiting forever.
inline void postAndWait(const std::function<void()>& work,
                        const std::function<void(std::function<void()>)>& post) {
    struct State {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::exception_ptr error;

        void finish(std::exception_ptr e, bool ran) {
            {
                std::lock_guard lock(mutex);
                if (done)
                    return;
                done = true;
                error = ran ? std::move(e)
                            : std::make_exception_ptr(
                                  std::runtime_error("The work was dropped before it could run"));
            }
            finished.notify_all();
        }
    };
    // Owned by every copy of the posted item; the last copy to go reports an item that never ran.
    struct Ticket {
        std::shared_ptr<State> state;
        explicit Ticket(std::shared_ptr<State> s) : state(std::move(s)) {}
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() { state->finish(nullptr, false); }
    };

    auto state = std::make_shared<State>();
    auto ticket = std::make_shared<Ticket>(state);
    // `work` is captured by reference: this frame outlives the item's run, since it waits for it.
    post([ticket, &work] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        ticket->state->finish(std::move(error), true);
    });
    ticket.reset();

    BlockingRegion blocking; // on a pool worker, lets the pool replace this thread while it waits
    std::exception_ptr error;
    {
        std::unique_lock lock(state->mutex);
        state->finished.wait(lock, [&] { return state->done; });
        // Take the exception out, so that its last reference goes away on this thread and not
        // wherever the posted item happens to be destroyed.
        error = std::move(state->error);
    }
    if (error)
        std::rethrow_exception(error);
}

} // namespace joblark::detail
