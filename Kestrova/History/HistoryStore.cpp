#include "History/HistoryStore.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"

#include <sqlite3.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <locale.h>
#include <map>
#include <unistd.h>
#include <unordered_map>

namespace kestrova {
namespace fs = std::filesystem;
namespace {

joblark::Logger& logger() {
    static joblark::Logger log("History", "Store");
    return log;
}

constexpr double secondsPerHour = 3600;

const char* const schema = R"(
PRAGMA auto_vacuum = INCREMENTAL;
CREATE TABLE IF NOT EXISTS entries(
    resource TEXT NOT NULL,
    entry TEXT NOT NULL,
    at REAL NOT NULL,
    status INTEGER,
    value REAL,
    PRIMARY KEY(resource, entry)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS entries_by_time ON entries(resource, at);
CREATE INDEX IF NOT EXISTS entries_by_age ON entries(at);
-- Per resource and hour: how many entries, how many ok. Uptime over days sums these.
CREATE TABLE IF NOT EXISTS hours(
    resource TEXT NOT NULL,
    hour INTEGER NOT NULL,
    total INTEGER NOT NULL,
    ok INTEGER NOT NULL,
    PRIMARY KEY(resource, hour)) WITHOUT ROWID;
PRAGMA user_version = 1;
)";

/// A prepared statement, reset after every use.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    Statement& bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, double value) {
        sqlite3_bind_double(statement_, index, value);
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    template <class T>
    Statement& bind(int index, const std::optional<T>& value) {
        if (value)
            return bind(index, *value);
        sqlite3_bind_null(statement_, index);
        return *this;
    }
    int step() const { return sqlite3_step(statement_); }
    void reset() const {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

struct Reset {
    const Statement& statement;
    ~Reset() { statement.reset(); }
};

bool execute(sqlite3* db, const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        logger().error("[WARN] History database: %{PUBLIC}@", message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::optional<double> numberOf(const std::string& text) {
    if (!Measure::isNumericMeasurement(text))
        return std::nullopt;
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", nullptr);
    const double value = ::strtod_l(text.c_str(), nullptr, cLocale);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

template <class Status>
std::optional<std::int64_t> statusCode(const std::optional<Status>& status) {
    if (!status)
        return std::nullopt;
    switch (*status) {
    case Status::ok:
        return 0;
    case Status::degraded:
        return 1;
    case Status::down:
        return 2;
    }
    return std::nullopt;
}

void closeDatabase(sqlite3* db) {
    sqlite3_close_v2(db);
}

/// The file, created 0600 before SQLite opens it (its journal files take the same mode).
bool createPrivately(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void moveAside(const fs::path& file, std::string_view reason) {
    const auto stamp = std::to_string(static_cast<long long>(joblark::Date().timeIntervalSince1970()));
    std::string aside = file.string() + ".unreadable-" + stamp;
    for (int n = 2; fs::exists(aside); ++n)
        aside = file.string() + ".unreadable-" + stamp + "-" + std::to_string(n);
    std::error_code error;
    fs::rename(file, aside, error);
    for (const char* suffix : {"-wal", "-shm"})
        fs::remove(file.string() + suffix, error);
    logger().error(
        "[WARN] The history database %{PUBLIC}@ %{PUBLIC}@; it was moved to %{PUBLIC}@ and a new one started",
        file.string(), reason, aside);
}

} // namespace

struct HistoryStore::Statements {
    explicit Statements(sqlite3* db)
        : insert(db, "INSERT OR IGNORE INTO entries(resource, entry, at, status, value) VALUES (?1, ?2, ?3, "
                     "?4, ?5)"),
          addHour(db, "INSERT INTO hours(resource, hour, total, ok) VALUES (?1, ?2, ?3, ?4) "
                      "ON CONFLICT(resource, hour) DO UPDATE SET total = total + excluded.total, ok = ok + "
                      "excluded.ok"),
          newest(db, "SELECT max(at) FROM entries WHERE resource = ?1"),
          hours(db, "SELECT sum(total), sum(ok) FROM hours WHERE resource = ?1 AND hour >= ?2 AND hour < ?3"),
          span(db,
               "SELECT count(*), sum(status = 0) FROM entries WHERE resource = ?1 AND at >= ?2 AND at < ?3"),
          since(
              db,
              "SELECT at, status, value FROM (SELECT at, status, value FROM entries WHERE resource = ?1 AND "
              "at >= ?2 ORDER BY at DESC LIMIT ?3) ORDER BY at"),
          latest(db, "SELECT at, status, value FROM entries WHERE resource = ?1 ORDER BY at DESC LIMIT ?2") {}

    bool valid() const { return insert && addHour && newest && hours && span && since && latest; }

    Statement insert, addHour, newest, hours, span, since, latest;
    // The newest entry recorded per resource: older entries in a sync were seen before.
    std::unordered_map<std::string, double> newestRecorded;
};

fs::path HistoryStore::defaultLocation() {
    return joblark::FileLocations::dataDirectory() / fileName;
}

std::unique_ptr<HistoryStore> HistoryStore::open(const fs::path& file) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!createPrivately(file)) {
            logger().error("[WARN] No history is kept: %{PUBLIC}@ cannot be created (%{PUBLIC}@)",
                           file.string(), std::generic_category().message(errno));
            return nullptr;
        }
        sqlite3* raw = nullptr;
        const int rc =
            sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        std::unique_ptr<sqlite3, decltype(&closeDatabase)> db(raw, closeDatabase);
        if (rc != SQLITE_OK) {
            logger().error("[WARN] No history is kept: %{PUBLIC}@ (%{PUBLIC}@)", file.string(),
                           sqlite3_errstr(rc));
            return nullptr;
        }
        sqlite3_busy_timeout(db.get(), 2000);
        sqlite3_stmt* versionQuery = nullptr;
        int version = -1;
        if (sqlite3_prepare_v2(db.get(), "PRAGMA user_version", -1, &versionQuery, nullptr) == SQLITE_OK &&
            sqlite3_step(versionQuery) == SQLITE_ROW)
            version = sqlite3_column_int(versionQuery, 0);
        const int readError = sqlite3_errcode(db.get());
        sqlite3_finalize(versionQuery);
        if (version < 0) {
            db.reset();
            if (readError == SQLITE_NOTADB || readError == SQLITE_CORRUPT) {
                moveAside(file, "is damaged");
                continue;
            }
            logger().error("[WARN] No history is kept: %{PUBLIC}@ cannot be read (%{PUBLIC}@)", file.string(),
                           sqlite3_errstr(readError));
            return nullptr;
        }
        if (version > schemaVersion) {
            db.reset();
            moveAside(file, "was written by a newer version");
            continue;
        }
        if (!execute(db.get(), "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;") ||
            !execute(db.get(), schema)) {
            const int error = sqlite3_errcode(db.get());
            db.reset();
            if (error == SQLITE_CORRUPT || error == SQLITE_NOTADB) {
                moveAside(file, "is damaged");
                continue;
            }
            return nullptr;
        }
        std::unique_ptr<HistoryStore> store(new HistoryStore(file, db.release()));
        if (!store->statements_->valid())
            return nullptr;
        return store;
    }
    return nullptr;
}

void HistoryStore::remove(const fs::path& file) {
    std::error_code error;
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(file.string() + suffix, error);
}

HistoryStore::HistoryStore(fs::path file, sqlite3* db)
    : file_(std::move(file)), db_(db), statements_(std::make_unique<Statements>(db)) {}

HistoryStore::~HistoryStore() {
    statements_.reset();
    closeDatabase(db_);
}

std::size_t HistoryStore::record(const std::vector<std::shared_ptr<Endpoint>>& endpoints,
                                 const std::vector<std::shared_ptr<Measure>>& measures) {
    auto& s = *statements_;
    std::map<std::pair<std::string, std::int64_t>, std::pair<std::int64_t, std::int64_t>> hourCounts;
    std::size_t added = 0;
    bool failed = false;

    auto newestOf = [&](const std::string& resource) {
        if (auto it = s.newestRecorded.find(resource); it != s.newestRecorded.end())
            return it->second;
        Reset reset{s.newest};
        s.newest.bind(1, resource);
        double newest = -INFINITY;
        if (s.newest.step() == SQLITE_ROW && sqlite3_column_type(s.newest.get(), 0) != SQLITE_NULL)
            newest = sqlite3_column_double(s.newest.get(), 0);
        s.newestRecorded[resource] = newest;
        return newest;
    };
    auto add = [&](const std::string& resource, const std::optional<std::string>& entryId,
                   const std::optional<joblark::Date>& createdAt, std::optional<std::int64_t> status,
                   std::optional<double> value, double newest) {
        if (!createdAt || failed)
            return; // an entry without a time cannot be placed
        const double at = createdAt->timeIntervalSince1970();
        if (at < newest)
            return;
        // Entries without an id are told apart by their time.
        const std::string entry = entryId ? *entryId : "@" + createdAt->description();
        Reset reset{s.insert};
        s.insert.bind(1, resource).bind(2, entry).bind(3, at).bind(4, status).bind(5, value);
        if (s.insert.step() != SQLITE_DONE) {
            failed = true;
            return;
        }
        if (sqlite3_changes(db_) == 1) {
            ++added;
            auto& counts = hourCounts[{resource, static_cast<std::int64_t>(std::floor(at / secondsPerHour))}];
            ++counts.first;
            counts.second += status == 0 ? 1 : 0;
            s.newestRecorded[resource] = std::max(s.newestRecorded[resource], at);
        }
    };

    if (!execute(db_, "BEGIN IMMEDIATE"))
        return 0;
    for (const auto& endpoint : endpoints) {
        if (!endpoint || !endpoint->id || !endpoint->history)
            continue;
        const double newest = newestOf(*endpoint->id);
        for (const auto& check : *endpoint->history)
            if (check)
                add(*endpoint->id, check->uuid, check->createdAt, statusCode(check->status),
                    check->responseTime ? std::optional<double>(static_cast<double>(*check->responseTime))
                                        : std::nullopt,
                    newest);
    }
    for (const auto& measure : measures) {
        if (!measure || !measure->id || !measure->history)
            continue;
        const double newest = newestOf(*measure->id);
        for (const auto& assessment : *measure->history)
            if (assessment)
                add(*measure->id, assessment->uuid, assessment->createdAt, statusCode(assessment->status),
                    assessment->measurement ? numberOf(*assessment->measurement) : std::nullopt, newest);
    }
    for (const auto& [key, counts] : hourCounts) {
        if (failed)
            break;
        Reset reset{s.addHour};
        s.addHour.bind(1, key.first).bind(2, key.second).bind(3, counts.first).bind(4, counts.second);
        failed = s.addHour.step() != SQLITE_DONE;
    }
    if (failed) {
        logger().error("[WARN] History not recorded: %{PUBLIC}@", sqlite3_errmsg(db_));
        execute(db_, "ROLLBACK");
        s.newestRecorded.clear();
        return 0;
    }
    if (!execute(db_, "COMMIT")) {
        execute(db_, "ROLLBACK");
        s.newestRecorded.clear();
        return 0;
    }
    return added;
}

std::optional<double> HistoryStore::uptime(const std::string& resourceId, std::chrono::seconds window,
                                           const joblark::Date& now) const {
    auto& s = *statements_;
    const double end = now.timeIntervalSince1970();
    const double start = end - static_cast<double>(window.count());
    // Whole hours from the per-hour counts, the partial hours at both ends from the entries.
    const auto firstHour = static_cast<std::int64_t>(std::ceil(start / secondsPerHour));
    const auto lastHour = static_cast<std::int64_t>(std::floor(end / secondsPerHour));
    std::int64_t total = 0, ok = 0;
    auto countEntries = [&](double from, double to) {
        if (to <= from)
            return;
        Reset reset{s.span};
        s.span.bind(1, resourceId).bind(2, from).bind(3, to);
        if (s.span.step() == SQLITE_ROW) {
            total += sqlite3_column_int64(s.span.get(), 0);
            ok += sqlite3_column_int64(s.span.get(), 1);
        }
    };
    if (firstHour < lastHour) {
        Reset reset{s.hours};
        s.hours.bind(1, resourceId).bind(2, firstHour).bind(3, lastHour);
        if (s.hours.step() == SQLITE_ROW) {
            total += sqlite3_column_int64(s.hours.get(), 0);
            ok += sqlite3_column_int64(s.hours.get(), 1);
        }
        countEntries(start, static_cast<double>(firstHour) * secondsPerHour);
        countEntries(static_cast<double>(lastHour) * secondsPerHour, end + 1e-6);
    } else {
        countEntries(start, end + 1e-6);
    }
    if (total == 0)
        return std::nullopt;
    return static_cast<double>(ok) / static_cast<double>(total);
}

namespace {

HistoryPoint pointFrom(sqlite3_stmt* row) {
    HistoryPoint point;
    point.at = joblark::Date::fromTimeIntervalSince1970(sqlite3_column_double(row, 0));
    if (sqlite3_column_type(row, 1) != SQLITE_NULL) {
        const int code = sqlite3_column_int(row, 1);
        if (code >= 0 && code <= 2)
            point.status = static_cast<HistoryPoint::Status>(code);
    }
    if (sqlite3_column_type(row, 2) != SQLITE_NULL)
        point.value = sqlite3_column_double(row, 2);
    return point;
}

} // namespace

std::vector<HistoryPoint> HistoryStore::points(const std::string& resourceId, const joblark::Date& since,
                                               std::size_t limit) const {
    auto& s = *statements_;
    Reset reset{s.since};
    s.since.bind(1, resourceId)
        .bind(2, since.timeIntervalSince1970())
        .bind(3, static_cast<std::int64_t>(limit));
    std::vector<HistoryPoint> out;
    while (s.since.step() == SQLITE_ROW)
        out.push_back(pointFrom(s.since.get()));
    return out;
}

std::vector<HistoryPoint> HistoryStore::recent(const std::string& resourceId, std::size_t count) const {
    auto& s = *statements_;
    Reset reset{s.latest};
    s.latest.bind(1, resourceId).bind(2, static_cast<std::int64_t>(count));
    std::vector<HistoryPoint> out;
    while (s.latest.step() == SQLITE_ROW)
        out.push_back(pointFrom(s.latest.get()));
    return out;
}

void HistoryStore::prune(const joblark::Date& now) {
    // Cut at an hour boundary so that the per-hour counts stay exact.
    auto cutAt = [&](std::int64_t hour) {
        sqlite3_stmt* statement = nullptr;
        execute(db_, "BEGIN IMMEDIATE");
        for (const char* sql :
             {"DELETE FROM entries WHERE at < ?1 * 3600.0", "DELETE FROM hours WHERE hour < ?1"}) {
            if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(statement, 1, hour);
                sqlite3_step(statement);
            }
            sqlite3_finalize(statement);
        }
        execute(db_, "COMMIT");
        statements_->newestRecorded.clear();
    };
    const double cutoff =
        now.timeIntervalSince1970() - static_cast<double>(std::chrono::seconds(retention).count());
    cutAt(static_cast<std::int64_t>(std::floor(cutoff / secondsPerHour)));

    auto fileSize = [&] {
        sqlite3_stmt* statement = nullptr;
        std::int64_t used = 0;
        if (sqlite3_prepare_v2(db_,
                               "SELECT (page_count - freelist_count) * page_size FROM pragma_page_count(), "
                               "pragma_freelist_count(), pragma_page_size()",
                               -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            used = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return used;
    };
    // Over the limit: drop the oldest tenth of the time span until within it.
    for (int round = 0; round < 20 && fileSize() > sizeLimit; ++round) {
        sqlite3_stmt* statement = nullptr;
        double oldest = 0, newest = 0;
        if (sqlite3_prepare_v2(db_, "SELECT min(at), max(at) FROM entries", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            oldest = sqlite3_column_double(statement, 0);
            newest = sqlite3_column_double(statement, 1);
        }
        sqlite3_finalize(statement);
        const double cut = oldest + std::max((newest - oldest) / 10, secondsPerHour);
        cutAt(static_cast<std::int64_t>(std::ceil(cut / secondsPerHour)));
    }
    execute(db_, "PRAGMA incremental_vacuum");
}

} // namespace kestrova
