#pragma once

#include "quillnest/Api.hpp"

#include "joblark/Foundation/Value.hpp"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillnest {

class Storage;

/// The demo account's fixed credentials (documented for anyone trying the client).
inline constexpr const char* demoEmail = "demo@quillnest.local";
inline constexpr const char* demoPassword = "kestrova";

/// Answers of the demo targets under /demo/ (ok, slow, flaky, down, metrics); nothing for other paths.
std::optional<Reply> demoTarget(const Request& request, const std::string& publicUrl = {});

/// The version the demo's update feed offers, so a client's "Check for Updates" has news to show.
inline constexpr const char* demoFeedVersion = "0.9.0";

/// The metrics body /demo/metrics serves and the reporter reports; `tick` varies the values.
joblark::Value demoMetrics(std::uint64_t tick);

/// Seeds the demo account (its endpoints aimed at this service's own demo targets, its measures) and
/// feeds the measures from a built-in reporter.
class Demo {
public:
    Demo(Api& api, Storage& storage, std::string publicUrl, double reportInterval);
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    /// Creates what is missing, points the endpoints at `publicUrl`, returns a fresh token.
    std::string seed();
    /// Reports once now and then every interval until stop().
    void startReporter();
    void stop();
    /// One report to every demo measure.
    void reportOnce();

private:
    Api& api_;
    Storage& storage_;
    std::string publicUrl_;
    double interval_;
    std::int64_t userId_ = 0;
    std::uint64_t tick_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace quillnest
