#pragma once

#include "quillnest/Records.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quillnest {

/// A database failure (I/O, corruption, a newer schema). Requests answer 500 when one escapes.
class StorageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Result of creating something that may be refused.
enum class CreateOutcome { created, duplicate, limitReached };

/// Changes a PATCH may carry; absent fields stay as they are.
struct EndpointChanges {
    std::optional<std::string> name;
    std::optional<bool> isPublic;
    std::optional<bool> ensureValidCert;
    std::optional<std::string> status;
    std::optional<std::string> checkType;
    std::optional<std::int64_t> degredationThreshold;
    std::optional<std::int64_t> certCheckExpiryThreshold;
};

struct MeasureChanges {
    std::optional<std::string> name;
    std::optional<bool> isPublic;
    std::optional<std::string> status;
};

/// Everything the service keeps, in one SQLite file (WAL). One connection serves all threads, one
/// statement at a time: requests are short and SQLite serialises writers anyway.
class Storage {
public:
    /// Opens (creating when missing) and migrates the database; throws StorageError.
    explicit Storage(const std::filesystem::path& path);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    static constexpr int schemaVersion = 1;
    /// Checks and assessments kept per endpoint and measure; the API shows this many.
    static constexpr int historyLimit = 30;

    // Accounts and tokens.
    CreateOutcome createUser(const std::string& email, const std::string& passwordHash,
                             std::int64_t endpointLimit, UserRecord* created = nullptr);
    /// The user and the stored password hash.
    std::optional<std::pair<UserRecord, std::string>> userByEmail(const std::string& email);
    std::optional<UserRecord> userById(std::int64_t id);
    std::optional<UserRecord> userByUuid(const std::string& uuid);
    void setPasswordHash(std::int64_t userId, const std::string& passwordHash);
    /// Stores a token by its hash; returns its creation time.
    Millis addToken(std::int64_t userId, const std::string& keyHash);
    std::optional<UserRecord> userForTokenHash(const std::string& keyHash);

    // Endpoints.
    CreateOutcome createEndpoint(EndpointRecord& endpoint, std::int64_t endpointLimit);
    std::optional<EndpointRecord> endpoint(std::int64_t userId, const std::string& uuid);
    Page<EndpointRecord> endpoints(std::int64_t userId, const PageQuery& query);
    std::optional<EndpointRecord> updateEndpoint(std::int64_t userId, const std::string& uuid,
                                                 const EndpointChanges& changes);
    bool deleteEndpoint(std::int64_t userId, const std::string& uuid);
    void setEndpointUrl(std::int64_t endpointId, const std::string& url);
    std::vector<ProbeTarget> activeProbeTargets();
    std::optional<ProbeTarget> probeTarget(std::int64_t endpointId);
    /// Stores a check and makes it the endpoint's last; false when the endpoint is gone.
    bool recordCheck(std::int64_t endpointId, CheckRecord check);

    // Measures.
    void createMeasure(MeasureRecord& measure);
    std::optional<MeasureRecord> measure(std::int64_t userId, const std::string& uuid);
    Page<MeasureRecord> measures(std::int64_t userId, const PageQuery& query);
    std::optional<MeasureRecord> updateMeasure(std::int64_t userId, const std::string& uuid,
                                               const MeasureChanges& changes);
    bool deleteMeasure(std::int64_t userId, const std::string& uuid);
    bool recordAssessment(std::int64_t measureId, AssessmentRecord assessment);

    // Push devices.
    /// Registers the device, or updates the account's record with the same device id. True when new.
    bool upsertDevice(DeviceRecord& device);
    std::optional<DeviceRecord> device(std::int64_t userId, const std::string& uuid);
    Page<DeviceRecord> devices(std::int64_t userId, const std::optional<std::string>& deviceId,
                               const PageQuery& query);
    bool deleteDevice(std::int64_t userId, const std::string& uuid);

private:
    class Statement;
    Statement& prepare(const char* sql);
    void exec(const char* sql);
    void migrate();
    template <class Fn>
    auto transaction(Fn&& fn);

    std::vector<CheckRecord> history(std::int64_t endpointId);
    void attachHistories(std::vector<EndpointRecord>& endpoints);
    void attachDetails(std::vector<MeasureRecord>& measures);
    template <class T, class Load>
    Page<T> page(const char* table, std::int64_t userId, const std::string& extraWhere,
                 const std::optional<std::string>& extraValue, const PageQuery& query, Load load);

    std::recursive_mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> statements_;
};

} // namespace quillnest
