#include "quillnest/Demo.hpp"

#include "quillnest/Assessor.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

namespace quillnest {

using joblark::Dictionary;
using joblark::Value;

namespace {

const joblark::Logger& demoLog() {
    static const joblark::Logger log("quillnest-local", "Demo");
    return log;
}

struct DemoEndpoint {
    const char* name;
    const char* path;
    const char* checkType;
};

// Slow answers take longer than the demo threshold (degraded); down always fails; flaky fails every
// third time.
constexpr std::int64_t demoThreshold = 1000;
constexpr int slowMillis = 1500;
constexpr DemoEndpoint demoEndpoints[] = {
    {"Demo OK", "/demo/ok", "GET"},           {"Demo Slow", "/demo/slow", "GET"},
    {"Demo Flaky", "/demo/flaky", "HEAD"},    {"Demo Down", "/demo/down", "GET"},
    {"Demo Metrics", "/demo/metrics", "GET"},
};

struct DemoCriterion {
    const char* comparison;
    const char* expected;
    const char* path;
};
struct DemoMeasure {
    const char* name;
    std::vector<DemoCriterion> criteria;
};

// With the values demoMetrics reports: queue depth stays low (ok), the build passes but its coverage
// misses the bar (degraded), the disk is nearly full (down).
const std::vector<DemoMeasure>& demoMeasures() {
    static const std::vector<DemoMeasure> measures = {
        {"Queue depth", {{"less_than_equal", "100", "queue.depth"}}},
        {"Build", {{"equal", "passing", "build.status"}, {"greater_than_equal", "80", "build.coverage"}}},
        {"Disk space", {{"greater_than", "20", "disk.free_percent"}}},
    };
    return measures;
}

Reply jsonAnswer(int status, const Value& value) {
    auto text = joblark::JSON::write(value);
    return Reply{status, text ? *text : std::string("{}")};
}

} // namespace

Value demoMetrics(std::uint64_t tick) {
    auto wave = [&](double period) { return std::sin(static_cast<double>(tick) * 6.2831853 / period); };
    Dictionary queue{{"depth", static_cast<std::int64_t>(30 + 25 * wave(7))}};
    Dictionary build{{"status", "passing"}, {"coverage", std::round((74 + 3 * wave(5)) * 10) / 10}};
    Dictionary disk{{"free_percent", std::round((10 + 2 * wave(11)) * 10) / 10}};
    return Dictionary{{"queue", queue}, {"build", build}, {"disk", disk}};
}

/// An update feed in the appcast style (RSS 2.0 with the sparkle namespace): one older and one newer
/// release, with release notes on this service.
std::string demoAppcast(const std::string& publicUrl) {
    auto item = [&](const std::string& version, const std::string& date) {
        return "    <item>\n"
               "      <title>Kestrova " + version + "</title>\n"
               "      <pubDate>" + date + "</pubDate>\n"
               "      <sparkle:version>" + version + "</sparkle:version>\n"
               "      <sparkle:releaseNotesLink>" + publicUrl + "/demo/release-notes/" + version +
               "</sparkle:releaseNotesLink>\n"
               "      <enclosure url=\"" + publicUrl + "/demo/downloads/kestrova_" + version +
               "_amd64.deb\" sparkle:version=\"" + version + "\" length=\"0\" type=\"application/vnd.debian.binary-package\"/>\n"
               "    </item>\n";
    };
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "  <channel>\n"
           "    <title>Kestrova (demo feed)</title>\n" +
           item(demoFeedVersion, "Mon, 07 Dec 2026 09:00:00 +0000") + item("0.1.0", "Mon, 02 Nov 2026 09:00:00 +0000") +
           "  </channel>\n</rss>\n";
}

std::optional<Reply> demoTarget(const Request& request, const std::string& publicUrl) {
    static std::atomic<std::uint64_t> flakyCount{0};
    static std::atomic<std::uint64_t> metricsTick{0};
    const auto& path = request.path;
    if (path.rfind("/demo/", 0) != 0)
        return std::nullopt;
    if (request.method != "GET" && request.method != "HEAD")
        return errorReply(405, "Method \"" + request.method + "\" not allowed");
    if (path == "/demo/ok")
        return jsonAnswer(200, Dictionary{{"status", "ok"}});
    if (path == "/demo/slow") {
        std::this_thread::sleep_for(std::chrono::milliseconds(slowMillis));
        return jsonAnswer(200, Dictionary{{"status", "ok"}, {"note", "slow on purpose"}});
    }
    if (path == "/demo/flaky") {
        if (flakyCount.fetch_add(1) % 3 == 2)
            return errorReply(503, "Flaky on purpose");
        return jsonAnswer(200, Dictionary{{"status", "ok"}});
    }
    if (path == "/demo/down")
        return errorReply(503, "Down on purpose");
    if (path == "/demo/metrics")
        return jsonAnswer(200, demoMetrics(metricsTick.fetch_add(1)));
    if (path == "/demo/appcast.xml")
        return Reply{200, demoAppcast(publicUrl), "application/rss+xml; charset=utf-8"};
    if (path.rfind("/demo/release-notes/", 0) == 0)
        return Reply{200,
                     "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Release notes</title></head><body>"
                     "<h1>What's new</h1><p>This is the demo service's sample release note. A real feed names "
                     "the changes of each release here.</p></body></html>",
                     "text/html; charset=utf-8"};
    return errorReply(404, "Not found");
}

Demo::Demo(Api& api, Storage& storage, std::string publicUrl, double reportInterval)
    : api_(api), storage_(storage), publicUrl_(std::move(publicUrl)), interval_(reportInterval) {}

Demo::~Demo() {
    stop();
}

std::string Demo::seed() {
    auto existing = storage_.userByEmail(demoEmail);
    UserRecord user;
    if (existing) {
        user = existing->first;
    } else {
        std::string failure;
        auto created = api_.createAccount(demoEmail, demoPassword, &failure);
        if (!created)
            throw std::runtime_error("Could not create the demo account: " + failure);
        user = *created;
    }
    userId_ = user.id;

    auto endpoints = storage_.endpoints(user.id, PageQuery{Api::maximumPageSize, false, std::nullopt}).items;
    for (const auto& wanted : demoEndpoints) {
        auto url = publicUrl_ + wanted.path;
        auto found =
            std::find_if(endpoints.begin(), endpoints.end(), [&](auto& e) { return e.name == wanted.name; });
        if (found != endpoints.end()) {
            // The port may differ from the last run.
            storage_.setEndpointUrl(found->id, url);
            continue;
        }
        EndpointRecord e;
        e.userId = user.id;
        e.name = wanted.name;
        e.endpointUrl = url;
        e.checkType = wanted.checkType;
        e.degredationThreshold = demoThreshold;
        e.ensureValidCert = false;
        storage_.createEndpoint(e, std::max<std::int64_t>(user.endpointLimit, std::size(demoEndpoints)));
    }

    auto measures = storage_.measures(user.id, PageQuery{Api::maximumPageSize, false, std::nullopt}).items;
    for (const auto& wanted : demoMeasures()) {
        if (std::any_of(measures.begin(), measures.end(), [&](auto& m) { return m.name == wanted.name; }))
            continue;
        MeasureRecord m;
        m.userId = user.id;
        m.name = wanted.name;
        for (const auto& c : wanted.criteria)
            m.criteria.push_back({{}, c.expected, c.comparison, std::string(c.path), 0, 0});
        storage_.createMeasure(m);
    }
    return api_.issueToken(user.id).first;
}

void Demo::reportOnce() {
    auto body = demoMetrics(tick_++);
    auto measures = storage_.measures(userId_, PageQuery{Api::maximumPageSize, false, std::nullopt}).items;
    for (const auto& m : measures)
        if (m.status == "active")
            storage_.recordAssessment(m.id, assess(body, m.criteria));
}

void Demo::startReporter() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] {
        std::unique_lock guard(mutex_);
        while (!stopping_) {
            guard.unlock();
            try {
                reportOnce();
            } catch (const std::exception& e) {
                demoLog().error("The demo reporter failed: %{PUBLIC}@", e.what());
            }
            guard.lock();
            wake_.wait_for(guard, std::chrono::duration<double>(interval_), [&] { return stopping_; });
        }
    });
}

void Demo::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

} // namespace quillnest
