#include "joblark/Foundation/URLSession.hpp"

#include "LocalHTTPServer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace joblark {
namespace {

using namespace std::chrono_literals;
using testing::LocalHTTPServer;
using Code = URLSessionError::Code;

struct Outcome {
    std::optional<Data> data;
    std::optional<HTTPURLResponse> response;
    ErrorPtr error;

    std::string text() const { return data ? std::string(data->begin(), data->end()) : std::string(); }
    std::optional<Code> code() const {
        auto e = std::dynamic_pointer_cast<const URLSessionError>(error);
        return e ? std::optional(e->code()) : std::nullopt;
    }
};

/// Collects completions; shared with them so that late ones find it alive.
class Completions {
public:
    URLSessionDataTask::Completion handler() {
        return [self = this->self_](std::optional<Data> data, std::optional<HTTPURLResponse> response,
                                    ErrorPtr error) {
            std::lock_guard lock(self->mutex);
            self->outcomes.push_back({std::move(data), std::move(response), std::move(error)});
            self->threads.insert(std::this_thread::get_id());
            self->changed.notify_all();
        };
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(self_->mutex);
        return self_->changed.wait_for(lock, timeout, [&] { return self_->outcomes.size() >= count; });
    }
    std::vector<Outcome> outcomes() const {
        std::lock_guard lock(self_->mutex);
        return self_->outcomes;
    }
    std::set<std::thread::id> threads() const {
        std::lock_guard lock(self_->mutex);
        return self_->threads;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Outcome> outcomes;
        std::set<std::thread::id> threads;
    };
    std::shared_ptr<State> self_ = std::make_shared<State>();
};

Outcome fetch(URLSession& session, URLRequest request) {
    Completions completions;
    session.dataTask(std::move(request), completions.handler())->resume();
    EXPECT_TRUE(completions.waitFor(1));
    auto outcomes = completions.outcomes();
    return outcomes.empty() ? Outcome{} : outcomes.front();
}

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

void reply(LocalHTTPServer& server, std::string path, std::string body) {
    server.on("*", std::move(path), [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "text/plain");
    });
}

void redirect(LocalHTTPServer& server, std::string path, std::string location, int status = 302) {
    server.on("*", std::move(path), [location, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_header("Location", location);
    });
}

class URLSessionTest : public ::testing::Test {
protected:
    LocalHTTPServer server;
    std::optional<URLSession> session{
        std::in_place}; // destroyed first: it ends its transfers before the server goes

    void SetUp() override { ASSERT_TRUE(server.isRunning()); }
};

// MARK: - What goes on the wire

TEST_F(URLSessionTest, EveryVerbSendsItsBodyExactly) {
    server.on("*", "/echo", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.method + ":" + std::to_string(request.body.size()), "text/plain");
    });
    const Data binary = {'a', 0x00, 0xFF, '\r', '\n', 'z'};
    for (std::string method : {"POST", "PUT", "PATCH", "DELETE"}) {
        for (bool withBody : {true, false}) {
            SCOPED_TRACE(method + (withBody ? " with body" : " without body"));
            URLRequest request{server.url("/echo"), method};
            if (withBody)
                request.httpBody = binary;
            auto outcome = fetch(*session, request);
            ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
            EXPECT_EQ(outcome.response->statusCode, 200);
            auto received = server.requests().back();
            EXPECT_EQ(received.method, method);
            EXPECT_EQ(received.body, withBody ? std::string(binary.begin(), binary.end()) : "");
            EXPECT_EQ(outcome.text(), method + ":" + std::to_string(withBody ? binary.size() : 0));
        }
    }
    auto outcome = fetch(*session, URLRequest{server.url("/echo")});
    EXPECT_EQ(outcome.text(), "GET:0");
    EXPECT_EQ(server.requests().back().header("Content-Length"), std::nullopt);
}

TEST_F(URLSessionTest, HeadersAreSentAsGivenWithoutExpectContinue) {
    reply(server, "/h", "fine");
    URLRequest request{server.url("/h"), "POST"};
    request.httpBody = Data(200'000, 'x'); // big enough that curl would otherwise ask for 100-continue
    request.setValue("application/octet-stream", "Content-Type");
    request.addValue("one", "X-Multi");
    request.addValue("two", "x-multi");
    request.setValue("stale", "X-Single");
    request.setValue("fresh", "X-SINGLE");
    request.setValue("Bearer t", "Authorization");
    request.setValue(std::nullopt, "Authorization");
    EXPECT_EQ(request.value("X-MULTI"), "one, two");

    auto outcome = fetch(*session, request);
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode, 200);
    ASSERT_EQ(server.requests().size(), 1u);
    auto received = server.requests().back();
    EXPECT_EQ(received.headerValues("X-Multi"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(received.headerValues("X-Single"), (std::vector<std::string>{"fresh"}));
    EXPECT_FALSE(received.header("Authorization"));
    EXPECT_FALSE(received.header("Expect"));
    EXPECT_EQ(received.body.size(), 200'000u);
    EXPECT_EQ(outcome.response->value("content-type"), "text/plain");
}

TEST_F(URLSessionTest, CompressedBodiesAreDecodedWhetherOrNotTheCallerAskedForThem) {
    // httplib compresses text bodies in an encoding the request accepts.
    const std::string original(50'000, 'k');
    reply(server, "/z", original);

    auto automatic = fetch(*session, URLRequest{server.url("/z")});
    EXPECT_EQ(automatic.text(), original);
    EXPECT_TRUE(automatic.response->value("Content-Encoding"));
    EXPECT_NE(server.requests().back().header("Accept-Encoding").value_or("").find("gzip"),
              std::string::npos);

    URLRequest request{server.url("/z")};
    request.setValue("gzip", "Accept-Encoding");
    auto gzip = fetch(*session, request);
    EXPECT_EQ(gzip.response->value("Content-Encoding"), "gzip");
    EXPECT_EQ(gzip.text(), original);
    EXPECT_EQ(server.requests().back().headerValues("Accept-Encoding"), (std::vector<std::string>{"gzip"}));
}

TEST_F(URLSessionTest, ConnectionsAreReusedAcrossRequests) {
    server.on("GET", "/port", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::to_string(request.remote_port), "text/plain");
    });
    std::set<std::string> ports;
    for (int i = 0; i < 4; ++i)
        ports.insert(fetch(*session, URLRequest{server.url("/port")}).text());
    EXPECT_EQ(ports.size(), 1u);
}

// MARK: - Failures

TEST_F(URLSessionTest, StalledServerTimesOutOnceUnderTheSmallerLimit) {
    server.on("GET", "/stall", [&](const httplib::Request&, httplib::Response& response) {
        server.holdUntilReleased(20s);
        response.set_content("late", "text/plain");
    });
    session->setTimeoutIntervalForRequest(0.3);
    Completions bySession;
    session->dataTask(URLRequest{server.url("/stall")}, bySession.handler())->resume();

    URLSession patient;
    URLRequest quick{server.url("/stall")};
    quick.timeoutInterval = 0.3;
    Completions byRequest;
    patient.dataTask(quick, byRequest.handler())->resume();

    ASSERT_TRUE(bySession.waitFor(1));
    ASSERT_TRUE(byRequest.waitFor(1));
    server.release();
    EXPECT_EQ(bySession.outcomes().front().code(), Code::timedOut);
    EXPECT_EQ(bySession.outcomes().front().error->localizedDescription(), "The request timed out.");
    EXPECT_EQ(byRequest.outcomes().front().code(), Code::timedOut);
}

TEST_F(URLSessionTest, TransportFailuresHaveTheirCodes) {
    int closedPort = 0;
    {
        LocalHTTPServer gone;
        closedPort = gone.port();
    }
    auto refused =
        fetch(*session, URLRequest{*URL::parse("http://127.0.0.1:" + std::to_string(closedPort) + "/")});
    EXPECT_EQ(refused.code(), Code::cannotConnectToHost);
    EXPECT_EQ(refused.error->localizedDescription(), "Could not connect to the server.");

    auto file = fetch(*session, URLRequest{*URL::parse("file:///etc/hostname")});
    EXPECT_EQ(file.code(), Code::unsupportedURL);
    EXPECT_FALSE(file.data);
}

TEST_F(URLSessionTest, OversizeBodiesStopAtTheLimit) {
    const std::string big(5000, 'b');
    reply(server, "/announced", big);
    server.on("GET", "/chunked", [&](const httplib::Request&, httplib::Response& response) {
        // No Content-Length: only the running count can catch it.
        response.set_chunked_content_provider("text/plain", [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset < 1'000'000)
                sink.write(big.data(), big.size());
            else
                sink.done();
            return true;
        });
    });
    session->setMaximumResponseSize(1000);
    for (const char* path : {"/announced", "/chunked"}) {
        SCOPED_TRACE(path);
        auto outcome = fetch(*session, URLRequest{server.url(path)});
        EXPECT_EQ(outcome.code(), Code::responseTooLarge);
        EXPECT_FALSE(outcome.data);
    }
    session->setMaximumResponseSize(64 * 1024 * 1024);
    EXPECT_EQ(fetch(*session, URLRequest{server.url("/announced")}).text(), big);
    EXPECT_EQ(URLSessionError(Code::responseTooLarge, 0, "", 64 * 1024 * 1024).localizedDescription(),
              "The response is larger than 64 MiB.");
}

// MARK: - Redirects

TEST_F(URLSessionTest, SameOriginRedirectsKeepAuthorization) {
    redirect(server, "/a", "/b", 301);
    redirect(server, "/b", server.urlString("/c"), 307);
    reply(server, "/c", "landed");
    URLRequest request{server.url("/a")};
    request.setValue("Bearer secret", "Authorization");
    auto outcome = fetch(*session, request);
    EXPECT_EQ(outcome.text(), "landed");
    EXPECT_EQ(outcome.response->url, server.url("/c"));
    EXPECT_EQ(server.requests().back().header("Authorization"), "Bearer secret");
}

TEST_F(URLSessionTest, CrossOriginRedirectDropsAuthorization) {
    LocalHTTPServer other;
    reply(other, "/land", "elsewhere");
    redirect(server, "/go", other.urlString("/land"));
    URLRequest request{server.url("/go")};
    request.setValue("Bearer secret", "Authorization");
    request.setValue("kept", "X-Other");
    auto outcome = fetch(*session, request);
    EXPECT_EQ(outcome.text(), "elsewhere");
    EXPECT_EQ(outcome.response->url, other.url("/land"));
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_FALSE(other.requests().front().header("Authorization"));
    EXPECT_EQ(other.requests().front().header("X-Other"), "kept");
    session.reset(); // closes the kept-alive connection before `other` stops
}

TEST_F(URLSessionTest, RedirectsChangeTheMethodOnlyWhereHTTPSaysSo) {
    server.on("*", "/see-other", [](const httplib::Request&, httplib::Response& response) {
        response.status = 303;
        response.set_header("Location", "/target");
    });
    redirect(server, "/temporary", "/target", 307);
    server.on("*", "/target", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.method + ":" + request.body, "text/plain");
    });
    for (auto [path, expected] : {std::pair{"/see-other", "GET:"}, std::pair{"/temporary", "POST:payload"}}) {
        URLRequest request{server.url(path), "POST"};
        request.httpBody = bytes("payload");
        EXPECT_EQ(fetch(*session, request).text(), expected) << path;
    }
}

TEST_F(URLSessionTest, RedirectLimitsAndSchemesAreEnforced) {
    server.on("GET", "/loop", [](const httplib::Request& request, httplib::Response& response) {
        int left = std::stoi(request.get_param_value("n"));
        if (left == 0)
            return response.set_content("done", "text/plain");
        response.status = 302;
        response.set_header("Location", "/loop?n=" + std::to_string(left - 1));
    });
    redirect(server, "/ftp", "ftp://127.0.0.1/file");

    EXPECT_EQ(fetch(*session, URLRequest{server.url("/loop?n=10")}).text(), "done");
    auto tooMany = fetch(*session, URLRequest{server.url("/loop?n=11")});
    EXPECT_EQ(tooMany.code(), Code::tooManyRedirects);
    auto ftp = fetch(*session, URLRequest{server.url("/ftp")});
    EXPECT_EQ(ftp.code(), Code::unsupportedURL);
}

// MARK: - Task life cycle

TEST_F(URLSessionTest, CancelDeliversOneCancelledCompletion) {
    server.on("GET", "/stall",
              [&](const httplib::Request&, httplib::Response&) { server.holdUntilReleased(20s); });
    Completions running;
    auto task = session->dataTask(URLRequest{server.url("/stall")}, running.handler());
    task->resume();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    task->cancel();
    task->cancel();
    ASSERT_TRUE(running.waitFor(1));

    Completions suspended;
    auto neverStarted = session->dataTask(URLRequest{server.url("/stall")}, suspended.handler());
    neverStarted->cancel();
    neverStarted->resume();
    ASSERT_TRUE(suspended.waitFor(1));

    // An in-flight request when the session goes also completes, as cancelled.
    Completions orphaned;
    {
        URLSession shortLived;
        shortLived.dataTask(URLRequest{server.url("/stall")}, orphaned.handler())->resume();
        ASSERT_TRUE(server.waitForRequests(2, 10s));
    }
    ASSERT_TRUE(orphaned.waitFor(1));
    server.release();
    task->resume();

    session.reset(); // joins the session thread: anything still due would have arrived
    for (auto* c : {&running, &suspended, &orphaned}) {
        ASSERT_EQ(c->outcomes().size(), 1u);
        EXPECT_EQ(c->outcomes().front().code(), Code::cancelled);
    }
}

TEST_F(URLSessionTest, ProgressReachesOneOnTheSessionThread) {
    const std::string body(2 * 1024 * 1024, 'p');
    reply(server, "/large", body);
    Completions completions;
    auto task = session->dataTask(URLRequest{server.url("/large")}, completions.handler());
    std::mutex mutex;
    std::vector<double> fractions;
    std::set<std::thread::id> observerThreads;
    task->progress()->addObserver([&](const Progress& progress, double fraction) {
        std::lock_guard lock(mutex);
        fractions.push_back(fraction);
        observerThreads.insert(std::this_thread::get_id());
        EXPECT_EQ(progress.fractionCompleted(), fraction);
    });
    task->resume();
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.outcomes().front().data->size(), body.size());
    std::lock_guard lock(mutex);
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(observerThreads, completions.threads());
    EXPECT_FALSE(observerThreads.contains(std::this_thread::get_id()));
}

TEST_F(URLSessionTest, ManyConcurrentRequestsEachCompleteOnce) {
    server.on("GET", "/n", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_param_value("i"), "text/plain");
    });
    constexpr int count = 50;
    std::vector<Completions> completions(count);
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (int i = 0; i < count; ++i)
        tasks.push_back(session->dataTask(URLRequest{server.url("/n?i=" + std::to_string(i))},
                                          completions[static_cast<std::size_t>(i)].handler()));
    for (auto& task : tasks)
        task->resume();
    for (auto& c : completions)
        ASSERT_TRUE(c.waitFor(1));
    session.reset();
    std::set<std::uint64_t> identifiers;
    for (int i = 0; i < count; ++i) {
        auto outcomes = completions[static_cast<std::size_t>(i)].outcomes();
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes.front().text(), std::to_string(i));
        identifiers.insert(tasks[static_cast<std::size_t>(i)]->taskIdentifier());
    }
    EXPECT_EQ(identifiers.size(), static_cast<std::size_t>(count));
}

TEST_F(URLSessionTest, SharedSessionIsOneWorkingInstance) {
    reply(server, "/shared", "hello");
    EXPECT_EQ(&URLSession::shared(), &URLSession::shared());
    auto outcome = fetch(URLSession::shared(), URLRequest{server.url("/shared")});
    EXPECT_EQ(outcome.text(), "hello");
    EXPECT_TRUE(outcome.response->ok());
}

TEST(ProgressTest, ObserversHearOnlyRealChanges) {
    Progress progress;
    std::vector<double> heard;
    auto id = progress.addObserver([&](const Progress&, double fraction) { heard.push_back(fraction); });
    progress.setFractionCompleted(0.0);
    progress.setFractionCompleted(0.5);
    progress.setFractionCompleted(0.5);
    progress.setFractionCompleted(7.0);
    progress.removeObserver(id);
    progress.setFractionCompleted(0.2);
    EXPECT_EQ(heard, (std::vector<double>{0.5, 1.0}));
    EXPECT_EQ(progress.fractionCompleted(), 0.2);
}

} // namespace
} // namespace joblark
