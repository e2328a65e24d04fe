#include "joblark/Foundation/DispatchQueue.hpp"

#include "BlockingCall.hpp"
#include "RunLoopAccess.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"

#include <atomic>
#include <pthread.h>
#include <thread>

namespace joblark {

struct DispatchQueue::Impl {
    // What the queue's thread uses; shared so the thread can outlive a queue destroyed from its own work.
    struct Shared {
        std::shared_ptr<RunLoop> loop = RunLoopAccess::make();
        std::atomic<bool> closing{false};
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::thread thread;
};

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)), impl_(std::make_unique<Impl>()) {
    // Linux thread names are at most 15 characters.
    impl_->thread = std::thread([shared = impl_->shared, name = label_.substr(0, 15)] {
        pthread_setname_np(pthread_self(), name.c_str());
        RunLoopAccess::bindToCurrentThread(shared->loop);
        // Closing drains: everything queued before (or by) the last items still runs. Delayed work
        // that is not yet due is dropped with the loop.
        RunLoopAccess::runUntil(*shared->loop, [&] {
            return shared->closing.load(std::memory_order_acquire) &&
                   RunLoopAccess::pendingWorkCount(*shared->loop) == 0;
        });
    });
}

DispatchQueue::~DispatchQueue() {
    impl_->shared->closing.store(true, std::memory_order_release);
    impl_->shared->loop->wakeUp();
    // Destroyed by its own work item (the last owner let go there): it cannot join itself, so the
    // thread finishes draining on its own.
    if (impl_->thread.get_id() == std::this_thread::get_id())
        impl_->thread.detach();
    else
        impl_->thread.join();
}

void DispatchQueue::async(std::function<void()> work) {
    impl_->shared->loop->perform(std::move(work));
}

void DispatchQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    detail::postAndWait(work, [this](std::function<void()> item) { async(std::move(item)); });
}

void DispatchQueue::asyncAfter(double seconds, std::function<void()> work) {
    if (!work)
        return;
    auto timer = Timer::make(seconds, false, [work = std::move(work)](Timer&) { work(); });
    impl_->shared->loop->addTimer(std::move(timer));
}

bool DispatchQueue::isCurrent() const {
    return impl_->shared->loop->isCurrent();
}

std::shared_ptr<RunLoop> DispatchQueue::runLoop() const {
    return impl_->shared->loop;
}

} // namespace joblark
