#include "ServiceServer.hpp"
#include "TestSupport.hpp"

#include "Service/Authentication.hpp"
#include "Service/DeviceTasks.hpp"
#include "Service/EndpointTasks.hpp"
#include "Service/MeasureTasks.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <gtest/gtest.h>

#include <mutex>

using namespace kestrova;
using joblark::Dictionary;
using joblark::TaskResult;
using joblark::testing::LocalHTTPServer;
using joblark::testing::RecordedRequest;

namespace {

void respond(httplib::Response& response, int status, std::string body) {
    response.status = status;
    if (!body.empty())
        response.set_content(std::move(body), "application/json");
}

std::shared_ptr<const joblark::APIError> apiErrorOf(const joblark::Task& task) {
    for (const auto& error : task.errors())
        if (auto apiError = std::dynamic_pointer_cast<const joblark::APIError>(error))
            return apiError;
    return nullptr;
}

class ServiceTasks : public ::testing::Test {
protected:
    void SetUp() override {
        joblark::testing::useTaskController();
        setToken("t0ken-123");
        before = server().requests().size();
    }
    void TearDown() override { AuthenticationProvider::setCredentialsSource({}); }

    static LocalHTTPServer& server() { return kestrova::testing::serviceServer(); }

    void setToken(std::optional<std::string> value) {
        std::lock_guard lock(mutex);
        token = std::move(value);
        AuthenticationProvider::setCredentialsSource([this] {
            std::lock_guard inner(mutex);
            return token;
        });
    }

    template <class T>
    std::shared_ptr<T> run(std::shared_ptr<T> task) {
        joblark::TaskController::performInParallel(std::vector<joblark::TaskPtr>{task}, true);
        EXPECT_TRUE(task->isFinished());
        return task;
    }

    /// The one request the last run made.
    RecordedRequest lastRequest(LocalHTTPServer& on = server()) {
        auto requests = on.requests();
        EXPECT_FALSE(requests.empty());
        return requests.empty() ? RecordedRequest{} : requests.back();
    }

    static void expectStandardHeaders(const RecordedRequest& request) {
        EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }

    std::mutex mutex;
    std::optional<std::string> token;
    std::size_t before = 0;
};

constexpr const char* endpointJSON =
    R"({"url":"%BASE%/api/endpoints/1","uuid":"e1","name":"Shop","last_check_status":"ok"})";

std::string withBase(std::string text) {
    const std::string marker = "%BASE%";
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker))
        text.replace(at, marker.size(), ServiceURLs::serviceBaseURL());
    return text;
}

} // namespace

TEST_F(ServiceTasks, ListsRequestTheirFirstPageOfAHundred) {
    std::string envelope = withBase(R"({"count":2,"next":"%BASE%/api/endpoints?cursor=abc","previous":null,
        "results":[)" + std::string(endpointJSON) +
                                    R"(,{"uuid":"e0"}]})");
    server().on("GET", "/api/endpoints", [&](const auto&, auto& res) { respond(res, 200, envelope); });
    server().on("GET", "/api/measures", [](const auto&, auto& res) {
        respond(res, 200, R"({"count":1,"results":[{"uuid":"m1"}]})");
    });
    server().on("GET", "/api/me", [](const auto&, auto& res) {
        respond(res, 200, R"({"count":1,"results":[{"uuid":"u1","email":"me@example.com"}]})");
    });

    auto endpoints = run(std::make_shared<ListEndpoints>(ServiceURLs::endpoints(), std::nullopt, false, 25));
    EXPECT_EQ(endpoints->result(), TaskResult::succeeded());
    auto request = lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/api/endpoints");
    EXPECT_EQ(request.query, (std::multimap<std::string, std::string>{{"page_size", "100"}}));
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
    expectStandardHeaders(request);
    EXPECT_TRUE(request.body.empty());
    ASSERT_TRUE(endpoints->models());
    ASSERT_EQ(endpoints->models()->size(), 2u);
    EXPECT_EQ(endpoints->models()->at(0)->name, "Shop");
    EXPECT_EQ(endpoints->models()->at(1)->id, "e0");
    EXPECT_EQ(endpoints->count(), 2);

    // The next page asks for the same fixed URL again.
    auto next = std::dynamic_pointer_cast<ListEndpoints>(endpoints->next());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url(), endpoints->url());

    auto measures = run(std::make_shared<ListMeasures>(ServiceURLs::measures(), std::nullopt, false, 25));
    EXPECT_EQ(measures->result(), TaskResult::succeeded());
    request = lastRequest();
    EXPECT_EQ(request.path, "/api/measures");
    EXPECT_EQ(request.query, (std::multimap<std::string, std::string>{{"page_size", "100"}}));
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
    ASSERT_TRUE(measures->models() && measures->models()->size() == 1);

    auto users = run(std::make_shared<ListUsers>(ServiceURLs::currentUser(), std::nullopt, false, 25));
    EXPECT_EQ(users->result(), TaskResult::succeeded());
    request = lastRequest();
    EXPECT_EQ(request.path, "/api/me");
    EXPECT_TRUE(request.query.empty());
    ASSERT_TRUE(users->models() && users->models()->size() == 1);
    EXPECT_EQ(users->models()->front()->email, "me@example.com");
}

TEST_F(ServiceTasks, WithoutATokenNoAuthorizationIsSent) {
    setToken(std::nullopt);
    server().on("GET", "/api/me", [](const auto&, auto& res) { respond(res, 401, ""); });
    auto users = run(std::make_shared<ListUsers>(ServiceURLs::currentUser(), std::nullopt, false, 25));
    auto request = lastRequest();
    EXPECT_EQ(request.header("Authorization"), std::nullopt);
    EXPECT_EQ(users->result(), TaskResult::failed());
    auto error = apiErrorOf(*users);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Incorrect Credentials");
}

TEST_F(ServiceTasks, CreateAndPatchSendTheirParameters) {
    std::string created = withBase(endpointJSON);
    server().on("POST", "/api/endpoints", [&](const auto&, auto& res) { respond(res, 201, created); });
    server().on("PATCH", "/api/endpoints/1", [&](const auto&, auto& res) { respond(res, 200, created); });
    server().on("PATCH", "/api/measures/4",
                [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"m4","status":"inactive"})"); });

    auto create = std::make_shared<CreateEndpoint>(ServiceURLs::endpoints());
    create->params = Dictionary{{"name", "Shop"}, {"endpoint_url", "https://shop.example/a?b=1&c=2"}};
    run(create);
    EXPECT_EQ(create->result(), TaskResult::succeeded());
    auto request = lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/endpoints");
    EXPECT_TRUE(request.query.empty());
    EXPECT_EQ(request.body, R"({"endpoint_url":"https://shop.example/a?b=1&c=2","name":"Shop"})");
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
    expectStandardHeaders(request);
    ASSERT_TRUE(create->model());
    EXPECT_EQ(create->model()->id, "e1");

    auto endpointURL = *joblark::URL::parse(withBase("%BASE%/api/endpoints/1"));
    struct Case {
        Dictionary params;
        const char* body;
    };
    for (const auto& c :
         std::vector<Case>{{{}, "{}"},
                           {{{"status", "inactive"}}, R"({"status":"inactive"})"},
                           {{{"public", true}, {"ensure_valid_cert", false}, {"status", "active"}},
                            R"({"ensure_valid_cert":false,"public":true,"status":"active"})"}}) {
        auto patch = std::make_shared<PatchEndpoint>(endpointURL);
        if (!c.params.empty())
            patch->params = c.params;
        run(patch);
        EXPECT_EQ(patch->result(), TaskResult::succeeded());
        request = lastRequest();
        EXPECT_EQ(request.method, "PATCH");
        EXPECT_EQ(request.path, "/api/endpoints/1");
        EXPECT_EQ(request.body, c.body);
        EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
        ASSERT_TRUE(patch->model());
        EXPECT_EQ(patch->model()->name, "Shop");
    }

    auto patchMeasure =
        std::make_shared<PatchMeasure>(*joblark::URL::parse(withBase("%BASE%/api/measures/4")));
    patchMeasure->params = Dictionary{{"public", false}, {"status", "inactive"}};
    run(patchMeasure);
    request = lastRequest();
    EXPECT_EQ(request.method, "PATCH");
    EXPECT_EQ(request.path, "/api/measures/4");
    EXPECT_EQ(request.body, R"({"public":false,"status":"inactive"})");
    ASSERT_TRUE(patchMeasure->model());
    EXPECT_EQ(patchMeasure->model()->status, Measure::Status::inactive);
}

TEST_F(ServiceTasks, DeviceTasksSearchCreateAndDestroy) {
    server().on("GET", "/api/devices/apns", [](const httplib::Request& req, auto& res) {
        if (req.get_param_value("device_id") == "known")
            respond(res, 200, R"({"count":1,"next":"elsewhere","results":[{"uuid":"d1","device_id":"known",
                "url":"/api/devices/apns/d1"}]})");
        else
            respond(res, 200, R"({"count":0,"next":null,"previous":null,"results":[]})");
    });
    server().on("POST", "/api/devices/apns",
                [](const auto&, auto& res) { respond(res, 201, R"({"uuid":"d2","name":"laptop"})"); });
    server().on("DELETE", "/api/devices/apns/d1", [](const auto&, auto& res) { res.status = 204; });

    auto none = run(std::make_shared<SearchDevices>("unknown id"));
    EXPECT_EQ(none->result(), TaskResult::succeeded());
    ASSERT_TRUE(none->models());
    EXPECT_TRUE(none->models()->empty());
    auto request = lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/api/devices/apns");
    EXPECT_EQ(request.query, (std::multimap<std::string, std::string>{{"device_id", "unknown id"}}));
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");

    auto found = run(std::make_shared<SearchDevices>("known"));
    ASSERT_TRUE(found->models() && found->models()->size() == 1);
    EXPECT_EQ(found->models()->front()->deviceId, "known");
    // A search does not page, even when the answer names a next page.
    EXPECT_EQ(found->next(), nullptr);

    auto create = std::make_shared<CreateDevice>(ServiceURLs::pushDevices());
    create->params = Dictionary{{"name", "laptop"}, {"device_id", "known"}, {"registration_id", "reg"}};
    run(create);
    request = lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, R"({"device_id":"known","name":"laptop","registration_id":"reg"})");
    ASSERT_TRUE(create->model());
    EXPECT_EQ(create->model()->name, "laptop");

    joblark::LogCapture log;
    auto destroy =
        run(std::make_shared<DestroyDevice>(*joblark::URL::parse(withBase("%BASE%/api/devices/apns/d1"))));
    EXPECT_EQ(destroy->result(), TaskResult::succeeded());
    request = lastRequest();
    EXPECT_EQ(request.method, "DELETE");
    EXPECT_EQ(request.path, "/api/devices/apns/d1");
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
    EXPECT_FALSE(destroy->model());
    EXPECT_TRUE(log.contains("Kestrova.DestroyDevice requires not serialization of models."));
}

TEST_F(ServiceTasks, DestroyResourceReportsTheServersMessage) {
    server().on("DELETE", "/api/endpoints/5", [](const auto&, auto& res) { res.status = 204; });
    server().on("DELETE", "/api/endpoints/6",
                [](const auto&, auto& res) { respond(res, 404, R"({"message":"No such endpoint"})"); });
    server().on("DELETE", "/api/measures/7", [](const auto&, auto& res) { res.status = 404; });

    auto ok =
        run(std::make_shared<DestroyResource>(*joblark::URL::parse(withBase("%BASE%/api/endpoints/5"))));
    EXPECT_EQ(ok->result(), TaskResult::succeeded());
    auto request = lastRequest();
    EXPECT_EQ(request.method, "DELETE");
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123");
    expectStandardHeaders(request);

    struct Case {
        const char* path;
        const char* message;
    };
    for (const auto& c :
         std::vector<Case>{{"/api/endpoints/6", "No such endpoint"}, {"/api/measures/7", "Not Found"}}) {
        auto failed = run(std::make_shared<DestroyResource>(
            *joblark::URL::parse(withBase(std::string("%BASE%") + c.path))));
        EXPECT_EQ(failed->result(), TaskResult::failed()) << c.path;
        auto error = apiErrorOf(*failed);
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(error->localizedDescription(), c.message);
        EXPECT_EQ(error->code(), 404);
    }
}

TEST_F(ServiceTasks, TokenNeverLeavesTheServiceOrigin) {
    LocalHTTPServer elsewhere; // another port: another origin
    ASSERT_TRUE(elsewhere.isRunning());
    elsewhere.on("*", "/api/endpoints/1",
                 [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"x"})"); });
    server().on("PATCH", "/api/endpoints/1",
                [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"x"})"); });

    joblark::LogCapture log;
    auto foreign = elsewhere.url("/api/endpoints/1");
    auto patch = std::make_shared<PatchEndpoint>(foreign);
    patch->params = Dictionary{{"public", true}};
    run(patch);
    run(std::make_shared<DestroyResource>(foreign));
    run(std::make_shared<DestroyDevice>(foreign));
    auto requests = elsewhere.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests)
        EXPECT_EQ(request.header("Authorization"), std::nullopt) << request.method;
    EXPECT_EQ(log.count("sends no credentials to " + foreign.absoluteString()), 3u);
    for (const auto& message : log.messages())
        EXPECT_EQ(message.find("t0ken-123"), std::string::npos) << message;

    // Same host and port under another scheme, or a relative URL, count as foreign too.
    for (const auto& text : {std::string("https://127.0.0.1:") + std::to_string(server().port()) + "/api/x",
                             std::string("/api/endpoints/1")}) {
        auto headers = PatchEndpoint(*joblark::URL::parse(text)).headers();
        EXPECT_FALSE(headers.contains("Authorization")) << text;
    }

    // The service's own origin, however it is spelled, does get the token.
    auto own =
        *joblark::URL::parse("HTTP://127.0.0.1:" + std::to_string(server().port()) + "/api/endpoints/1");
    auto ownPatch = run(std::make_shared<PatchEndpoint>(own));
    EXPECT_EQ(lastRequest().header("Authorization"), "Token t0ken-123");
    EXPECT_EQ(ownPatch->result(), TaskResult::succeeded());
}

TEST_F(ServiceTasks, TokenExchangeSendsBasicCredentialsOnly) {
    std::mutex seen;
    server().on("POST", "/api/tokens/exchange", [](const httplib::Request& req, auto& res) {
        if (req.get_header_value("Authorization") == "Basic " + base64Encode("me@example.com:right"))
            respond(res, 200, R"({"key":"new-token","created_at":"2026-01-01T00:00:00Z"})");
        else
            respond(res, 401, "");
    });

    auto exchange = run(std::make_shared<TokenExchange>("me@example.com", "right"));
    EXPECT_EQ(exchange->result(), TaskResult::succeeded());
    auto request = lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/tokens/exchange");
    EXPECT_TRUE(request.body.empty());
    expectStandardHeaders(request);
    // The app holds a token, but the exchange carries only the Basic credential.
    EXPECT_EQ(request.headerValues("Authorization").size(), 1u);
    ASSERT_TRUE(exchange->model());
    EXPECT_EQ(exchange->model()->key, "new-token");

    auto refused = run(std::make_shared<TokenExchange>("me@example.com", "wrong"));
    EXPECT_EQ(refused->result(), TaskResult::failed());
    auto error = apiErrorOf(*refused);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Incorrect Credentials");
    EXPECT_EQ(refused->model() ? refused->model()->key : std::nullopt, std::nullopt);
}

TEST(TokenExchangeHeaders, BasicCredentialIsBase64OfUTF8JoinedByAColon) {
    struct Case {
        const char* email;
        const char* password;
        const char* expected;
    };
    // Expected values worked out independently (base64 of the UTF-8 bytes).
    for (const auto& c : std::vector<Case>{
             {"a@b.c", "pw", "Basic YUBiLmM6cHc="},
             {"jürgen@beispiel.de", "gänsefüßchen", "Basic asO8cmdlbkBiZWlzcGllbC5kZTpnw6Ruc2Vmw7zDn2NoZW4="},
             {"me@example.com", "a:b:c", "Basic bWVAZXhhbXBsZS5jb206YTpiOmM="},
             {"x", "", "Basic eDo="},
             {"", "", "Basic Og=="}}) {
        TokenExchange exchange(c.email, c.password);
        auto headers = exchange.headers();
        EXPECT_EQ(headers["Authorization"], c.expected) << c.email;
        EXPECT_EQ(headers["Content-Type"], "application/json");
    }
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode(std::string("\xff\x00\x80", 3)), "/wCA");
}

TEST(TokenExchangeHeaders, MissingCredentialsStopTheProgram) {
    EXPECT_DEATH(TokenExchange(std::nullopt, "pw").headers(), "Could not find username or password.");
    EXPECT_DEATH(TokenExchange("me", std::nullopt).headers(), "Could not find username or password.");
    EXPECT_DEATH(SearchDevices(joblark::URL()), "Invalid constructor");
}
