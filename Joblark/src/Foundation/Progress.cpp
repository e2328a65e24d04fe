#include "joblark/Foundation/Progress.hpp"

#include <algorithm>
#include <vector>

namespace joblark {

double Progress::fractionCompleted() const {
    std::lock_guard lock(mutex_);
    return fraction_;
}

void Progress::setFractionCompleted(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    std::vector<std::shared_ptr<const Observer>> toCall;
    {
        std::lock_guard lock(mutex_);
        if (fraction == fraction_)
            return;
        fraction_ = fraction;
        toCall.reserve(observers_.size());
        for (const auto& [id, observer] : observers_)
            toCall.push_back(observer);
    }
    // Called outside the lock so that observers can read the progress or change the observer list.
    for (const auto& observer : toCall)
        (*observer)(*this, fraction);
}

std::uint64_t Progress::addObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    auto id = nextId_++;
    observers_.emplace(id, std::make_shared<const Observer>(std::move(observer)));
    return id;
}

void Progress::removeObserver(std::uint64_t id) {
    std::shared_ptr<const Observer> removed; // destroyed outside the lock: it may own anything
    std::lock_guard lock(mutex_);
    if (auto it = observers_.find(id); it != observers_.end()) {
        removed = std::move(it->second);
        observers_.erase(it);
    }
}

} // namespace joblark
