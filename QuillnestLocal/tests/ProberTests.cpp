#include "TestService.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>

namespace quillnest::testing {
namespace {

/// Probe targets on 127.0.0.1 with controlled latency and status.
class TargetServer {
public:
    TargetServer() {
        server_.new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(32).release(); };
        server_.set_keep_alive_timeout(1);
        server_.set_tcp_nodelay(true);
        server_.Get("/ok", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            res.set_content("fine", "text/plain");
        });
        server_.Get("/slow", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            res.set_content("late", "text/plain");
        });
        server_.Get("/hang", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            std::this_thread::sleep_for(std::chrono::milliseconds(3500));
            res.set_content("too late", "text/plain");
        });
        server_.Get("/error", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            res.status = 500;
        });
        server_.Get("/missing", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            res.status = 404;
        });
        server_.Get("/crowd", [this](const httplib::Request& r, httplib::Response& res) {
            note(r);
            int now = ++inside_;
            int seen = maxInside_.load();
            while (now > seen && !maxInside_.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            --inside_;
            res.set_content("crowd", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TargetServer() {
        // httplib 0.11 can miss a stop() between its poll and accept(); knock until it has left.
        for (int attempt = 0; attempt < 50 && server_.is_running(); ++attempt) {
            server_.stop();
            httplib::Client knock("127.0.0.1", port_);
            knock.set_connection_timeout(0, 100'000);
            (void)knock.Get("/ok");
        }
        server_.stop();
        thread_.join();
    }
    TargetServer(const TargetServer&) = delete;
    TargetServer& operator=(const TargetServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> methodsFor(const std::string& path) {
        std::lock_guard lock(mutex_);
        return methods_[path];
    }
    int maxInside() const { return maxInside_.load(); }

private:
    void note(const httplib::Request& r) {
        std::lock_guard lock(mutex_);
        methods_[r.path].push_back(r.method);
    }
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> methods_;
    std::atomic<int> inside_{0};
    std::atomic<int> maxInside_{0};
};

/// A port nothing listens on.
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class ProberTest : public ::testing::Test {
protected:
    ProberTest() : storage(directory.path() / "probe.sqlite3") {
        UserRecord created;
        storage.createUser("ana@example.com", "hash", 10000, &created);
        userId = created.id;
    }

    EndpointRecord add(const std::string& url, const std::string& checkType = "GET",
                       std::int64_t threshold = 1000, const std::string& status = "active") {
        EndpointRecord e;
        e.userId = userId;
        e.name = url;
        e.endpointUrl = url;
        e.checkType = checkType;
        e.degredationThreshold = threshold;
        e.status = status;
        EXPECT_EQ(storage.createEndpoint(e, 10000), CreateOutcome::created);
        return e;
    }
    EndpointRecord reload(const EndpointRecord& e) { return *storage.endpoint(userId, e.uuid); }

    TemporaryDirectory directory;
    Storage storage;
    std::int64_t userId = 0;
    TargetServer targets;
};

TEST_F(ProberTest, EachCheckIsJudgedByStatusLatencyAndReachability) {
    struct Case {
        std::string url;
        std::string status;
        std::string messagePart;
    } cases[] = {
        {targets.url("/ok"), "ok", "HTTP 200"},
        {targets.url("/slow"), "degraded", "slower than the 1000 ms threshold"},
        {targets.url("/error"), "down", "HTTP 500"},
        {targets.url("/missing"), "down", "HTTP 404"},
        {targets.url("/hang"), "down", ""},
        {"http://127.0.0.1:" + std::to_string(closedPort()) + "/", "down", ""},
    };
    std::vector<EndpointRecord> endpoints;
    for (const auto& c : cases)
        endpoints.push_back(add(c.url));
    auto paused = add(targets.url("/ok?paused"), "GET", 1000, "inactive");

    Prober prober(storage, ProberOptions{3600, 8, 2.0});
    EXPECT_EQ(prober.runRound(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto e = reload(endpoints[i]);
        ASSERT_EQ(e.history.size(), 1u) << cases[i].url;
        const auto& check = e.history.front();
        auto expected = cases[i];
        // On a machine loaded enough to take a second over a local answer, degraded is the right verdict.
        if (expected.status == "ok" && check.responseTime > 1000)
            expected = {expected.url, "degraded", "slower than"};
        EXPECT_EQ(check.status, expected.status) << expected.url << ": " << check.message;
        EXPECT_EQ(e.lastCheckStatus, expected.status);
        EXPECT_EQ(e.lastCheckMessage, check.message);
        EXPECT_EQ(check.ok, expected.status == "ok");
        EXPECT_FALSE(check.message.empty());
        EXPECT_NE(check.message.find(expected.messagePart), std::string::npos) << check.message;
        EXPECT_FALSE(check.uuid.empty());
    }
    EXPECT_GE(reload(endpoints[1]).history.front().responseTime, 1200);
    EXPECT_LT(reload(endpoints[4]).history.front().responseTime, 3400)
        << "the time-out cut the hanging check short";
    EXPECT_TRUE(reload(paused).history.empty());
    EXPECT_FALSE(reload(paused).lastCheckStatus);
}

TEST_F(ProberTest, TheCheckTypeIsTheRequestMethod) {
    add(targets.url("/ok"), "HEAD");
    Prober prober(storage, ProberOptions{3600, 4, 5});
    prober.runRound();
    EXPECT_EQ(targets.methodsFor("/ok"), std::vector<std::string>{"HEAD"});
}

TEST_F(ProberTest, ChecksRunConcurrentlyButNeverBeyondTheBound) {
    for (int i = 0; i < 16; ++i)
        add(targets.url("/crowd?n=" + std::to_string(i)), "GET", 5000);
    Prober prober(storage, ProberOptions{3600, 3, 5});
    EXPECT_EQ(prober.runRound(), 16u);
    EXPECT_LE(targets.maxInside(), 3);
    EXPECT_GE(targets.maxInside(), 2);
}

TEST_F(ProberTest, TheLoopProbesAtOnceAndNewEndpointsWithoutWaitingForTheInterval) {
    auto first = add(targets.url("/ok"));
    Prober prober(storage, ProberOptions{3600, 4, 5});
    prober.start();
    EXPECT_TRUE(eventually([&] { return reload(first).history.size() == 1; }));
    EXPECT_TRUE(eventually([&] { return prober.roundsCompleted() == 1; }));
    auto second = add(targets.url("/error"));
    prober.probeSoon(second.id);
    EXPECT_TRUE(eventually([&] { return reload(second).lastCheckStatus == "down"; }));
    prober.stop();
    EXPECT_EQ(reload(first).history.size(), 1u) << "no second round within the hour";
}

TEST_F(ProberTest, StoppingAbandonsChecksInFlight) {
    auto hanging = add(targets.url("/hang"), "GET", 5000);
    Prober prober(storage, ProberOptions{3600, 4, 30});
    prober.start();
    EXPECT_TRUE(eventually([&] { return !targets.methodsFor("/hang").empty(); }));
    auto started = std::chrono::steady_clock::now();
    prober.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    EXPECT_TRUE(reload(hanging).history.empty());
}

TEST(ProbeJudgement, CertificateExpiryDegradesOnlyWhenCertificatesAreChecked) {
    ProbeTarget target;
    target.degredationThreshold = 1000;
    target.certCheckExpiryThreshold = 14;
    target.ensureValidCert = true;
    EXPECT_EQ(judgeProbe(target, 200, {}, 10, 3.0).status, "degraded");
    EXPECT_EQ(judgeProbe(target, 200, {}, 10, 30.0).status, "ok");
    EXPECT_EQ(judgeProbe(target, 200, {}, 10, std::nullopt).status, "ok");
    EXPECT_EQ(judgeProbe(target, 200, "Could not connect", 10, 30.0).status, "down");
    EXPECT_EQ(judgeProbe(target, 302, {}, 10, std::nullopt).status, "ok");
    EXPECT_EQ(judgeProbe(target, 400, {}, 10, std::nullopt).status, "down");
    EXPECT_EQ(judgeProbe(target, 200, {}, 1001, std::nullopt).status, "degraded");
    EXPECT_EQ(judgeProbe(target, 200, {}, 1000, std::nullopt).status, "ok");
    target.ensureValidCert = false;
    EXPECT_EQ(judgeProbe(target, 200, {}, 10, 3.0).status, "ok");
}

} // namespace
} // namespace quillnest::testing
