#pragma once

// Keeps the local history in step with the app state: every change of the lists is recorded on a
// writer queue of its own, so the main thread never waits on the database; queries answer on the
// main thread. Sign-out deletes the history.

#include "History/HistoryStore.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/DispatchQueue.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrova {

/// Uptime over the last day, week and month, each absent without entries in it.
struct UptimeSummary {
    std::optional<double> day, week, month;
    bool operator==(const UptimeSummary&) const = default;
};

/// "Uptime: 99.9% (24 h) · 99.5% (7 d) · 98.0% (30 d)", "–" for a window without entries.
std::string uptimeSummaryText(const UptimeSummary& summary);

/// How far back a detail pane's chart reaches: the service's newest checks, or the local history.
enum class ChartRange { recentChecks, day, week, month };
inline constexpr std::array<std::string_view, 4> chartRangeTitles{"Last 30 checks", "24 hours", "7 days",
                                                                  "30 days"};
/// The span of a range read from the local history; none for the service's own list.
std::optional<std::chrono::hours> chartRangeWindow(ChartRange range);

/// The chart `styled` (series, labels, colours) drawn over recorded entries, oldest first: the first
/// series takes their values averaged into at most `maxPoints` buckets (a bucket without a value is a
/// gap), every other series becomes a flat line at its first value over the same span. Past 30
/// points the markers go: they would cover the line.
LineChartData historyChart(LineChartData styled, const std::vector<HistoryPoint>& points,
                           std::size_t maxPoints = 240);

class HistoryRecorder : public std::enable_shared_from_this<HistoryRecorder> {
public:
    /// Starts observing; the store at `file` is opened on the writer queue.
    static std::shared_ptr<HistoryRecorder>
    make(std::shared_ptr<AppStateController> controller,
         std::filesystem::path file = HistoryStore::defaultLocation());
    ~HistoryRecorder();

    void uptime(const std::string& resourceId, std::function<void(UptimeSummary)> completion);
    /// Entries since `since`, oldest first.
    void points(const std::string& resourceId, joblark::Date since,
                std::function<void(std::vector<HistoryPoint>)> completion);
    /// The newest 30 entries of a resource as known at the last load: for a cached state without
    /// histories (offline). Main thread; empty when nothing is known.
    const std::vector<HistoryPoint>* recentEntries(const std::string& resourceId) const;
    /// Loads the newest entries of every resource in the state; `completion` runs on the main thread.
    void loadRecentEntries(std::function<void()> completion = nullptr);

    /// Runs everything queued so far on the writer (tests and shutdown).
    void flush();
    /// Records the state's lists now (also what every list change does, coalesced per main-loop turn).
    void recordState();

    /// Posted (no object) on the main thread when recent entries were loaded.
    static constexpr std::string_view recentEntriesDidLoad = "HistoryRecorder.recentEntriesDidLoad";

private:
    HistoryRecorder(std::shared_ptr<AppStateController> controller, std::filesystem::path file);
    void observe();

    /// What the writer queue owns. Its work items hold this, never the recorder, so the recorder is
    /// always released on the main thread.
    struct Writer {
        std::filesystem::path file;
        std::unique_ptr<HistoryStore> store;
        bool failed = false; // opened and failed: not retried until the history is deleted
        HistoryStore* open();
    };

    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<Writer> writer_;
    std::unique_ptr<joblark::DispatchQueue> queue_;
    bool recordPending_ = false;                                        // main thread
    std::unordered_map<std::string, std::vector<HistoryPoint>> recent_; // main thread
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
