#pragma once

#include "quillnest/Records.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace joblark {
class URLSession;
class URLSessionDataTask;
} // namespace joblark

namespace quillnest {

class Storage;

struct ProberOptions {
    /// Seconds between the starts of two rounds over every active endpoint.
    double interval = 60;
    /// Checks in flight at once.
    std::size_t concurrency = 32;
    /// Seconds a single check may take before it counts as down.
    double requestTimeout = 10;
    /// Trusted roots for reading certificate expiry, instead of the system's.
    std::optional<std::string> certificateAuthorities{};
};

/// The verdict on one probe.
struct ProbeOutcome {
    std::string status; // "ok", "degraded", "down"
    std::string message;
};

/// Turns what a probe saw into a check status. `certificateDaysLeft` is absent when unknown.
ProbeOutcome judgeProbe(const ProbeTarget& target, std::optional<int> httpStatus,
                        const std::string& transportError, std::int64_t responseMillis,
                        std::optional<double> certificateDaysLeft);

/// Checks every active endpoint once per interval, at most `concurrency` at a time, and stores a check
/// for each. Rounds never overlap: one that overruns the interval is followed at once by the next.
class Prober {
public:
    Prober(Storage& storage, ProberOptions options);
    ~Prober();
    Prober(const Prober&) = delete;
    Prober& operator=(const Prober&) = delete;

    /// Starts the round loop; the first round begins at once.
    void start();
    /// Ends the loop and abandons checks in flight (they store nothing).
    void stop();

    /// One round over every active endpoint, on the calling thread; returns the number of checks stored.
    std::size_t runRound();
    /// Checks one endpoint now (for instance just after it was created), without waiting.
    void probeSoon(std::int64_t endpointId);

    /// Rounds finished since start.
    std::size_t roundsCompleted() const { return rounds_.load(); }

private:
    struct Flight;
    void launch(const ProbeTarget& target, const std::shared_ptr<Flight>& flight);
    void loop();
    std::size_t runTargets(const std::vector<ProbeTarget>& targets);
    bool store(const ProbeTarget& target, CheckRecord check);
    std::optional<double> certificateDays(const ProbeTarget& target);

    Storage& storage_;
    ProberOptions options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::int64_t> soon_;
    struct CertificateReading {
        std::chrono::steady_clock::time_point checked;
        std::optional<double> daysLeft;
    };
    std::map<std::string, CertificateReading> certificates_;
    std::atomic<std::size_t> rounds_{0};
    std::thread thread_;
    // Last, so it is destroyed first: its transfers end before anything they report into.
    std::unique_ptr<joblark::URLSession> session_;
};

} // namespace quillnest
