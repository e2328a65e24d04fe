#pragma once

#include "joblark/Foundation/Export.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace joblark {

/// How far a piece of work has come, as a fraction from 0 to 1, with observers of its changes.
/// Thread-safe. Observers run on the thread that changes the fraction (for a data task: the session
/// thread), once per change and never for the initial value; they may add or remove observers.
class JOBLARK_EXPORT Progress {
public:
    using Observer = std::function<void(const Progress&, double newFraction)>;

    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    double fractionCompleted() const;
    /// Clamped to 0...1; observers hear of it only when the value really changes.
    void setFractionCompleted(double fraction);

    std::uint64_t addObserver(Observer observer);
    /// A call already under way on another thread may still finish after this returns.
    void removeObserver(std::uint64_t id);

private:
    mutable std::mutex mutex_;
    double fraction_ = 0.0;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, std::shared_ptr<const Observer>> observers_;
};

} // namespace joblark
