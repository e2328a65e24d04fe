#include "quillnest/Storage.hpp"

#include "joblark/Foundation/UUID.hpp"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <limits>

namespace quillnest {

namespace {

std::string newUuid() {
    auto text = joblark::UUID().uuidString();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

/// A prepared statement, reset after every use so it can be cached.
class Storage::Statement {
public:
    Statement(sqlite3* db, std::string_view sql) : db_(db) {
        if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                               &stmt_, nullptr) != SQLITE_OK)
            throw StorageError(std::string("Could not prepare a query: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Statement& bind(int index, bool value) { return bind(index, static_cast<std::int64_t>(value ? 1 : 0)); }
    Statement& bind(int index, const std::string& value) {
        check(
            sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, const char* value) { return bind(index, std::string(value)); }
    Statement& bind(int index, const std::optional<std::string>& value) {
        if (value)
            return bind(index, *value);
        check(sqlite3_bind_null(stmt_, index));
        return *this;
    }

    /// True while there is a row.
    bool step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw StorageError(std::string("Database error: ") + sqlite3_errmsg(db_));
    }
    void run() {
        while (step()) {
        }
    }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool boolean(int column) const { return integer(column) != 0; }
    std::string text(int column) const {
        auto* p = sqlite3_column_text(stmt_, column);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }
    std::optional<std::string> optionalText(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL)
            return std::nullopt;
        return text(column);
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK)
            throw StorageError(std::string("Could not bind a value: ") + sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

namespace {

/// Resets a cached statement when the caller is done with it, whatever happens.
template <class S>
class Reset {
public:
    explicit Reset(S& statement) : s_(statement) {}
    ~Reset() { s_.reset(); }
    Reset(const Reset&) = delete;
    Reset& operator=(const Reset&) = delete;

private:
    S& s_;
};

constexpr const char* endpointColumns =
    "id, uuid, user_id, name, endpoint_url, check_type, degredation_threshold, ensure_valid_cert, "
    "cert_check_expiry_threshold, public, status, last_check_status, last_check_message, created_at, "
    "updated_at";
constexpr const char* measureColumns =
    "id, uuid, user_id, name, public, status, last_status, last_assessment_message, created_at, updated_at";
constexpr const char* deviceColumns =
    "id, uuid, user_id, name, device_id, registration_id, active, created_at, updated_at";
constexpr const char* userColumns =
    "u.id, u.uuid, u.email, u.endpoint_limit, u.contacts_remaining, u.status_page_enabled, u.created_at, "
    "u.updated_at, (SELECT COUNT(*) FROM endpoints e WHERE e.user_id = u.id)";

template <class S>
EndpointRecord loadEndpoint(const S& s) {
    EndpointRecord e;
    e.id = s.integer(0);
    e.uuid = s.text(1);
    e.userId = s.integer(2);
    e.name = s.text(3);
    e.endpointUrl = s.text(4);
    e.checkType = s.text(5);
    e.degredationThreshold = s.integer(6);
    e.ensureValidCert = s.boolean(7);
    e.certCheckExpiryThreshold = s.integer(8);
    e.isPublic = s.boolean(9);
    e.status = s.text(10);
    e.lastCheckStatus = s.optionalText(11);
    e.lastCheckMessage = s.optionalText(12);
    e.createdAt = s.integer(13);
    e.updatedAt = s.integer(14);
    return e;
}

template <class S>
MeasureRecord loadMeasure(const S& s) {
    MeasureRecord m;
    m.id = s.integer(0);
    m.uuid = s.text(1);
    m.userId = s.integer(2);
    m.name = s.text(3);
    m.isPublic = s.boolean(4);
    m.status = s.text(5);
    m.lastStatus = s.optionalText(6);
    m.lastAssessmentMessage = s.optionalText(7);
    m.createdAt = s.integer(8);
    m.updatedAt = s.integer(9);
    return m;
}

template <class S>
DeviceRecord loadDevice(const S& s) {
    DeviceRecord d;
    d.id = s.integer(0);
    d.uuid = s.text(1);
    d.userId = s.integer(2);
    d.name = s.text(3);
    d.deviceId = s.text(4);
    d.registrationId = s.text(5);
    d.active = s.boolean(6);
    d.createdAt = s.integer(7);
    d.updatedAt = s.integer(8);
    return d;
}

template <class S>
UserRecord loadUser(const S& s) {
    UserRecord u;
    u.id = s.integer(0);
    u.uuid = s.text(1);
    u.email = s.text(2);
    u.endpointLimit = s.integer(3);
    u.contactsRemaining = s.integer(4);
    u.statusPageEnabled = s.boolean(5);
    u.createdAt = s.integer(6);
    u.updatedAt = s.integer(7);
    u.endpointCount = s.integer(8);
    return u;
}

// Each entry moves the schema one version up; a database is never taken down a version.
constexpr const char* migrations[] = {
    R"sql(
    CREATE TABLE users (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        email TEXT NOT NULL UNIQUE COLLATE NOCASE,
        password_hash TEXT NOT NULL,
        endpoint_limit INTEGER NOT NULL,
        contacts_remaining INTEGER NOT NULL DEFAULT 5,
        status_page_enabled INTEGER NOT NULL DEFAULT 0,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL);
    CREATE TABLE tokens (
        id INTEGER PRIMARY KEY,
        user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        key_hash TEXT NOT NULL UNIQUE,
        created_at INTEGER NOT NULL);
    CREATE TABLE endpoints (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        name TEXT NOT NULL,
        endpoint_url TEXT NOT NULL,
        check_type TEXT NOT NULL,
        degredation_threshold INTEGER NOT NULL,
        ensure_valid_cert INTEGER NOT NULL,
        cert_check_expiry_threshold INTEGER NOT NULL,
        public INTEGER NOT NULL,
        status TEXT NOT NULL,
        last_check_status TEXT,
        last_check_message TEXT,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL);
    CREATE INDEX endpoints_by_user ON endpoints(user_id, id);
    CREATE TABLE checks (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL,
        endpoint_id INTEGER NOT NULL REFERENCES endpoints(id) ON DELETE CASCADE,
        created_at INTEGER NOT NULL,
        ok INTEGER NOT NULL,
        response_time INTEGER NOT NULL,
        status TEXT NOT NULL,
        message TEXT NOT NULL);
    CREATE INDEX checks_by_endpoint ON checks(endpoint_id, id);
    CREATE TABLE measures (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        name TEXT NOT NULL,
        public INTEGER NOT NULL,
        status TEXT NOT NULL,
        last_status TEXT,
        last_assessment_message TEXT,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL);
    CREATE INDEX measures_by_user ON measures(user_id, id);
    CREATE TABLE criteria (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        measure_id INTEGER NOT NULL REFERENCES measures(id) ON DELETE CASCADE,
        expected_value TEXT NOT NULL,
        comparison TEXT NOT NULL,
        value_path TEXT,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL);
    CREATE INDEX criteria_by_measure ON criteria(measure_id, id);
    CREATE TABLE assessments (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL,
        measure_id INTEGER NOT NULL REFERENCES measures(id) ON DELETE CASCADE,
        created_at INTEGER NOT NULL,
        ok INTEGER NOT NULL,
        status TEXT NOT NULL,
        measurement TEXT NOT NULL,
        message TEXT NOT NULL);
    CREATE INDEX assessments_by_measure ON assessments(measure_id, id);
    CREATE TABLE devices (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        name TEXT NOT NULL,
        device_id TEXT NOT NULL,
        registration_id TEXT NOT NULL,
        active INTEGER NOT NULL,
        created_at INTEGER NOT NULL,
        updated_at INTEGER NOT NULL,
        UNIQUE (user_id, device_id));
    )sql",
};
static_assert(std::size(migrations) == Storage::schemaVersion);

} // namespace

template <class Fn>
auto Storage::transaction(Fn&& fn) {
    exec("BEGIN IMMEDIATE");
    try {
        if constexpr (std::is_void_v<decltype(fn())>) {
            fn();
            exec("COMMIT");
        } else {
            auto result = fn();
            exec("COMMIT");
            return result;
        }
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

Storage::Storage(const std::filesystem::path& path) {
    std::error_code ec;
    // The database holds password and token hashes: a directory we create is the owner's alone.
    if (path.has_parent_path() && !std::filesystem::exists(path.parent_path(), ec) &&
        std::filesystem::create_directories(path.parent_path(), ec))
        std::filesystem::permissions(path.parent_path(), std::filesystem::perms::owner_all, ec);
    // The file is created the owner's alone, and one left readable by others is narrowed. SQLite
    // gives the WAL and shared-memory files the database's mode.
    if (!path.empty() && path != ":memory:") {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
        for (const char* suffix : {"-wal", "-shm"})
            ::chmod((path.string() + suffix).c_str(), 0600);
    }
    int rc = sqlite3_open_v2(path.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StorageError("Could not open the database " + path.string() + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA synchronous = NORMAL");
        exec("PRAGMA foreign_keys = ON");
        migrate();
    } catch (...) {
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Storage::~Storage() {
    statements_.clear();
    sqlite3_close(db_);
}

void Storage::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw StorageError("Database error: " + message);
    }
}

void Storage::migrate() {
    int version = 0;
    {
        auto& s = prepare("PRAGMA user_version");
        Reset r(s);
        if (s.step())
            version = static_cast<int>(s.integer(0));
    }
    if (version > schemaVersion)
        throw StorageError("The database was written by a newer quillnest-local (schema " +
                           std::to_string(version) + ", this one knows " + std::to_string(schemaVersion) +
                           ")");
    for (; version < schemaVersion; ++version) {
        transaction([&] {
            exec(migrations[version]);
            exec(("PRAGMA user_version = " + std::to_string(version + 1)).c_str());
        });
    }
}

Storage::Statement& Storage::prepare(const char* sql) {
    auto found = statements_.find(std::string_view(sql));
    if (found != statements_.end())
        return *found->second;
    auto statement = std::make_unique<Statement>(db_, sql);
    auto& ref = *statement;
    statements_.emplace(sql, std::move(statement));
    return ref;
}

// ---- accounts ----

CreateOutcome Storage::createUser(const std::string& email, const std::string& passwordHash,
                                  std::int64_t endpointLimit, UserRecord* created) {
    std::lock_guard lock(mutex_);
    {
        auto& s = prepare("SELECT 1 FROM users WHERE email = ?1");
        Reset r(s);
        if (s.bind(1, email).step())
            return CreateOutcome::duplicate;
    }
    auto now = nowMillis();
    auto uuid = newUuid();
    {
        auto& s =
            prepare("INSERT INTO users (uuid, email, password_hash, endpoint_limit, created_at, updated_at) "
                    "VALUES (?1, ?2, ?3, ?4, ?5, ?5)");
        Reset r(s);
        s.bind(1, uuid).bind(2, email).bind(3, passwordHash).bind(4, endpointLimit).bind(5, now).run();
    }
    if (created)
        *created = *userById(sqlite3_last_insert_rowid(db_));
    return CreateOutcome::created;
}

std::optional<std::pair<UserRecord, std::string>> Storage::userByEmail(const std::string& email) {
    std::lock_guard lock(mutex_);
    static const std::string sql =
        std::string("SELECT ") + userColumns + ", u.password_hash FROM users u WHERE u.email = ?1";
    auto& s = prepare(sql.c_str());
    Reset r(s);
    if (!s.bind(1, email).step())
        return std::nullopt;
    return std::make_pair(loadUser(s), s.text(9));
}

std::optional<UserRecord> Storage::userById(std::int64_t id) {
    std::lock_guard lock(mutex_);
    static const std::string sql = std::string("SELECT ") + userColumns + " FROM users u WHERE u.id = ?1";
    auto& s = prepare(sql.c_str());
    Reset r(s);
    if (!s.bind(1, id).step())
        return std::nullopt;
    return loadUser(s);
}

std::optional<UserRecord> Storage::userByUuid(const std::string& uuid) {
    std::lock_guard lock(mutex_);
    static const std::string sql = std::string("SELECT ") + userColumns + " FROM users u WHERE u.uuid = ?1";
    auto& s = prepare(sql.c_str());
    Reset r(s);
    if (!s.bind(1, uuid).step())
        return std::nullopt;
    return loadUser(s);
}

void Storage::setPasswordHash(std::int64_t userId, const std::string& passwordHash) {
    std::lock_guard lock(mutex_);
    auto& s = prepare("UPDATE users SET password_hash = ?2, updated_at = ?3 WHERE id = ?1");
    Reset r(s);
    s.bind(1, userId).bind(2, passwordHash).bind(3, nowMillis()).run();
}

Millis Storage::addToken(std::int64_t userId, const std::string& keyHash) {
    std::lock_guard lock(mutex_);
    auto now = nowMillis();
    auto& s = prepare("INSERT INTO tokens (user_id, key_hash, created_at) VALUES (?1, ?2, ?3)");
    Reset r(s);
    s.bind(1, userId).bind(2, keyHash).bind(3, now).run();
    return now;
}

std::optional<UserRecord> Storage::userForTokenHash(const std::string& keyHash) {
    std::lock_guard lock(mutex_);
    static const std::string sql = std::string("SELECT ") + userColumns +
                                   " FROM tokens t JOIN users u ON u.id = t.user_id WHERE t.key_hash = ?1";
    auto& s = prepare(sql.c_str());
    Reset r(s);
    if (!s.bind(1, keyHash).step())
        return std::nullopt;
    return loadUser(s);
}

// ---- paging ----

template <class T, class Load>
Page<T> Storage::page(const char* table, std::int64_t userId, const std::string& columns,
                      const std::optional<std::string>& deviceId, const PageQuery& query, Load load) {
    const std::string filter = std::string(" FROM ") + table + " WHERE user_id = ?1" +
                               (deviceId ? " AND device_id = ?4" : " AND (?4 IS NULL)");
    const std::string rows =
        "SELECT " + columns + filter +
        (query.reverse ? " AND id < ?2 ORDER BY id DESC" : " AND id > ?2 ORDER BY id ASC") + " LIMIT ?3";
    const std::string total = "SELECT COUNT(*)" + filter + " AND (?2 IS NULL) AND (?3 IS NULL)";
    // Whether anything lies on the far side of ?2 (towards the previous page).
    const std::string before = "SELECT EXISTS(SELECT 1" + filter +
                               (query.reverse ? " AND id > ?2" : " AND id < ?2") + ") AND (?3 IS NULL)";

    Page<T> result;
    const std::int64_t since =
        query.since.value_or(query.reverse ? std::numeric_limits<std::int64_t>::max() : 0);
    {
        auto& s = prepare(rows.c_str());
        Reset r(s);
        s.bind(1, userId).bind(2, since).bind(3, query.limit + 1).bind(4, deviceId);
        while (s.step())
            result.items.push_back(load(s));
    }
    if (static_cast<std::int64_t>(result.items.size()) > query.limit) {
        result.items.pop_back();
        result.nextSince = result.items.back().id;
    }
    {
        auto& s = prepare(total.c_str());
        Reset r(s);
        s.bind(1, userId).bind(4, deviceId);
        if (s.step())
            result.total = s.integer(0);
    }
    if (query.since) {
        // An empty page still leads back: to the rows up to and including the cursor.
        std::int64_t edge = result.items.empty() ? (query.reverse ? *query.since - 1 : *query.since + 1)
                                                 : result.items.front().id;
        auto& s = prepare(before.c_str());
        Reset r(s);
        s.bind(1, userId).bind(2, edge).bind(4, deviceId);
        if (s.step() && s.boolean(0))
            result.previousSince = edge;
    }
    return result;
}

// ---- endpoints ----

CreateOutcome Storage::createEndpoint(EndpointRecord& e, std::int64_t endpointLimit) {
    std::lock_guard lock(mutex_);
    return transaction([&] {
        {
            auto& s = prepare("SELECT COUNT(*) FROM endpoints WHERE user_id = ?1");
            Reset r(s);
            s.bind(1, e.userId).step();
            if (s.integer(0) >= endpointLimit)
                return CreateOutcome::limitReached;
        }
        e.uuid = newUuid();
        e.createdAt = e.updatedAt = nowMillis();
        auto& s = prepare(
            "INSERT INTO endpoints (uuid, user_id, name, endpoint_url, check_type, degredation_threshold, "
            "ensure_valid_cert, cert_check_expiry_threshold, public, status, created_at, updated_at) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?11)");
        Reset r(s);
        s.bind(1, e.uuid).bind(2, e.userId).bind(3, e.name).bind(4, e.endpointUrl).bind(5, e.checkType);
        s.bind(6, e.degredationThreshold).bind(7, e.ensureValidCert).bind(8, e.certCheckExpiryThreshold);
        s.bind(9, e.isPublic).bind(10, e.status).bind(11, e.createdAt).run();
        e.id = sqlite3_last_insert_rowid(db_);
        return CreateOutcome::created;
    });
}

std::optional<EndpointRecord> Storage::endpoint(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    static const std::string sql =
        std::string("SELECT ") + endpointColumns + " FROM endpoints WHERE user_id = ?1 AND uuid = ?2";
    std::optional<EndpointRecord> result;
    {
        auto& s = prepare(sql.c_str());
        Reset r(s);
        if (!s.bind(1, userId).bind(2, uuid).step())
            return std::nullopt;
        result = loadEndpoint(s);
    }
    result->history = history(result->id);
    return result;
}

std::vector<CheckRecord> Storage::history(std::int64_t endpointId) {
    auto& s = prepare("SELECT uuid, created_at, ok, response_time, status, message FROM checks "
                      "WHERE endpoint_id = ?1 ORDER BY id DESC LIMIT ?2");
    Reset r(s);
    s.bind(1, endpointId).bind(2, historyLimit);
    std::vector<CheckRecord> checks;
    while (s.step())
        checks.push_back({s.text(0), s.integer(1), s.boolean(2), s.integer(3), s.text(4), s.text(5)});
    return checks;
}

void Storage::attachHistories(std::vector<EndpointRecord>& endpoints) {
    if (endpoints.empty())
        return;
    // One query for the whole page rather than one per endpoint.
    std::string ids = "[";
    std::map<std::int64_t, EndpointRecord*> byId;
    for (auto& e : endpoints) {
        ids += (ids.size() > 1 ? "," : "") + std::to_string(e.id);
        byId[e.id] = &e;
    }
    ids += "]";
    auto& s = prepare("SELECT endpoint_id, uuid, created_at, ok, response_time, status, message FROM checks "
                      "WHERE endpoint_id IN (SELECT value FROM json_each(?1)) ORDER BY endpoint_id, id DESC");
    Reset r(s);
    s.bind(1, ids);
    while (s.step()) {
        auto& list = byId[s.integer(0)]->history;
        if (list.size() < historyLimit)
            list.push_back({s.text(1), s.integer(2), s.boolean(3), s.integer(4), s.text(5), s.text(6)});
    }
}

Page<EndpointRecord> Storage::endpoints(std::int64_t userId, const PageQuery& query) {
    std::lock_guard lock(mutex_);
    auto result = page<EndpointRecord>("endpoints", userId, endpointColumns, std::nullopt, query,
                                       [](const Statement& s) { return loadEndpoint(s); });
    attachHistories(result.items);
    return result;
}

std::optional<EndpointRecord> Storage::updateEndpoint(std::int64_t userId, const std::string& uuid,
                                                      const EndpointChanges& c) {
    std::lock_guard lock(mutex_);
    {
        auto& s =
            prepare("UPDATE endpoints SET name = COALESCE(?3, name), public = COALESCE(?4, public), "
                    "ensure_valid_cert = COALESCE(?5, ensure_valid_cert), status = COALESCE(?6, status), "
                    "check_type = COALESCE(?7, check_type), "
                    "degredation_threshold = COALESCE(?8, degredation_threshold), "
                    "cert_check_expiry_threshold = COALESCE(?9, cert_check_expiry_threshold), "
                    "updated_at = ?10 WHERE user_id = ?1 AND uuid = ?2");
        Reset r(s);
        s.bind(1, userId).bind(2, uuid).bind(3, c.name);
        auto optBool = [](const std::optional<bool>& b) {
            return b ? std::optional<std::string>(*b ? "1" : "0") : std::nullopt;
        };
        auto optInt = [](const std::optional<std::int64_t>& i) {
            return i ? std::optional<std::string>(std::to_string(*i)) : std::nullopt;
        };
        s.bind(4, optBool(c.isPublic)).bind(5, optBool(c.ensureValidCert)).bind(6, c.status);
        s.bind(7, c.checkType)
            .bind(8, optInt(c.degredationThreshold))
            .bind(9, optInt(c.certCheckExpiryThreshold));
        s.bind(10, nowMillis()).run();
    }
    return endpoint(userId, uuid);
}

bool Storage::deleteEndpoint(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    auto& s = prepare("DELETE FROM endpoints WHERE user_id = ?1 AND uuid = ?2");
    Reset r(s);
    s.bind(1, userId).bind(2, uuid).run();
    return sqlite3_changes(db_) > 0;
}

void Storage::setEndpointUrl(std::int64_t endpointId, const std::string& url) {
    std::lock_guard lock(mutex_);
    auto& s = prepare(
        "UPDATE endpoints SET endpoint_url = ?2, updated_at = ?3 WHERE id = ?1 AND endpoint_url <> ?2");
    Reset r(s);
    s.bind(1, endpointId).bind(2, url).bind(3, nowMillis()).run();
}

std::vector<ProbeTarget> Storage::activeProbeTargets() {
    std::lock_guard lock(mutex_);
    auto& s = prepare("SELECT id, endpoint_url, check_type, degredation_threshold, ensure_valid_cert, "
                      "cert_check_expiry_threshold FROM endpoints WHERE status = 'active' ORDER BY id");
    Reset r(s);
    std::vector<ProbeTarget> targets;
    while (s.step())
        targets.push_back({s.integer(0), s.text(1), s.text(2), s.integer(3), s.boolean(4), s.integer(5)});
    return targets;
}

std::optional<ProbeTarget> Storage::probeTarget(std::int64_t endpointId) {
    std::lock_guard lock(mutex_);
    auto& s = prepare("SELECT id, endpoint_url, check_type, degredation_threshold, ensure_valid_cert, "
                      "cert_check_expiry_threshold FROM endpoints WHERE id = ?1");
    Reset r(s);
    if (!s.bind(1, endpointId).step())
        return std::nullopt;
    return ProbeTarget{s.integer(0), s.text(1), s.text(2), s.integer(3), s.boolean(4), s.integer(5)};
}

bool Storage::recordCheck(std::int64_t endpointId, CheckRecord check) {
    std::lock_guard lock(mutex_);
    return transaction([&] {
        {
            auto& s =
                prepare("UPDATE endpoints SET last_check_status = ?2, last_check_message = ?3 WHERE id = ?1");
            Reset r(s);
            s.bind(1, endpointId).bind(2, check.status).bind(3, check.message).run();
            if (sqlite3_changes(db_) == 0)
                return false;
        }
        if (check.uuid.empty())
            check.uuid = newUuid();
        {
            auto& s = prepare("INSERT INTO checks (uuid, endpoint_id, created_at, ok, response_time, status, "
                              "message) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            Reset r(s);
            s.bind(1, check.uuid).bind(2, endpointId).bind(3, check.createdAt).bind(4, check.ok);
            s.bind(5, check.responseTime).bind(6, check.status).bind(7, check.message).run();
        }
        auto& s = prepare("DELETE FROM checks WHERE endpoint_id = ?1 AND id <= (SELECT id FROM checks WHERE "
                          "endpoint_id = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)");
        Reset r(s);
        s.bind(1, endpointId).bind(2, historyLimit).run();
        return true;
    });
}

// ---- measures ----

void Storage::createMeasure(MeasureRecord& m) {
    std::lock_guard lock(mutex_);
    transaction([&] {
        m.uuid = newUuid();
        m.createdAt = m.updatedAt = nowMillis();
        {
            auto& s =
                prepare("INSERT INTO measures (uuid, user_id, name, public, status, created_at, updated_at) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6)");
            Reset r(s);
            s.bind(1, m.uuid).bind(2, m.userId).bind(3, m.name).bind(4, m.isPublic).bind(5, m.status);
            s.bind(6, m.createdAt).run();
            m.id = sqlite3_last_insert_rowid(db_);
        }
        for (auto& c : m.criteria) {
            c.uuid = newUuid();
            c.createdAt = c.updatedAt = m.createdAt;
            auto& s =
                prepare("INSERT INTO criteria (uuid, measure_id, expected_value, comparison, value_path, "
                        "created_at, updated_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6)");
            Reset r(s);
            s.bind(1, c.uuid)
                .bind(2, m.id)
                .bind(3, c.expectedValue)
                .bind(4, c.comparison)
                .bind(5, c.valuePath);
            s.bind(6, c.createdAt).run();
        }
    });
}

void Storage::attachDetails(std::vector<MeasureRecord>& measures) {
    if (measures.empty())
        return;
    std::string ids = "[";
    std::map<std::int64_t, MeasureRecord*> byId;
    for (auto& m : measures) {
        ids += (ids.size() > 1 ? "," : "") + std::to_string(m.id);
        byId[m.id] = &m;
    }
    ids += "]";
    {
        auto& s =
            prepare("SELECT measure_id, uuid, expected_value, comparison, value_path, created_at, updated_at "
                    "FROM criteria WHERE measure_id IN (SELECT value FROM json_each(?1)) "
                    "ORDER BY measure_id, id");
        Reset r(s);
        s.bind(1, ids);
        while (s.step())
            byId[s.integer(0)]->criteria.push_back(
                {s.text(1), s.text(2), s.text(3), s.optionalText(4), s.integer(5), s.integer(6)});
    }
    auto& s =
        prepare("SELECT measure_id, uuid, created_at, ok, status, measurement, message FROM assessments "
                "WHERE measure_id IN (SELECT value FROM json_each(?1)) ORDER BY measure_id, id DESC");
    Reset r(s);
    s.bind(1, ids);
    while (s.step()) {
        auto& list = byId[s.integer(0)]->history;
        if (list.size() < historyLimit)
            list.push_back({s.text(1), s.integer(2), s.boolean(3), s.text(4), s.text(5), s.text(6)});
    }
}

std::optional<MeasureRecord> Storage::measure(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    static const std::string sql =
        std::string("SELECT ") + measureColumns + " FROM measures WHERE user_id = ?1 AND uuid = ?2";
    std::vector<MeasureRecord> found;
    {
        auto& s = prepare(sql.c_str());
        Reset r(s);
        if (!s.bind(1, userId).bind(2, uuid).step())
            return std::nullopt;
        found.push_back(loadMeasure(s));
    }
    attachDetails(found);
    return std::move(found.front());
}

Page<MeasureRecord> Storage::measures(std::int64_t userId, const PageQuery& query) {
    std::lock_guard lock(mutex_);
    auto result = page<MeasureRecord>("measures", userId, measureColumns, std::nullopt, query,
                                      [](const Statement& s) { return loadMeasure(s); });
    attachDetails(result.items);
    return result;
}

std::optional<MeasureRecord> Storage::updateMeasure(std::int64_t userId, const std::string& uuid,
                                                    const MeasureChanges& c) {
    std::lock_guard lock(mutex_);
    {
        auto& s = prepare("UPDATE measures SET name = COALESCE(?3, name), public = COALESCE(?4, public), "
                          "status = COALESCE(?5, status), updated_at = ?6 WHERE user_id = ?1 AND uuid = ?2");
        Reset r(s);
        s.bind(1, userId).bind(2, uuid).bind(3, c.name);
        s.bind(4, c.isPublic ? std::optional<std::string>(*c.isPublic ? "1" : "0") : std::nullopt);
        s.bind(5, c.status).bind(6, nowMillis()).run();
    }
    return measure(userId, uuid);
}

bool Storage::deleteMeasure(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    auto& s = prepare("DELETE FROM measures WHERE user_id = ?1 AND uuid = ?2");
    Reset r(s);
    s.bind(1, userId).bind(2, uuid).run();
    return sqlite3_changes(db_) > 0;
}

bool Storage::recordAssessment(std::int64_t measureId, AssessmentRecord a) {
    std::lock_guard lock(mutex_);
    return transaction([&] {
        {
            auto& s =
                prepare("UPDATE measures SET last_status = ?2, last_assessment_message = ?3 WHERE id = ?1");
            Reset r(s);
            s.bind(1, measureId).bind(2, a.status).bind(3, a.message).run();
            if (sqlite3_changes(db_) == 0)
                return false;
        }
        if (a.uuid.empty())
            a.uuid = newUuid();
        {
            auto& s =
                prepare("INSERT INTO assessments (uuid, measure_id, created_at, ok, status, measurement, "
                        "message) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            Reset r(s);
            s.bind(1, a.uuid).bind(2, measureId).bind(3, a.createdAt).bind(4, a.ok).bind(5, a.status);
            s.bind(6, a.measurement).bind(7, a.message).run();
        }
        auto& s =
            prepare("DELETE FROM assessments WHERE measure_id = ?1 AND id <= (SELECT id FROM assessments "
                    "WHERE measure_id = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)");
        Reset r(s);
        s.bind(1, measureId).bind(2, historyLimit).run();
        return true;
    });
}

// ---- devices ----

bool Storage::upsertDevice(DeviceRecord& d) {
    std::lock_guard lock(mutex_);
    return transaction([&] {
        auto now = nowMillis();
        {
            auto& s =
                prepare("UPDATE devices SET name = ?3, registration_id = ?4, active = 1, updated_at = ?5 "
                        "WHERE user_id = ?1 AND device_id = ?2 RETURNING id");
            Reset r(s);
            s.bind(1, d.userId).bind(2, d.deviceId).bind(3, d.name).bind(4, d.registrationId).bind(5, now);
            if (s.step()) {
                d.id = s.integer(0);
                while (s.step()) {
                }
                return false;
            }
        }
        d.uuid = newUuid();
        auto& s = prepare("INSERT INTO devices (uuid, user_id, name, device_id, registration_id, active, "
                          "created_at, updated_at) VALUES (?1, ?2, ?3, ?4, ?5, 1, ?6, ?6)");
        Reset r(s);
        s.bind(1, d.uuid).bind(2, d.userId).bind(3, d.name).bind(4, d.deviceId).bind(5, d.registrationId);
        s.bind(6, now).run();
        d.id = sqlite3_last_insert_rowid(db_);
        return true;
    });
}

std::optional<DeviceRecord> Storage::device(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    static const std::string sql =
        std::string("SELECT ") + deviceColumns + " FROM devices WHERE user_id = ?1 AND uuid = ?2";
    auto& s = prepare(sql.c_str());
    Reset r(s);
    if (!s.bind(1, userId).bind(2, uuid).step())
        return std::nullopt;
    return loadDevice(s);
}

Page<DeviceRecord> Storage::devices(std::int64_t userId, const std::optional<std::string>& deviceId,
                                    const PageQuery& query) {
    std::lock_guard lock(mutex_);
    return page<DeviceRecord>("devices", userId, deviceColumns, deviceId, query,
                              [](const Statement& s) { return loadDevice(s); });
}

bool Storage::deleteDevice(std::int64_t userId, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    auto& s = prepare("DELETE FROM devices WHERE user_id = ?1 AND uuid = ?2");
    Reset r(s);
    s.bind(1, userId).bind(2, uuid).run();
    return sqlite3_changes(db_) > 0;
}

} // namespace quillnest
