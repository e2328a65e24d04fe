#pragma once

#include "Model/AppState.hpp"
#include "Service/Authentication.hpp"

#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/DispatchQueue.hpp"
#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Foundation/URL.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// A request for a window, waiting in the controller's inbox until a window takes it.
struct UserActivity {
    std::string activityType;
    joblark::Dictionary userInfo;
    bool operator==(const UserActivity&) const = default;
};

/// The one owner of the application's state: the cached AppState, the API credentials, the refresh
/// timer and the inbox of window requests. Every change of the state goes through it, on the main
/// thread, and is announced with the notifications below; the state is saved to the cache file on a
/// serial save queue and the credentials to the credential store.
class AppStateController : public std::enable_shared_from_this<AppStateController> {
public:
    /// A success flag and the first error of the service task behind it.
    using Completion = std::function<void(bool ok, joblark::ErrorPtr error)>;

    static constexpr std::string_view endpointsDidChange = "AppStateController.endpointsDidChange";
    static constexpr std::string_view measuresDidChange = "AppStateController.measuresDidChange";
    static constexpr std::string_view userDidChange = "AppStateController.userDidChange";
    static constexpr std::string_view didLogin = "AppStateController.didLogin";
    static constexpr std::string_view didLogout = "AppStateController.didLogout";
    static constexpr std::string_view someonePleaseHandleThisError =
        "AppStateController.someonePleaseHandleThisError";
    static constexpr std::string_view pushNotificationAuthorizationStatusDidChange =
        "pushNotificationAuthorizationStatusDidChange";
    static constexpr std::string_view didSelect = "AppStateController.didSelect";
    static constexpr std::string_view didDeselect = "AppStateController.didDeselect";

    static constexpr std::string_view kShouldAutoRefresh = "kShouldAutoRefresh";
    static constexpr std::string_view kRefreshInterval = "kRefreshInterval";
    static constexpr std::string_view kEnablePushNotifications = "kEnablePushNotifications";
    /// Registers the three preferences' defaults (auto-refresh on, every 30 seconds, no push).
    static void registerDefaults();

    /// The shared controller, created on first use (on the main thread) with the cache file in the
    /// user's cache directory.
    static std::shared_ptr<AppStateController> shared();
    /// A controller of its own, for another cache file (tests, tools).
    static std::shared_ptr<AppStateController> make(std::filesystem::path cacheFileLocation);

    ~AppStateController();
    AppStateController(const AppStateController&) = delete;
    AppStateController& operator=(const AppStateController&) = delete;

    // --- state (main thread) ---------------------------------------------------------------------

    std::shared_ptr<joblark::Timer> refreshTimer;
    std::shared_ptr<AppState> state;
    std::vector<UserActivity> activityInbox;

    /// The API token of the signed-in user; readable from any thread (service tasks read it).
    std::optional<std::string> credentials() const;
    void setCredentials(std::optional<std::string> token);
    bool isSignedIn() const { return credentials().has_value(); }
    /// This controller's token, for the service tasks it makes (and any other maker acting for it).
    CredentialsSource credentialsSource() const;

    /// What went wrong the last time the cache file was read or written; cleared by a write that
    /// succeeds. Readable from any thread, for a window or the terminal to show.
    struct CacheProblem {
        enum class Kind { load, save } kind;
        std::string description;
    };
    std::optional<CacheProblem> lastCacheProblem() const;

    /// How the last sync went, so a window can tell the user its data may be old. Main thread.
    struct SyncStatus {
        /// The last sync whose endpoint list arrived.
        std::optional<joblark::Date> lastSuccess;
        /// When the cached state shown was saved (the cache file's time at start).
        std::optional<joblark::Date> cacheDate;
        /// The last sync failed (its endpoint list did not arrive).
        bool lastSyncFailed = false;
        joblark::ErrorPtr lastError;
        /// The service could not be reached at all (no answer, as opposed to an answer refusing).
        bool serviceUnreachable() const;
        /// The time the shown data is from.
        std::optional<joblark::Date> dataDate() const { return lastSuccess ? lastSuccess : cacheDate; }
    };
    static constexpr std::string_view syncStatusDidChange = "AppStateController.syncStatusDidChange";
    const SyncStatus& syncStatus() const { return syncStatus_; }

    const std::filesystem::path& cacheFileLocation() const { return cacheFileLocation_; }
    /// "file://" and the cache file's path.
    std::string cacheFileURLString() const;
    joblark::DispatchQueue& queue() { return *queue_; }

    /// Reads the stored credential and the cache file.
    void load();
    /// Writes the state (as it is now) and the credentials; on the caller's thread. When another
    /// process has signed out (the stored credential this controller had is gone) or in (another one
    /// replaced it) meanwhile, writes nothing and follows it instead, on the main thread: a sign-out
    /// clears the state and posts "AppStateController.didLogout" as signing out here does.
    void persist();
    /// Persists a snapshot of the state taken now on the save queue, then calls `completion` there.
    /// Saves that pile up while one waits are written together, with the newest snapshot.
    void save(std::function<void(bool, joblark::ErrorPtr)> completion = nullptr);
    /// Stores the list sorted oldest first (undated last), then saves.
    void setEndpoints(std::optional<std::vector<std::shared_ptr<Endpoint>>> endpoints);
    void setMeasures(std::optional<std::vector<std::shared_ptr<Measure>>> measures);
    /// The first waiting request of this type; every equal request leaves the inbox with it.
    std::optional<UserActivity> takeActivity(std::string_view type);

    // --- operations with the service (start on the main thread; completions on it) ---------------

    void sync(Completion completion = nullptr);
    void login(const std::string& email, const std::string& password, Completion completion = nullptr);
    void finishSignIn(bool ok, joblark::ErrorPtr error, Completion completion = nullptr);
    /// Unregisters this machine's push device, then clears the local state whatever the outcome.
    void logout(std::function<void()> completion = nullptr);
    /// Uses another service from now on. Signed in elsewhere, that is a sign-out first (the token
    /// belongs to the old service). False, with nothing changed, for an address that is not an http or
    /// https origin. `completion` runs on the main thread once the change is made.
    bool setServiceAddress(const std::string& address, std::function<void()> completion = nullptr);
    void createEndpoint(const std::string& name, const joblark::URL& url, Completion completion = nullptr);
    void updateEndpoint(const joblark::URL& url, std::optional<bool> isPublic,
                        std::optional<bool> ensureValidCert, std::optional<Endpoint::Status> status,
                        Completion completion = nullptr);
    void updateMeasure(const joblark::URL& url, std::optional<bool> isPublic,
                       std::optional<Measure::Status> status, Completion completion = nullptr);
    void deleteResource(const joblark::URL& url, Completion completion = nullptr);
    void registerDevice(const std::string& name, const std::string& deviceId,
                        const std::string& registrationId, Completion completion = nullptr);
    void unregisterDevice(const std::string& deviceId, Completion completion = nullptr);

    /// Schedules the repeating refresh on the current run loop, every "kRefreshInterval" seconds (as
    /// RefreshInterval reads it). Each tick first looks whether another process signed out.
    void startRefreshTimer();
    /// Turns automatic refresh off ("kShouldAutoRefresh" false) and stops the timer.
    void stopRefreshTimer();

    /// This machine's identifier for push registration (upper case); replaceable for tests.
    std::function<std::optional<std::string>()> vendorIdentifier;

private:
    explicit AppStateController(std::filesystem::path cacheFileLocation);
    static std::shared_ptr<AppStateController> create(std::filesystem::path cacheFileLocation);

    void clearLocalState();
    void resetLocalState();
    /// False when the store no longer holds the token this controller stored or loaded: then the
    /// controller follows the change on the main thread. Any thread but the main one.
    bool storeStillHolds(const std::string& token);
    void followStore(const std::string& had, const std::optional<std::string>& now);
    void setCacheProblem(std::optional<CacheProblem> problem);
    void announceEndpoints(const std::optional<std::vector<std::shared_ptr<Endpoint>>>& list);
    void announceMeasures(const std::optional<std::vector<std::shared_ptr<Measure>>>& list);
    std::shared_ptr<AppState> snapshot() const;
    void persist(const std::shared_ptr<AppState>& snapshot, const std::optional<std::string>& token);
    void tick(joblark::Timer& timer);

    /// Saves asked for before the queue reaches them are written once, with the newest snapshot
    /// (a sync asks three times).
    struct SaveBatch {
        std::mutex mutex;
        bool queued = false;
        std::shared_ptr<AppState> state;
        std::optional<std::string> token;
        std::vector<std::function<void(bool, joblark::ErrorPtr)>> completions;
    };

    std::filesystem::path cacheFileLocation_;
    std::shared_ptr<SaveBatch> saves_ = std::make_shared<SaveBatch>();
    std::unique_ptr<joblark::DispatchQueue> queue_;
    mutable std::mutex credentialsMutex_; // the credentials and what the store held: read by any thread
    std::optional<std::string> credentials_;
    std::optional<std::string> storedToken_; // the token this controller last stored or loaded
    mutable std::mutex problemMutex_;
    std::optional<CacheProblem> cacheProblem_;
    SyncStatus syncStatus_;
    std::mutex keychainMutex_; // orders the save queue's token writes with the purge at sign-out
};

} // namespace kestrova
