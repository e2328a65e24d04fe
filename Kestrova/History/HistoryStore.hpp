#pragma once

// Every check and assessment the client has seen, kept in a local SQLite database: the service sends
// only the newest 30, so uptime over days and longer charts come from here. One file, WAL, a schema
// version; entries older than 90 days are pruned and the file is kept near 50 MB. Not thread-safe:
// one thread (the recorder's queue) uses a store.

#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"

#include "joblark/Foundation/Date.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace kestrova {

/// One recorded entry: when, its status (absent when the service gave none) and its value (response
/// time in milliseconds, or the measurement when it is a number).
struct HistoryPoint {
    enum class Status : std::int8_t { ok = 0, degraded = 1, down = 2 };
    joblark::Date at;
    std::optional<Status> status;
    std::optional<double> value;
    bool operator==(const HistoryPoint&) const = default;
};

class HistoryStore {
public:
    static constexpr int schemaVersion = 1;
    static constexpr std::chrono::hours retention{24 * 90};
    static constexpr std::int64_t sizeLimit = std::int64_t{50} * 1024 * 1024;
    static constexpr std::string_view fileName = "history.sqlite3";

    /// "history.sqlite3" in the application's data directory.
    static std::filesystem::path defaultLocation();
    /// Opens or creates the database. A damaged one, or one of a newer schema, is moved aside (to
    /// "<file>.unreadable-<time>") with a warning and a new one started. Nothing when the file cannot
    /// be created at all (a read-only or full disk): the caller goes on without history.
    static std::unique_ptr<HistoryStore> open(const std::filesystem::path& file);
    /// Deletes the database and its journal files (sign-out).
    static void remove(const std::filesystem::path& file);

    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    /// Records the histories of one sync; entries seen before (same resource and entry id) are
    /// skipped. Returns how many were new; 0 when the write failed (logged).
    std::size_t record(const std::vector<std::shared_ptr<Endpoint>>& endpoints,
                       const std::vector<std::shared_ptr<Measure>>& measures);
    /// The share of ok entries among those in the `window` before `now`; absent without entries.
    std::optional<double> uptime(const std::string& resourceId, std::chrono::seconds window,
                                 const joblark::Date& now = {}) const;
    /// Entries since `since`, oldest first, at most `limit` (the newest of them).
    std::vector<HistoryPoint> points(const std::string& resourceId, const joblark::Date& since,
                                     std::size_t limit = 10'000) const;
    /// The newest `count` entries, newest first (the offline history bar).
    std::vector<HistoryPoint> recent(const std::string& resourceId, std::size_t count) const;
    /// Drops entries older than the retention, then the oldest until the file is within its limit.
    void prune(const joblark::Date& now = {});

    const std::filesystem::path& file() const { return file_; }

private:
    HistoryStore(std::filesystem::path file, sqlite3* db);
    struct Statements;

    std::filesystem::path file_;
    sqlite3* db_;
    std::unique_ptr<Statements> statements_;
};

} // namespace kestrova
