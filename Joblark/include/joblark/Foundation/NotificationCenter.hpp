#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Value.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Thread safety: Thread-safe: observers may be added, removed and notifications posted from any thread;
// callbacks run on the posting thread.

namespace joblark {

struct JOBLARK_EXPORT Notification {
    std::string name;
    Value object; // the sender (any value; objects and errors match by identity)
    Dictionary userInfo;
};

/// Removes its observer when destroyed (or on remove()).
class JOBLARK_EXPORT ObserverToken {
public:
    ObserverToken() = default;
    ~ObserverToken();
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;

    void remove();
    bool isActive() const { return id_ != 0; }

private:
    friend class NotificationCenter;
    ObserverToken(std::weak_ptr<void> center, std::uint64_t id) : center_(std::move(center)), id_(id) {}
    std::weak_ptr<void> center_;
    std::uint64_t id_ = 0;
};

/// Delivers posted notifications synchronously, on the posting thread, to every matching observer.
class JOBLARK_EXPORT NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    static NotificationCenter& defaultCenter();

    /// Observe `name` (every name when absent) from `sender` (any sender when absent; matched by the
    /// identity of the object, error or task result held, or by equality for plain values).
    /// Observers may be added or removed from inside a callback.
    [[nodiscard]] ObserverToken addObserver(std::optional<std::string> name, std::optional<Value> sender,
                                            Callback callback);
    void post(const Notification& notification);
    void post(std::string name, Value object = {}, Dictionary userInfo = {});

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
    friend class ObserverToken;
};

} // namespace joblark
