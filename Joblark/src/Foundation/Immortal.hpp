#pragma once

#include <memory>
#include <new>
#include <utility>

namespace joblark::detail {

/// Storage for an object that lives until the process ends and is never destroyed: worker threads
/// may still use it while static destructors run.
template <class T>
class Immortal {
public:
    template <class... Args>
    explicit Immortal(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;
    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

} // namespace joblark::detail
