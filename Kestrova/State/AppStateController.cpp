#include "State/AppStateController.hpp"

#include "Model/ArchiveCoding.hpp"
#include "Service/Authentication.hpp"
#include "Service/CredentialStore.hpp"
#include "Service/DeviceTasks.hpp"
#include "Service/EndpointTasks.hpp"
#include "Service/MeasureTasks.hpp"
#include "Service/ServiceURLs.hpp"
#include "State/DeviceIdentity.hpp"
#include "State/RefreshInterval.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/URLSession.hpp"
#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/AsyncTask.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/GroupTask.hpp"
#include "joblark/Tasks/LazyTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <algorithm>
#include <chrono>

namespace kestrova {

using joblark::Dictionary;
using joblark::ErrorPtr;
using joblark::TaskController;
using joblark::TaskPtr;
using joblark::UITask;
using joblark::Value;

namespace {

const joblark::Logger& platformLog() {
    return joblark::Logger::general();
}

/// Service lists are read one page deep, 25 at a time, from the start.
constexpr std::int64_t kPageSize = 25;

ErrorPtr firstError(const joblark::Task& task) {
    auto errors = task.errors();
    return errors.empty() ? nullptr : errors.front();
}

bool succeeded(const joblark::Task& task) {
    return task.result().status.ok();
}

void post(std::string_view name, Value object = {}) {
    joblark::NotificationCenter::defaultCenter().post(std::string(name), std::move(object));
}

template <class T>
Value listValue(const std::optional<std::vector<std::shared_ptr<T>>>& list) {
    if (!list)
        return {};
    joblark::Array array;
    array.reserve(list->size());
    for (const auto& item : *list)
        array.emplace_back(joblark::ObjectPtr(item));
    return Value(std::move(array));
}

/// Oldest first; an undated resource counts as now, so it sorts after dated ones.
template <class T>
void sortByCreation(std::vector<std::shared_ptr<T>>& list) {
    const joblark::Date now; // the current instant
    std::stable_sort(list.begin(), list.end(), [&](const auto& a, const auto& b) {
        const auto ta = a && a->createdAt ? *a->createdAt : now;
        const auto tb = b && b->createdAt ? *b->createdAt : now;
        return ta < tb;
    });
}

void call(const AppStateController::Completion& completion, bool ok, ErrorPtr error) {
    if (completion)
        completion(ok, std::move(error));
}

std::shared_ptr<AppStateController>& sharedSlot() {
    static std::shared_ptr<AppStateController> controller;
    return controller;
}

/// Replaces every entry with `updated`'s id by `updated`, at the first one's place.
template <class T>
void replaceById(std::optional<std::vector<std::shared_ptr<T>>>& list, const std::shared_ptr<T>& updated) {
    if (!list)
        return;
    auto sameId = [&](const std::shared_ptr<T>& entry) { return entry && entry->id == updated->id; };
    auto first = std::find_if(list->begin(), list->end(), sameId);
    if (first == list->end())
        return;
    const auto at = first - list->begin();
    std::erase_if(*list, sameId);
    list->insert(list->begin() + at, updated);
}

/// A service task that sends `owner`'s token.
template <class T, class... Args>
std::shared_ptr<T> serviceTask(const AppStateController& owner, Args&&... args) {
    auto task = std::make_shared<T>(std::forward<Args>(args)...);
    task->setCredentialsSource(owner.credentialsSource());
    return task;
}

/// Runs `task`, then on the main thread (whatever its outcome) folds it into the controller when
/// the controller still exists and the task succeeded, then calls the completion.
template <class T, class Fold>
void runThenFold(std::weak_ptr<AppStateController> weak, std::shared_ptr<T> task,
                 AppStateController::Completion completion, Fold fold) {
    auto step = std::make_shared<UITask>(true, [weak, task, completion, fold] {
        if (auto self = weak.lock(); self && succeeded(*task))
            fold(*self, *task);
        call(completion, succeeded(*task), firstError(*task));
    });
    TaskController::performInSeries(TaskController::Operations{task, step}, false);
}

/// "public" and "status", each only when given.
template <class Status>
Dictionary patchParameters(std::optional<bool> isPublic, std::optional<Status> status) {
    Dictionary params;
    if (isPublic)
        params["public"] = *isPublic;
    if (status)
        params["status"] = std::string(rawValue(*status));
    return params;
}

} // namespace

void AppStateController::registerDefaults() {
    joblark::UserDefaults::standard().registerDefaults({{std::string(kShouldAutoRefresh), true},
                                                        {std::string(kRefreshInterval), 30},
                                                        {std::string(kEnablePushNotifications), false}});
}

std::shared_ptr<AppStateController> AppStateController::shared() {
    auto& slot = sharedSlot();
    if (!slot)
        slot = create(joblark::FileLocations::cacheDirectory() / std::string(AppState::cacheFileName));
    return slot;
}

std::shared_ptr<AppStateController> AppStateController::make(std::filesystem::path cacheFileLocation) {
    return create(std::move(cacheFileLocation));
}

std::shared_ptr<AppStateController> AppStateController::create(std::filesystem::path cacheFileLocation) {
    std::shared_ptr<AppStateController> controller(new AppStateController(std::move(cacheFileLocation)));
    // What saves of a process killed half-way left behind.
    joblark::FileLocations::removeStaleTemporaryFiles(controller->cacheFileLocation_);
    if (joblark::UserDefaults::standard().boolForKey(kShouldAutoRefresh) && !controller->refreshTimer)
        controller->startRefreshTimer();
    controller->load();
    return controller;
}

AppStateController::AppStateController(std::filesystem::path cacheFileLocation)
    : state(std::make_shared<AppState>()),
      vendorIdentifier([] { return DeviceIdentity::vendorIdentifier(); }),
      cacheFileLocation_(std::move(cacheFileLocation)),
      queue_(std::make_unique<joblark::DispatchQueue>("AppState Controller Save Queue")) {}

AppStateController::~AppStateController() {
    if (refreshTimer)
        refreshTimer->invalidate();
    queue_.reset(); // lets queued saves finish before the fields they use go away
}

std::optional<std::string> AppStateController::credentials() const {
    std::lock_guard lock(credentialsMutex_);
    return credentials_;
}

void AppStateController::setCredentials(std::optional<std::string> token) {
    std::lock_guard lock(credentialsMutex_);
    credentials_ = std::move(token);
}

CredentialsSource AppStateController::credentialsSource() const {
    return [weak = weak_from_this()]() -> std::optional<std::string> {
        auto self = weak.lock();
        return self ? self->credentials() : std::nullopt;
    };
}

std::optional<AppStateController::CacheProblem> AppStateController::lastCacheProblem() const {
    std::lock_guard lock(problemMutex_);
    return cacheProblem_;
}

void AppStateController::setCacheProblem(std::optional<CacheProblem> problem) {
    std::lock_guard lock(problemMutex_);
    cacheProblem_ = std::move(problem);
}

std::string AppStateController::cacheFileURLString() const {
    return joblark::URL::fileURL(cacheFileLocation_).absoluteString();
}

// --- persistence -------------------------------------------------------------------------------------

void AppStateController::load() {
    auto token = loadCredentials();
    setCredentials(token);
    {
        std::lock_guard lock(credentialsMutex_);
        storedToken_ = token;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(cacheFileLocation_, ignored))
        return;
    auto unreadable = [this](const std::string& reason) {
        platformLog().notice("[ERROR] Unable to read user from cache location " + cacheFileURLString() +
                             ". " + reason);
        setCacheProblem(CacheProblem{CacheProblem::Kind::load, reason});
    };
    auto bytes = joblark::FileLocations::readFile(cacheFileLocation_);
    if (!bytes)
        return unreadable("The file could not be read.");
    const auto written = std::filesystem::last_write_time(cacheFileLocation_, ignored);
    if (!ignored)
        syncStatus_.cacheDate = joblark::Date::fromTimeIntervalSince1970(
            std::chrono::duration<double>(std::chrono::file_clock::to_sys(written).time_since_epoch())
                .count());
    archive::registerModelClasses();
    auto root = joblark::KeyedUnarchiver::unarchivedObject(*bytes, archive::allowedModelClasses());
    if (!root)
        return unreadable(root.error()->localizedDescription());
    if (auto loaded = root->asObject<AppState>()) // another root object is not ours: ignored
        state = std::move(loaded);
}

bool AppStateController::SyncStatus::serviceUnreachable() const {
    return lastSyncFailed && std::dynamic_pointer_cast<const joblark::URLSessionError>(lastError) != nullptr;
}

std::shared_ptr<AppState> AppStateController::snapshot() const {
    if (!state)
        return nullptr;
    // Lists are copied; the models in them are replaced, never changed, so they can be shared.
    auto copy = std::make_shared<AppState>();
    copy->user = state->user;
    copy->endpoints = state->endpoints;
    copy->measures = state->measures;
    return copy;
}

void AppStateController::persist() {
    persist(snapshot(), credentials());
}

void AppStateController::persist(const std::shared_ptr<AppState>& stateToWrite,
                                 const std::optional<std::string>& token) {
    if (!stateToWrite)
        return;
    // A save queued before a sign-out here must not store the token again after it was purged, nor
    // one in another process write back what was signed out there: the comparison and the writes
    // happen under the locks that purging takes too.
    std::lock_guard lock(keychainMutex_);
    CredentialStore::ExclusiveAccess access;
    if (token && !storeStillHolds(*token))
        return;
    if (auto error = stateToWrite->writeToFile(cacheFileLocation_)) {
        platformLog().notice("[ERROR] Unable to persist user to cache location " + cacheFileURLString() +
                             ". " + error->localizedDescription());
        setCacheProblem(CacheProblem{CacheProblem::Kind::save, error->localizedDescription()});
    } else {
        setCacheProblem(std::nullopt);
    }
    if (!token || token != credentials())
        return;
    {
        std::lock_guard credentialsLock(credentialsMutex_);
        if (storedToken_ == token)
            return; // the store holds it: storeStillHolds just looked
    }
    if (saveCredentials(*token)) {
        std::lock_guard credentialsLock(credentialsMutex_);
        storedToken_ = token;
    }
}

bool AppStateController::storeStillHolds(const std::string& token) {
    {
        std::lock_guard lock(credentialsMutex_);
        if (storedToken_ != token)
            return true; // a sign-in of this controller's own, not stored yet
    }
    auto now = lookupCredentials();
    if (!now.known || now.token == token)
        return true;
    // Another process signed out (the token is gone) or in again (another token is there).
    std::weak_ptr<AppStateController> weak = weak_from_this();
    joblark::MainThread::runAsync([weak, token, stored = now.token] {
        if (auto self = weak.lock())
            self->followStore(token, stored);
    });
    return false;
}

void AppStateController::followStore(const std::string& had, const std::optional<std::string>& now) {
    if (credentials() != had)
        return; // this controller signed in or out itself meanwhile
    {
        std::lock_guard lock(credentialsMutex_);
        storedToken_ = now;
    }
    if (now) {
        platformLog().notice("[SYNC] Signed in again elsewhere; using that sign-in.");
        setCredentials(now);
        return;
    }
    platformLog().notice("[SYNC] Signed out elsewhere; signing out here too.");
    // As a sign-out, except that the store is left alone: it is already empty, and a purge could
    // take a sign-in that came after.
    state = std::make_shared<AppState>();
    setCredentials(std::nullopt);
    save();
    auto& defaults = joblark::UserDefaults::standard();
    defaults.removeObject(kShouldAutoRefresh);
    defaults.removeObject(kRefreshInterval);
    defaults.removeObject(kEnablePushNotifications);
    post(endpointsDidChange);
    post(didLogout);
}

void AppStateController::save(std::function<void(bool, ErrorPtr)> completion) {
    if (!joblark::MainThread::isCurrent()) {
        // The snapshot must be taken where the state changes.
        std::weak_ptr<AppStateController> weak = weak_from_this();
        joblark::MainThread::runAsync([weak, completion = std::move(completion)]() mutable {
            if (auto self = weak.lock())
                self->save(std::move(completion));
        });
        return;
    }
    {
        std::lock_guard lock(saves_->mutex);
        saves_->state = snapshot();
        saves_->token = credentials();
        if (completion)
            saves_->completions.push_back(std::move(completion));
        if (saves_->queued)
            return; // the waiting save writes this snapshot
        saves_->queued = true;
    }
    std::weak_ptr<AppStateController> weak = weak_from_this();
    queue_->async([weak, batch = saves_] {
        std::shared_ptr<AppState> stateToWrite;
        std::optional<std::string> token;
        std::vector<std::function<void(bool, ErrorPtr)>> completions;
        {
            std::lock_guard lock(batch->mutex);
            stateToWrite = std::move(batch->state);
            token = std::move(batch->token);
            completions.swap(batch->completions);
            batch->queued = false;
        }
        if (auto self = weak.lock())
            self->persist(stateToWrite, token);
        for (auto& done : completions)
            done(true, nullptr);
    });
}

void AppStateController::setEndpoints(std::optional<std::vector<std::shared_ptr<Endpoint>>> endpoints) {
    if (state) {
        if (endpoints)
            sortByCreation(*endpoints);
        state->endpoints = std::move(endpoints);
    }
    save();
}

void AppStateController::setMeasures(std::optional<std::vector<std::shared_ptr<Measure>>> measures) {
    if (state) {
        if (measures)
            sortByCreation(*measures);
        state->measures = std::move(measures);
    }
    save();
}

std::optional<UserActivity> AppStateController::takeActivity(std::string_view type) {
    auto it = std::find_if(activityInbox.begin(), activityInbox.end(),
                           [&](const UserActivity& activity) { return activity.activityType == type; });
    if (it == activityInbox.end())
        return std::nullopt;
    UserActivity taken = *it;
    std::erase(activityInbox, taken);
    return taken;
}

void AppStateController::announceEndpoints(
    const std::optional<std::vector<std::shared_ptr<Endpoint>>>& list) {
    setEndpoints(list);
    post(endpointsDidChange, listValue(list));
}

void AppStateController::announceMeasures(const std::optional<std::vector<std::shared_ptr<Measure>>>& list) {
    setMeasures(list);
    post(measuresDidChange, listValue(list));
}

// --- sync and sign-in ----------------------------------------------------------------------------------

void AppStateController::sync(Completion completion) {
    platformLog().notice("[SYNC] Syncing...");
    auto users = serviceTask<ListUsers>(*this, ServiceURLs::currentUser(), std::nullopt, false, kPageSize);
    auto endpoints =
        serviceTask<ListEndpoints>(*this, ServiceURLs::endpoints(), std::nullopt, false, kPageSize);
    auto measures = serviceTask<ListMeasures>(*this, ServiceURLs::measures(), std::nullopt, false, kPageSize);
    auto group =
        std::make_shared<joblark::GroupTask>(std::vector<TaskPtr>{users, endpoints, measures}, false);
    std::weak_ptr<AppStateController> weak = weak_from_this();
    auto fold = std::make_shared<UITask>(true, [weak, users, endpoints, measures, completion] {
        auto endpointList = endpoints->models();
        auto measureList = measures->models();
        if (auto self = weak.lock()) {
            if (auto userList = users->models(); userList && !userList->empty()) {
                if (self->state)
                    self->state->user = userList->front();
                self->save();
            }
            if (endpointList)
                self->setEndpoints(endpointList);
            if (measureList)
                self->setMeasures(measureList);
            auto& status = self->syncStatus_;
            status.lastSyncFailed = !succeeded(*endpoints);
            status.lastError = status.lastSyncFailed ? firstError(*endpoints) : nullptr;
            if (!status.lastSyncFailed)
                status.lastSuccess = joblark::Date();
            post(userDidChange);
            post(endpointsDidChange, listValue(endpointList));
            post(measuresDidChange, listValue(measureList));
            post(syncStatusDidChange);
            platformLog().notice("[SYNC] Sync complete.");
        }
        call(completion, succeeded(*endpoints), firstError(*endpoints));
    });
    TaskController::performInSeries(TaskController::Operations{group, fold}, nullptr, false);
}

void AppStateController::resetLocalState() {
    state = std::make_shared<AppState>();
    setCredentials(std::nullopt);
    save();
}

void AppStateController::login(const std::string& email, const std::string& password, Completion completion) {
    auto exchange = std::make_shared<TokenExchange>(email, password);
    std::weak_ptr<AppStateController> weak = weak_from_this();
    auto takeToken = std::make_shared<UITask>(true, [weak, exchange] {
        auto self = weak.lock();
        if (!self)
            return;
        if (auto token = exchange->model(); token && token->key)
            self->setCredentials(token->key);
        else
            self->resetLocalState();
    });
    auto firstSync = std::make_shared<joblark::AsyncTask>([weak](joblark::AsyncTask::CompletionHandler done) {
        joblark::MainThread::runAsync([weak, done] {
            auto self = weak.lock();
            if (!self || !self->isSignedIn()) {
                done(joblark::TaskResult::failed());
                return;
            }
            self->sync([weak, done](bool ok, ErrorPtr error) {
                auto finish = [done, ok, error] {
                    if (error)
                        done(joblark::TaskResult::failed(Dictionary{{"error", Value(error)}}));
                    else
                        done(ok ? joblark::TaskResult::succeeded() : joblark::TaskResult::failed());
                };
                if (auto controller = weak.lock())
                    controller->finishSignIn(ok, error, [finish](bool, ErrorPtr) { finish(); });
                else
                    finish();
            });
        });
    });
    auto report = std::make_shared<UITask>(true, [firstSync, completion] {
        const auto result = firstSync->result();
        ErrorPtr error;
        if (result.values)
            if (auto it = result.values->find("error"); it != result.values->end())
                error = it->second.asError();
        call(completion, result.status.ok(), error);
    });
    TaskController::performInSeries(TaskController::Operations{exchange, takeToken, firstSync, report},
                                    nullptr, false);
}

void AppStateController::finishSignIn(bool ok, ErrorPtr error, Completion completion) {
    if (ok)
        post(didLogin);
    else
        resetLocalState();
    call(completion, ok, std::move(error));
}

void AppStateController::clearLocalState() {
    state = std::make_shared<AppState>();
    syncStatus_ = {};
    setCredentials(std::nullopt);
    {
        // Before the save: another process's write of the account, made before it sees the store
        // empty, then comes before this one's empty state.
        std::lock_guard lock(keychainMutex_);
        CredentialStore::ExclusiveAccess access;
        purgeCredentials();
        std::lock_guard credentialsLock(credentialsMutex_);
        storedToken_.reset();
    }
    save();
    auto& defaults = joblark::UserDefaults::standard();
    defaults.removeObject(kShouldAutoRefresh);
    defaults.removeObject(kRefreshInterval);
    defaults.removeObject(kEnablePushNotifications);
    post(endpointsDidChange);
    post(didLogout);
}

bool AppStateController::setServiceAddress(const std::string& address, std::function<void()> completion) {
    const auto origin = ServiceURLs::originFrom(address);
    if (!origin)
        return false;
    auto apply = [origin = *origin, completion] {
        ServiceURLs::setPreferredBaseURL(origin);
        if (completion)
            completion();
    };
    if (*origin == ServiceURLs::serviceBaseURL()) {
        apply();
        return true;
    }
    if (!isSignedIn()) {
        // A cached account of the old service is not this one's.
        state = std::make_shared<AppState>();
        syncStatus_ = {};
        save();
        post(endpointsDidChange);
        apply();
        return true;
    }
    // The old service forgets this machine and the token first; only then does the address change.
    logout(apply);
    return true;
}

void AppStateController::logout(std::function<void()> completion) {
    std::weak_ptr<AppStateController> weak = weak_from_this();
    auto clear = [weak, completion] {
        if (auto self = weak.lock())
            self->clearLocalState();
        if (completion)
            completion();
    };
    // Without a device id there is no push record to remove, but the user still signs out.
    auto deviceId = vendorIdentifier ? vendorIdentifier() : std::nullopt;
    if (!deviceId || !isSignedIn()) {
        clear();
        return;
    }
    unregisterDevice(*deviceId, [clear](bool, ErrorPtr) { clear(); });
}

// --- edits ---------------------------------------------------------------------------------------------

void AppStateController::createEndpoint(const std::string& name, const joblark::URL& url,
                                        Completion completion) {
    platformLog().notice("[SYNC] Creating endpoint...");
    auto create = serviceTask<CreateEndpoint>(*this, ServiceURLs::endpoints());
    create->params = Dictionary{{"name", name}, {"endpoint_url", url.absoluteString()}};
    runThenFold(weak_from_this(), create, std::move(completion),
                [](AppStateController& self, CreateEndpoint& task) {
                    auto endpoint = task.model();
                    if (!endpoint)
                        return;
                    std::optional<std::vector<std::shared_ptr<Endpoint>>> list;
                    if (self.state && self.state->endpoints) {
                        list = self.state->endpoints;
                        list->push_back(endpoint);
                    }
                    self.announceEndpoints(list);
                });
}

void AppStateController::updateEndpoint(const joblark::URL& url, std::optional<bool> isPublic,
                                        std::optional<bool> ensureValidCert,
                                        std::optional<Endpoint::Status> status, Completion completion) {
    platformLog().notice("[SYNC] Updating endpoint...");
    auto patch = serviceTask<PatchEndpoint>(*this, url);
    patch->params = patchParameters(isPublic, status);
    if (ensureValidCert)
        (*patch->params)["ensure_valid_cert"] = *ensureValidCert;
    runThenFold(weak_from_this(), patch, std::move(completion),
                [](AppStateController& self, PatchEndpoint& task) {
                    if (auto endpoint = task.model()) {
                        auto list = self.state ? self.state->endpoints : std::nullopt;
                        replaceById(list, endpoint);
                        self.announceEndpoints(list);
                    }
                });
}

void AppStateController::updateMeasure(const joblark::URL& url, std::optional<bool> isPublic,
                                       std::optional<Measure::Status> status, Completion completion) {
    auto patch = serviceTask<PatchMeasure>(*this, url);
    patch->params = patchParameters(isPublic, status);
    runThenFold(weak_from_this(), patch, std::move(completion),
                [](AppStateController& self, PatchMeasure& task) {
                    if (auto measure = task.model()) {
                        auto list = self.state ? self.state->measures : std::nullopt;
                        replaceById(list, measure);
                        self.announceMeasures(list);
                    }
                });
}

void AppStateController::deleteResource(const joblark::URL& url, Completion completion) {
    platformLog().notice("[SYNC] deleting endpoint/measure...");
    auto destroy = serviceTask<DestroyResource>(*this, url);
    runThenFold(weak_from_this(), destroy, std::move(completion),
                [url](AppStateController& self, DestroyResource&) {
                    auto endpoints = self.state ? self.state->endpoints : std::nullopt;
                    auto measures = self.state ? self.state->measures : std::nullopt;
                    const std::string target = url.absoluteString();
                    auto at = [&](const auto& resource) {
                        return resource && resource->url && resource->url->absoluteString() == target;
                    };
                    if (endpoints)
                        std::erase_if(*endpoints, at);
                    if (measures)
                        std::erase_if(*measures, at);
                    self.announceEndpoints(endpoints);
                    self.announceMeasures(measures);
                });
}

// --- push devices --------------------------------------------------------------------------------------

void AppStateController::registerDevice(const std::string& name, const std::string& deviceId,
                                        const std::string& registrationId, Completion completion) {
    auto create = serviceTask<CreateDevice>(*this, ServiceURLs::pushDevices());
    create->params = Dictionary{{"name", name}, {"device_id", deviceId}, {"registration_id", registrationId}};
    std::weak_ptr<AppStateController> weak = weak_from_this();
    auto fold = std::make_shared<UITask>(true, [weak, create, completion] {
        if (succeeded(*create) && weak.lock()) {
            joblark::UserDefaults::standard().set(true, kEnablePushNotifications);
            post(pushNotificationAuthorizationStatusDidChange);
        }
        call(completion, succeeded(*create), firstError(*create));
    });
    TaskController::performInSeries(TaskController::Operations{create, fold}, nullptr, false);
}

void AppStateController::unregisterDevice(const std::string& deviceId, Completion completion) {
    auto search = serviceTask<SearchDevices>(*this, deviceId);
    auto destroy = std::make_shared<joblark::LazyTask>([search, source = credentialsSource()]() -> TaskPtr {
        if (!succeeded(*search))
            return nullptr;
        auto devices = search->models();
        if (!devices || devices->empty() || !devices->front() || !devices->front()->url)
            return nullptr;
        auto destroyDevice = std::make_shared<DestroyDevice>(*devices->front()->url);
        destroyDevice->setCredentialsSource(source);
        return destroyDevice;
    });
    std::weak_ptr<AppStateController> weak = weak_from_this();
    auto fold = std::make_shared<UITask>(true, [weak, destroy, completion] {
        if (succeeded(*destroy) && weak.lock()) {
            joblark::UserDefaults::standard().set(false, kEnablePushNotifications);
            post(pushNotificationAuthorizationStatusDidChange);
        }
        call(completion, succeeded(*destroy), firstError(*destroy));
    });
    TaskController::performInSeries(TaskController::Operations{search, destroy, fold}, nullptr, false);
}

// --- automatic refresh ---------------------------------------------------------------------------------

void AppStateController::startRefreshTimer() {
    const auto seconds = RefreshInterval::current();
    std::weak_ptr<AppStateController> weak = weak_from_this();
    refreshTimer = joblark::Timer::scheduledTimer(static_cast<double>(seconds.count()), true,
                                                  [weak](joblark::Timer& timer) {
                                                      if (auto self = weak.lock())
                                                          self->tick(timer);
                                                      else
                                                          timer.invalidate();
                                                  });
}

void AppStateController::stopRefreshTimer() {
    joblark::UserDefaults::standard().set(false, kShouldAutoRefresh);
    if (refreshTimer)
        refreshTimer->invalidate();
    refreshTimer.reset();
}

void AppStateController::tick(joblark::Timer&) {
    std::weak_ptr<AppStateController> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) {
            // A sign-out elsewhere ends this one's refreshing too, before it asks with a dead token.
            auto token = self->credentials();
            if (token && !self->storeStillHolds(*token))
                return;
        }
        bool ok = false;
        auto refresh =
            std::make_shared<joblark::AsyncTask>([weak, &ok](joblark::AsyncTask::CompletionHandler done) {
                joblark::MainThread::runAsync([weak, &ok, done] {
                    auto self = weak.lock();
                    if (!self) {
                        done(joblark::TaskResult::failed());
                        return;
                    }
                    self->sync([&ok, done](bool success, ErrorPtr) {
                        ok = success;
                        done(success ? joblark::TaskResult::succeeded() : joblark::TaskResult::failed());
                    });
                });
            });
        // Holds the save queue until the sync has been folded in, so a save waits for it.
        TaskController::perform(refresh, nullptr, true);
        if (ok)
            if (auto self = weak.lock())
                self->save();
    });
}

} // namespace kestrova
