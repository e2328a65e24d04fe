#include "quillnest/Prober.hpp"

#include "quillnest/Certificate.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/URLSession.hpp"

#include <deque>
#include <map>

namespace quillnest {

namespace {

const joblark::Logger& proberLog() {
    static const joblark::Logger log("quillnest-local", "Prober");
    return log;
}

// curl keeps at most six connections per host; holding more checks for one host in flight would
// only queue them inside curl, and the wait would count as response time.
constexpr std::size_t perHostLimit = 6;

std::string hostKey(const std::string& url) {
    auto parsed = joblark::URL::parse(url);
    if (!parsed || !parsed->host())
        return url;
    return *parsed->host() + ":" + std::to_string(parsed->effectivePort().value_or(0));
}

} // namespace

ProbeOutcome judgeProbe(const ProbeTarget& target, std::optional<int> httpStatus,
                        const std::string& transportError, std::int64_t responseMillis,
                        std::optional<double> certificateDaysLeft) {
    if (!transportError.empty() || !httpStatus)
        return {"down", transportError.empty() ? "No response" : transportError};
    if (*httpStatus >= 400)
        return {"down", "Responded with HTTP " + std::to_string(*httpStatus)};
    if (responseMillis > target.degredationThreshold)
        return {"degraded", "Responded in " + std::to_string(responseMillis) + " ms, slower than the " +
                                std::to_string(target.degredationThreshold) + " ms threshold"};
    if (target.ensureValidCert && certificateDaysLeft &&
        *certificateDaysLeft < static_cast<double>(target.certCheckExpiryThreshold))
        return {"degraded", "The certificate expires in " +
                                std::to_string(static_cast<long long>(*certificateDaysLeft)) + " days"};
    return {"ok", "Responded with HTTP " + std::to_string(*httpStatus) + " in " +
                      std::to_string(responseMillis) + " ms"};
}

/// The checks of one round: launched by the round's thread, finished on the session thread, stored
/// by the round's thread again so that slow database writes never hold up the session.
struct Prober::Flight {
    struct Result {
        ProbeTarget target;
        std::string host;
        CheckRecord check;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::size_t> perHost;
    std::size_t inFlight = 0;
    std::vector<Result> finished;
    std::vector<std::shared_ptr<joblark::URLSessionDataTask>> tasks;
    bool abandoned = false;
};

Prober::Prober(Storage& storage, ProberOptions options)
    : storage_(storage), options_(options), session_(std::make_unique<joblark::URLSession>()) {
    session_->setTimeoutIntervalForRequest(options_.requestTimeout);
    // A monitored page is read only to be judged; very large bodies count as failures, not memory.
    session_->setMaximumResponseSize(std::size_t{16} * 1024 * 1024);
}

Prober::~Prober() {
    stop();
}

void Prober::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_)
        return;
    thread_ = std::thread([this] { loop(); });
}

void Prober::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Prober::probeSoon(std::int64_t endpointId) {
    {
        std::lock_guard lock(mutex_);
        soon_.push_back(endpointId);
    }
    wake_.notify_all();
}

void Prober::loop() {
    using Clock = std::chrono::steady_clock;
    auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.interval));
    auto nextRound = Clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!soon_.empty()) {
            auto ids = std::move(soon_);
            soon_.clear();
            lock.unlock();
            std::vector<ProbeTarget> targets;
            for (auto id : ids)
                if (auto target = storage_.probeTarget(id))
                    targets.push_back(*target);
            try {
                runTargets(targets);
            } catch (const std::exception& e) {
                proberLog().error("A probe failed: %{PUBLIC}@", e.what());
            }
            lock.lock();
            continue;
        }
        if (Clock::now() >= nextRound) {
            lock.unlock();
            try {
                runRound();
            } catch (const std::exception& e) {
                proberLog().error("A probe round failed: %{PUBLIC}@", e.what());
            }
            rounds_.fetch_add(1);
            nextRound = std::max(nextRound + interval, Clock::now());
            lock.lock();
            continue;
        }
        wake_.wait_until(lock, nextRound, [&] { return stopping_ || !soon_.empty(); });
    }
}

void Prober::launch(const ProbeTarget& target, const std::shared_ptr<Flight>& flight) {
    auto url = joblark::URL::parse(target.endpointUrl);
    auto host = hostKey(target.endpointUrl);
    auto started = std::chrono::steady_clock::now();
    auto finish = [flight, target, host, started](std::optional<int> status, std::string error) {
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        CheckRecord check;
        check.createdAt = nowMillis();
        check.responseTime = elapsed.count();
        auto outcome = judgeProbe(target, status, error, check.responseTime, std::nullopt);
        check.status = outcome.status;
        check.message = outcome.message;
        check.ok = outcome.status == "ok";
        std::lock_guard lock(flight->mutex);
        flight->finished.push_back({target, host, std::move(check)});
        --flight->inFlight;
        --flight->perHost[host];
        flight->changed.notify_all();
    };
    {
        std::lock_guard lock(flight->mutex);
        ++flight->inFlight;
        ++flight->perHost[host];
    }
    if (!url || !url->isAbsolute()) {
        finish(std::nullopt, "The endpoint URL is not valid");
        return;
    }
    joblark::URLRequest request;
    request.url = *url;
    request.httpMethod = target.checkType == "HEAD" ? "HEAD" : "GET";
    request.timeoutInterval = options_.requestTimeout;
    request.setValue("quillnest-local prober", "User-Agent");
    auto task =
        session_->dataTask(std::move(request), [finish](std::optional<joblark::Data>,
                                                        std::optional<joblark::HTTPURLResponse> response,
                                                        joblark::ErrorPtr error) {
            if (error)
                finish(std::nullopt, error->localizedDescription());
            else
                finish(response ? std::optional<int>(response->statusCode) : std::nullopt, {});
        });
    {
        std::lock_guard lock(flight->mutex);
        flight->tasks.push_back(task);
    }
    task->resume();
}

std::optional<double> Prober::certificateDays(const ProbeTarget& target) {
    auto key = hostKey(target.endpointUrl);
    auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        auto cached = certificates_.find(key);
        if (cached != certificates_.end() && now - cached->second.checked < std::chrono::hours(6))
            return cached->second.daysLeft;
    }
    auto days =
        certificateDaysLeft(target.endpointUrl, options_.requestTimeout, options_.certificateAuthorities);
    std::lock_guard lock(mutex_);
    certificates_[key] = {now, days};
    return days;
}

bool Prober::store(const ProbeTarget& target, CheckRecord check) {
    // A certificate close to expiry degrades an otherwise good check. The handshake that reads it
    // happens here, on the round's thread, at most every few hours per host.
    if (check.status == "ok" && target.ensureValidCert && target.endpointUrl.rfind("https:", 0) == 0) {
        if (auto days = certificateDays(target)) {
            auto outcome = judgeProbe(target, 200, {}, check.responseTime, days);
            if (outcome.status != "ok") {
                check.status = outcome.status;
                check.message = outcome.message;
                check.ok = false;
            }
        }
    }
    return storage_.recordCheck(target.id, std::move(check));
}

std::size_t Prober::runRound() {
    return runTargets(storage_.activeProbeTargets());
}

std::size_t Prober::runTargets(const std::vector<ProbeTarget>& targets) {
    std::deque<std::pair<ProbeTarget, std::string>> pending;
    for (const auto& t : targets)
        pending.emplace_back(t, hostKey(t.endpointUrl));
    auto flight = std::make_shared<Flight>();
    std::size_t stored = 0;
    auto isStopping = [this] {
        std::lock_guard lock(mutex_);
        return stopping_;
    };
    std::unique_lock lock(flight->mutex);
    while (!pending.empty() || flight->inFlight > 0) {
        // Store what has finished, outside the flight's lock.
        auto finished = std::move(flight->finished);
        flight->finished.clear();
        if (!finished.empty()) {
            lock.unlock();
            for (auto& r : finished)
                stored += store(r.target, r.check) ? 1 : 0;
            lock.lock();
            continue;
        }
        if (isStopping()) {
            // Abandon the round: cancelled checks report nothing.
            flight->abandoned = true;
            pending.clear();
            auto tasks = flight->tasks;
            lock.unlock();
            for (auto& t : tasks)
                t->cancel();
            lock.lock();
            flight->changed.wait(lock, [&] { return flight->inFlight == 0; });
            flight->tasks.clear();
            return stored;
        }
        bool launched = false;
        if (flight->inFlight < options_.concurrency) {
            for (auto it = pending.begin(); it != pending.end(); ++it) {
                if (flight->perHost[it->second] < perHostLimit) {
                    auto target = it->first;
                    pending.erase(it);
                    lock.unlock();
                    launch(target, flight);
                    lock.lock();
                    launched = true;
                    break;
                }
            }
        }
        if (!launched)
            flight->changed.wait_for(lock, std::chrono::milliseconds(200));
    }
    // The tasks' completions hold the flight; let go of both.
    flight->tasks.clear();
    auto finished = std::move(flight->finished);
    lock.unlock();
    for (auto& r : finished)
        stored += store(r.target, r.check) ? 1 : 0;
    return stored;
}

} // namespace quillnest
