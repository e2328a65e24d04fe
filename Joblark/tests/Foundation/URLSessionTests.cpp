#include "joblark/Foundation/URLSession.hpp"

#include "LocalHTTPServer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <tuple>

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
        return [s = s_](std::optional<Data> data, std::optional<HTTPURLResponse> response, ErrorPtr error) {
            std::lock_guard lock(s->mutex);
            s->outcomes.push_back({std::move(data), std::move(response), std::move(error)});
            s->changed.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(s_->mutex);
        return s_->changed.wait_for(lock, 10s, [&] { return s_->outcomes.size() >= count; });
    }
    std::vector<Outcome> outcomes() const {
        std::lock_guard lock(s_->mutex);
        return s_->outcomes;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Outcome> outcomes;
    };
    std::shared_ptr<State> s_ = std::make_shared<State>();
};

Outcome fetch(URLSession& session, URLRequest request) {
    Completions completions;
    session.dataTask(std::move(request), completions.handler())->resume();
    EXPECT_TRUE(completions.waitFor(1));
    auto outcomes = completions.outcomes();
    return outcomes.empty() ? Outcome{} : outcomes.front();
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

void stall(LocalHTTPServer& server) {
    server.on("GET", "/stall", [&server](const httplib::Request&, httplib::Response& response) {
        server.holdUntilReleased(20s);
        response.set_content("late", "text/plain");
    });
}

class URLSessionTest : public ::testing::Test {
protected:
    LocalHTTPServer server;
    std::optional<URLSession> session{std::in_place}; // destroyed first: it ends its transfers
    void SetUp() override { ASSERT_TRUE(server.isRunning()); }
};

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
            auto received = server.requests().back();
            EXPECT_EQ(received.method, method);
            EXPECT_EQ(received.body, withBody ? std::string(binary.begin(), binary.end()) : "");
            EXPECT_EQ(outcome.text(), method + ":" + std::to_string(withBody ? binary.size() : 0));
        }
    }
    EXPECT_EQ(fetch(*session, URLRequest{server.url("/echo")}).text(), "GET:0");
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

TEST_F(URLSessionTest, CompressedBodiesAreDecodedAndConnectionsReused) {
    const std::string original(50'000, 'k'); // httplib compresses text in an encoding the request accepts
    reply(server, "/z", original);
    server.on("GET", "/port", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::to_string(request.remote_port), "text/plain");
    });
    for (bool askGzip : {false, true}) {
        SCOPED_TRACE(askGzip ? "asked for gzip" : "default Accept-Encoding");
        URLRequest request{server.url("/z")};
        if (askGzip)
            request.setValue("gzip", "Accept-Encoding");
        auto outcome = fetch(*session, request);
        EXPECT_EQ(outcome.text(), original);
        auto accepted = server.requests().back().headerValues("Accept-Encoding");
        // gzip only by default: a server offered brotli too may compress at its slowest setting.
        ASSERT_EQ(accepted.size(), 1u);
        EXPECT_EQ(accepted.front(), "gzip");
        EXPECT_EQ(outcome.response->value("Content-Encoding"), "gzip");
    }
    std::set<std::string> ports;
    for (int i = 0; i < 4; ++i)
        ports.insert(fetch(*session, URLRequest{server.url("/port")}).text());
    EXPECT_EQ(ports.size(), 1u);
}

TEST_F(URLSessionTest, StalledServerTimesOutOnceUnderTheSmallerLimit) {
    stall(server);
    session->setTimeoutIntervalForRequest(0.3);
    Completions bySession, byRequest;
    session->dataTask(URLRequest{server.url("/stall")}, bySession.handler())->resume();
    URLSession patient;
    URLRequest quick{server.url("/stall")};
    quick.timeoutInterval = 0.3;
    patient.dataTask(quick, byRequest.handler())->resume();

    ASSERT_TRUE(bySession.waitFor(1));
    ASSERT_TRUE(byRequest.waitFor(1));
    server.release();
    session.reset(); // joins the session thread: a second completion would have arrived
    EXPECT_EQ(bySession.outcomes().front().error->localizedDescription(), "The request timed out.");
    for (auto* c : {&bySession, &byRequest}) {
        ASSERT_EQ(c->outcomes().size(), 1u);
        EXPECT_EQ(c->outcomes().front().code(), Code::timedOut);
    }
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
}

TEST_F(URLSessionTest, RedirectsKeepAuthorizationOnlyWithinTheOrigin) {
    LocalHTTPServer other;
    for (auto* s : {&server, &other})
        s->on("*", "/land", [](const httplib::Request& request, httplib::Response& response) {
            response.set_content(request.method + ":" + request.body, "text/plain");
        });
    redirect(server, "/a", "/b", 307);
    redirect(server, "/b", server.urlString("/land"), 307);
    redirect(server, "/see-other", "/land", 303);
    redirect(server, "/away", other.urlString("/land"), 307);
    for (auto [path, lands, text, keeps] :
         {std::tuple{"/a", &server, "POST:payload", true}, std::tuple{"/see-other", &server, "GET:", true},
          std::tuple{"/away", &other, "POST:payload", false}}) {
        SCOPED_TRACE(path);
        URLRequest request{server.url(path), "POST"};
        request.httpBody = Data{'p', 'a', 'y', 'l', 'o', 'a', 'd'};
        request.setValue("Bearer secret", "Authorization");
        request.setValue("kept", "X-Other");
        auto outcome = fetch(*session, request);
        EXPECT_EQ(outcome.text(), text);
        EXPECT_EQ(outcome.response->url, lands->url("/land"));
        auto received = lands->requests().back();
        EXPECT_EQ(received.header("Authorization"),
                  keeps ? std::optional<std::string>("Bearer secret") : std::nullopt);
        EXPECT_EQ(received.header("X-Other"), "kept");
    }
    session.reset(); // closes the kept-alive connection before `other` stops
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
    EXPECT_EQ(fetch(*session, URLRequest{server.url("/loop?n=11")}).code(), Code::tooManyRedirects);
    EXPECT_EQ(fetch(*session, URLRequest{server.url("/ftp")}).code(), Code::unsupportedURL);
}

TEST_F(URLSessionTest, CancelDeliversOneCancelledCompletion) {
    stall(server);
    Completions running, suspended, orphaned;
    auto task = session->dataTask(URLRequest{server.url("/stall")}, running.handler());
    task->resume();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    task->cancel();
    task->cancel();
    auto neverStarted = session->dataTask(URLRequest{server.url("/stall")}, suspended.handler());
    neverStarted->cancel();
    neverStarted->resume();
    {
        URLSession shortLived; // an in-flight request when its session goes completes as cancelled
        shortLived.dataTask(URLRequest{server.url("/stall")}, orphaned.handler())->resume();
        ASSERT_TRUE(server.waitForRequests(2, 10s));
    }
    for (auto* c : {&running, &suspended, &orphaned})
        ASSERT_TRUE(c->waitFor(1));
    server.release();
    task->resume();
    session.reset(); // joins the session thread: anything still due would have arrived
    for (auto* c : {&running, &suspended, &orphaned}) {
        ASSERT_EQ(c->outcomes().size(), 1u);
        EXPECT_EQ(c->outcomes().front().code(), Code::cancelled);
    }
}

TEST_F(URLSessionTest, ManyConcurrentRequestsEachCompleteOnce) {
    server.on("GET", "/n", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_param_value("i"), "text/plain");
    });
    constexpr std::size_t count = 50;
    std::vector<Completions> completions(count);
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (std::size_t i = 0; i < count; ++i)
        tasks.push_back(
            session->dataTask(URLRequest{server.url("/n?i=" + std::to_string(i))}, completions[i].handler()));
    for (auto& task : tasks)
        task->resume();
    for (auto& c : completions)
        ASSERT_TRUE(c.waitFor(1));
    session.reset();
    std::set<std::uint64_t> identifiers;
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(completions[i].outcomes().size(), 1u);
        EXPECT_EQ(completions[i].outcomes().front().text(), std::to_string(i));
        identifiers.insert(tasks[i]->taskIdentifier());
    }
    EXPECT_EQ(identifiers.size(), count);
}

} // namespace
} // namespace joblark
