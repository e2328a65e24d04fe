#include "joblark/Foundation/NotificationCenter.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace joblark {

struct NotificationCenter::Impl {
    struct Observer {
        std::optional<std::string> name;
        std::optional<Value> sender;
        Callback callback;
        std::uint64_t id = 0;
        // Checked right before each call, so a removal made by an earlier observer of the same post
        // (or earlier on this thread) keeps this one from being called.
        std::atomic<bool> removed{false};
    };

    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers; // in registration order
    std::uint64_t nextId = 1;

    void remove(std::uint64_t id) {
        std::shared_ptr<Observer> gone; // released after the lock: the callback's captures may remove others
        std::lock_guard lock(mutex);
        auto it =
            std::find_if(observers.begin(), observers.end(), [&](const auto& o) { return o->id == id; });
        if (it == observers.end())
            return;
        gone = std::move(*it);
        gone->removed.store(true, std::memory_order_release);
        observers.erase(it);
    }
};

namespace {

// Objects, errors and task results are senders by identity (two equal endpoints are still two senders);
// plain values by equality.
bool isSender(const Value& wanted, const Value& actual) {
    switch (wanted.kind()) {
    case Value::Kind::object:
        return actual.isObject() && actual.asObject() == wanted.asObject();
    case Value::Kind::error:
        return actual.isError() && actual.asError() == wanted.asError();
    case Value::Kind::taskResult:
        return actual.isTaskResult() && actual.asTaskResult() == wanted.asTaskResult();
    default:
        return wanted == actual;
    }
}

} // namespace

ObserverToken::~ObserverToken() {
    remove();
}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : center_(std::move(other.center_)), id_(std::exchange(other.id_, 0)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        remove();
        center_ = std::move(other.center_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void ObserverToken::remove() {
    if (id_ == 0)
        return;
    // The centre may be gone already; then there is nothing left to remove from.
    if (auto impl = std::static_pointer_cast<NotificationCenter::Impl>(center_.lock()))
        impl->remove(id_);
    center_.reset();
    id_ = 0;
}

NotificationCenter::NotificationCenter() : impl_(std::make_shared<Impl>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: threads may still post while the process exits.
    static auto* center = new NotificationCenter;
    return *center;
}

ObserverToken NotificationCenter::addObserver(std::optional<std::string> name, std::optional<Value> sender,
                                              Callback callback) {
    auto observer = std::make_shared<Impl::Observer>();
    observer->name = std::move(name);
    observer->sender = std::move(sender);
    observer->callback = std::move(callback);
    std::lock_guard lock(impl_->mutex);
    observer->id = impl_->nextId++;
    impl_->observers.push_back(observer);
    return ObserverToken(impl_, observer->id);
}

void NotificationCenter::post(const Notification& notification) {
    // Callbacks run without the lock, on a snapshot, so they can add and remove observers freely;
    // observers added during a post see the next one.
    std::vector<std::shared_ptr<Impl::Observer>> matching;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& o : impl_->observers)
            if (!o->name || *o->name == notification.name)
                matching.push_back(o);
    }
    for (const auto& o : matching) {
        // Sender comparison may call Object::isEqual, so it too runs outside the lock.
        if (o->sender && !isSender(*o->sender, notification.object))
            continue;
        if (o->removed.load(std::memory_order_acquire) || !o->callback)
            continue;
        o->callback(notification);
    }
}

void NotificationCenter::post(std::string name, Value object, Dictionary userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

} // namespace joblark
