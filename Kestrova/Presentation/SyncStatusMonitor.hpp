#pragma once

// Whether the data on screen is fresh: the offline notice of the overview. Every sync ends, on the
// main thread, with "AppStateController.userDidChange" and then "AppStateController.endpointsDidChange",
// whose object is the list the service sent, or nothing when it could not be reached; the refresh
// timer's syncs have no completion of their own, so this is where their outcome shows.

#include "State/AppStateController.hpp"

#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

class SyncStatusMonitor : public std::enable_shared_from_this<SyncStatusMonitor> {
public:
    enum class State {
        unknown, ///< no sync has finished since start or sign-in
        online,  ///< the last sync reached the service
        offline  ///< the last sync did not: what shows is older
    };

    /// Posted (no object) on the main thread when the state or the time of the data changed.
    static constexpr std::string_view didChange = "SyncStatusMonitor.didChange";

    /// Starts observing; until a successful sync, the data dates from the cache file's last write.
    static std::shared_ptr<SyncStatusMonitor> make(std::shared_ptr<AppStateController> controller);

    State state() const { return state_; }
    /// When the data shown was fetched: the last successful sync, else the cache file's time.
    const std::optional<joblark::Date>& dataFrom() const { return dataFrom_; }
    /// "offline: data from 5 Jun 2026, 10:32" while offline (without a time when none is known).
    std::optional<std::string> notice() const;

    /// A sync's outcome, as its completion or the notifications tell it.
    void syncDidFinish(bool reachedService, const joblark::Date& now = {});

private:
    explicit SyncStatusMonitor(std::shared_ptr<AppStateController> controller);
    void observe();
    void reset();

    std::shared_ptr<AppStateController> controller_;
    State state_ = State::unknown;
    std::optional<joblark::Date> dataFrom_;
    bool syncEnding_ = false; // between a sync's userDidChange and its endpointsDidChange
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
