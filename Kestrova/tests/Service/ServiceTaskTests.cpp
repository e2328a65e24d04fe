#include "ServiceServer.hpp"
#include "TestSupport.hpp"

#include "Service/Authentication.hpp"
#include "Service/DeviceTasks.hpp"
#include "Service/EndpointTasks.hpp"
#include "Service/MeasureTasks.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <gtest/gtest.h>

using namespace kestrova;
using joblark::Dictionary;
using joblark::TaskResult;
using joblark::testing::LocalHTTPServer;
using joblark::testing::RecordedRequest;
using Query = std::multimap<std::string, std::string>;

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

std::string withBase(std::string text) {
    const std::string marker = "%BASE%";
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker))
        text.replace(at, marker.size(), ServiceURLs::serviceBaseURL());
    return text;
}

joblark::URL serviceURL(const std::string& path) {
    return *joblark::URL::parse(withBase("%BASE%" + path));
}

LocalHTTPServer& server() {
    return kestrova::testing::serviceServer();
}

/// Runs a task to its end, sending "t0ken-123" unless it has a source of its own or `token` says.
template <class T>
std::shared_ptr<T> run(std::shared_ptr<T> task, std::optional<std::string> token = "t0ken-123") {
    joblark::testing::useTaskController();
    if (!task->credentialsSource())
        task->setCredentialsSource([token] { return token; });
    joblark::TaskController::performInParallel(std::vector<joblark::TaskPtr>{task}, true);
    EXPECT_TRUE(task->isFinished());
    return task;
}

RecordedRequest lastRequest(LocalHTTPServer& on = server()) {
    auto requests = on.requests();
    EXPECT_FALSE(requests.empty());
    return requests.empty() ? RecordedRequest{} : requests.back();
}

void expectRequest(const RecordedRequest& request, const std::string& method, const std::string& path,
                   const std::string& body = {}) {
    EXPECT_EQ(request.method, method);
    EXPECT_EQ(request.path, path);
    EXPECT_EQ(request.body, body) << path;
    EXPECT_EQ(request.header("Authorization"), "Token t0ken-123") << path;
}

constexpr const char* endpointJSON =
    R"({"url":"%BASE%/api/endpoints/1","uuid":"e1","name":"Shop","last_check_status":"ok"})";

} // namespace

TEST(ServiceTasks, ListsRequestTheirFirstPageOfAHundredAndPageWithTheSameCredentials) {
    server().on("GET", "/api/endpoints", [](const auto&, auto& res) {
        respond(res, 200,
                withBase(R"({"count":2,"next":"%BASE%/api/endpoints?cursor=abc","results":[)" +
                         std::string(endpointJSON) + R"(,{"uuid":"e0"}]})"));
    });
    server().on("GET", "/api/measures", [](const auto&, auto& res) {
        respond(res, 200, R"({"count":1,"results":[{"uuid":"m1"}]})");
    });
    server().on("GET", "/api/me", [](const auto&, auto& res) {
        respond(res, 200, R"({"results":[{"uuid":"u1","email":"me@example.com"}]})");
    });

    auto endpoints = run(std::make_shared<ListEndpoints>(ServiceURLs::endpoints(), std::nullopt, false, 25));
    EXPECT_EQ(endpoints->result(), TaskResult::succeeded());
    auto request = lastRequest();
    expectRequest(request, "GET", "/api/endpoints");
    EXPECT_EQ(request.query, (Query{{"page_size", "100"}})) << "no count, reverse or since";
    ASSERT_TRUE(endpoints->models() && endpoints->models()->size() == 2u);
    EXPECT_EQ(endpoints->models()->at(0)->name, "Shop");
    EXPECT_EQ(endpoints->count(), 2);

    // The next page asks for the same fixed URL again, with the first page's credentials.
    auto next = std::dynamic_pointer_cast<ListEndpoints>(endpoints->next());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url(), endpoints->url());
    run(next, "another token");
    EXPECT_EQ(lastRequest().header("Authorization"), "Token t0ken-123");

    auto measures = run(std::make_shared<ListMeasures>(ServiceURLs::measures(), std::nullopt, false, 25));
    expectRequest(lastRequest(), "GET", "/api/measures");
    EXPECT_EQ(lastRequest().query, (Query{{"page_size", "100"}}));
    ASSERT_TRUE(measures->models() && measures->models()->size() == 1);
    auto users = run(std::make_shared<ListUsers>(ServiceURLs::currentUser(), std::nullopt, false, 25));
    expectRequest(lastRequest(), "GET", "/api/me");
    EXPECT_TRUE(lastRequest().query.empty());
    ASSERT_TRUE(users->models() && users->models()->size() == 1);
}

TEST(ServiceTasks, WithoutATokenOrASourceNoAuthorizationIsSent) {
    server().on("GET", "/api/me", [](const auto&, auto& res) { respond(res, 401, ""); });
    auto signedOut =
        run(std::make_shared<ListUsers>(ServiceURLs::currentUser(), std::nullopt, false, 25), std::nullopt);
    EXPECT_EQ(lastRequest().header("Authorization"), std::nullopt);
    EXPECT_EQ(signedOut->result(), TaskResult::failed());
    ASSERT_TRUE(apiErrorOf(*signedOut));
    EXPECT_EQ(apiErrorOf(*signedOut)->localizedDescription(), "Incorrect Credentials");
    // A task nobody gave a source has no token to send (there is no process-wide one).
    EXPECT_FALSE(ListUsers(ServiceURLs::currentUser()).headers().contains("Authorization"));
}

TEST(ServiceTasks, CreateAndPatchSendTheirParameters) {
    server().on("POST", "/api/endpoints",
                [](const auto&, auto& res) { respond(res, 201, withBase(endpointJSON)); });
    server().on("PATCH", "/api/endpoints/1",
                [](const auto&, auto& res) { respond(res, 200, withBase(endpointJSON)); });
    server().on("PATCH", "/api/measures/4",
                [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"m4","status":"inactive"})"); });

    auto create = std::make_shared<CreateEndpoint>(ServiceURLs::endpoints());
    create->params = Dictionary{{"name", "Shop"}, {"endpoint_url", "https://shop.example/a?b=1&c=2"}};
    run(create);
    expectRequest(lastRequest(), "POST", "/api/endpoints",
                  R"({"endpoint_url":"https://shop.example/a?b=1&c=2","name":"Shop"})");
    ASSERT_TRUE(create->model());
    EXPECT_EQ(create->model()->id, "e1");

    struct Case {
        Dictionary params;
        const char* body;
    };
    for (const auto& c :
         std::vector<Case>{{{}, "{}"},
                           {{{"public", true}, {"ensure_valid_cert", false}, {"status", "active"}},
                            R"({"ensure_valid_cert":false,"public":true,"status":"active"})"}}) {
        auto patch = std::make_shared<PatchEndpoint>(serviceURL("/api/endpoints/1"));
        if (!c.params.empty())
            patch->params = c.params;
        run(patch);
        expectRequest(lastRequest(), "PATCH", "/api/endpoints/1", c.body);
        ASSERT_TRUE(patch->model());
        EXPECT_EQ(patch->model()->name, "Shop");
    }

    auto patchMeasure = std::make_shared<PatchMeasure>(serviceURL("/api/measures/4"));
    patchMeasure->params = Dictionary{{"public", false}, {"status", "inactive"}};
    run(patchMeasure);
    expectRequest(lastRequest(), "PATCH", "/api/measures/4", R"({"public":false,"status":"inactive"})");
    ASSERT_TRUE(patchMeasure->model());
    EXPECT_EQ(patchMeasure->model()->status, Measure::Status::inactive);
}

TEST(ServiceTasks, DeviceTasksSearchCreateAndDestroy) {
    server().on("GET", "/api/devices/apns", [](const httplib::Request& req, auto& res) {
        if (req.get_param_value("device_id") == "known")
            respond(res, 200,
                    R"({"count":1,"next":"elsewhere","results":[{"uuid":"d1","device_id":"known"}]})");
        else
            respond(res, 200, R"({"count":0,"results":[]})");
    });
    server().on("POST", "/api/devices/apns",
                [](const auto&, auto& res) { respond(res, 201, R"({"uuid":"d2","name":"laptop"})"); });
    server().on("DELETE", "/api/devices/apns/d1", [](const auto&, auto& res) { res.status = 204; });

    auto none = run(std::make_shared<SearchDevices>("unknown id"));
    EXPECT_EQ(none->result(), TaskResult::succeeded());
    EXPECT_TRUE(none->models() && none->models()->empty());
    expectRequest(lastRequest(), "GET", "/api/devices/apns");
    EXPECT_EQ(lastRequest().query, (Query{{"device_id", "unknown id"}}));

    auto found = run(std::make_shared<SearchDevices>("known"));
    ASSERT_TRUE(found->models() && found->models()->size() == 1);
    EXPECT_EQ(found->next(), nullptr) << "a search does not page, even when the answer names a next page";

    auto create = std::make_shared<CreateDevice>(ServiceURLs::pushDevices());
    create->params = Dictionary{{"name", "laptop"}, {"device_id", "known"}, {"registration_id", "reg"}};
    run(create);
    expectRequest(lastRequest(), "POST", "/api/devices/apns",
                  R"({"device_id":"known","name":"laptop","registration_id":"reg"})");
    ASSERT_TRUE(create->model());

    joblark::LogCapture log;
    auto destroy = run(std::make_shared<DestroyDevice>(serviceURL("/api/devices/apns/d1")));
    EXPECT_EQ(destroy->result(), TaskResult::succeeded());
    expectRequest(lastRequest(), "DELETE", "/api/devices/apns/d1");
    EXPECT_TRUE(log.contains("Kestrova.DestroyDevice requires not serialization of models."));
}

TEST(ServiceTasks, DestroyResourceReportsTheServersMessage) {
    server().on("DELETE", "/api/endpoints/5", [](const auto&, auto& res) { res.status = 204; });
    server().on("DELETE", "/api/endpoints/6",
                [](const auto&, auto& res) { respond(res, 404, R"({"message":"No such endpoint"})"); });
    server().on("DELETE", "/api/measures/7", [](const auto&, auto& res) { res.status = 404; });

    EXPECT_EQ(run(std::make_shared<DestroyResource>(serviceURL("/api/endpoints/5")))->result(),
              TaskResult::succeeded());
    expectRequest(lastRequest(), "DELETE", "/api/endpoints/5");
    for (auto [path, message] :
         {std::pair{"/api/endpoints/6", "No such endpoint"}, {"/api/measures/7", "Not Found"}}) {
        auto failed = run(std::make_shared<DestroyResource>(serviceURL(path)));
        EXPECT_EQ(failed->result(), TaskResult::failed()) << path;
        auto error = apiErrorOf(*failed);
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(error->localizedDescription(), message);
        EXPECT_EQ(error->code(), 404);
    }
}

TEST(ServiceTasks, TokenNeverLeavesTheServiceOrigin) {
    LocalHTTPServer elsewhere; // another port: another origin
    ASSERT_TRUE(elsewhere.isRunning());
    elsewhere.on("*", "/api/endpoints/1",
                 [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"x"})"); });
    server().on("PATCH", "/api/endpoints/1",
                [](const auto&, auto& res) { respond(res, 200, R"({"uuid":"x"})"); });

    joblark::LogCapture log;
    auto foreign = elsewhere.url("/api/endpoints/1");
    run(std::make_shared<PatchEndpoint>(foreign));
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
    for (const auto& text : {"https://127.0.0.1:" + std::to_string(server().port()) + "/api/x",
                             std::string("/api/endpoints/1")}) {
        PatchEndpoint patch(*joblark::URL::parse(text));
        patch.setCredentialsSource([] { return std::optional<std::string>("t0ken-123"); });
        EXPECT_FALSE(patch.headers().contains("Authorization")) << text;
    }
    // The service's own origin, however it is spelled, does get the token.
    run(std::make_shared<PatchEndpoint>(
        *joblark::URL::parse("HTTP://127.0.0.1:" + std::to_string(server().port()) + "/api/endpoints/1")));
    EXPECT_EQ(lastRequest().header("Authorization"), "Token t0ken-123");
}

TEST(ServiceTasks, TokenExchangeSendsBasicCredentialsOnly) {
    joblark::testing::useTaskController();
    server().on("POST", "/api/tokens/exchange", [](const httplib::Request& req, auto& res) {
        if (req.get_header_value("Authorization") == "Basic " + base64Encode("me@example.com:right"))
            respond(res, 200, R"({"key":"new-token","created_at":"2026-01-01T00:00:00Z"})");
        else
            respond(res, 401, "");
    });
    auto exchange = std::make_shared<TokenExchange>("me@example.com", "right");
    joblark::TaskController::performInParallel(std::vector<joblark::TaskPtr>{exchange}, true);
    EXPECT_EQ(exchange->result(), TaskResult::succeeded());
    auto request = lastRequest();
    EXPECT_EQ(request.path, "/api/tokens/exchange");
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(request.headerValues("Authorization").size(), 1u);
    ASSERT_TRUE(exchange->model());
    EXPECT_EQ(exchange->model()->key, "new-token");

    auto refused = std::make_shared<TokenExchange>("me@example.com", "wrong");
    joblark::TaskController::performInParallel(std::vector<joblark::TaskPtr>{refused}, true);
    EXPECT_EQ(refused->result(), TaskResult::failed());
    ASSERT_TRUE(apiErrorOf(*refused));
    EXPECT_EQ(apiErrorOf(*refused)->localizedDescription(), "Incorrect Credentials");

    // Base64 of the UTF-8 bytes, worked out independently; a colon in the password stays in it.
    EXPECT_EQ(TokenExchange("jürgen@beispiel.de", "gänsefüßchen").headers()["Authorization"],
              "Basic asO8cmdlbkBiZWlzcGllbC5kZTpnw6Ruc2Vmw7zDn2NoZW4=");
    EXPECT_EQ(TokenExchange("me@example.com", "a:b:c").headers()["Authorization"],
              "Basic bWVAZXhhbXBsZS5jb206YTpiOmM=");
    EXPECT_EQ(TokenExchange("", "").headers()["Authorization"], "Basic Og==");
    EXPECT_EQ(base64Encode(std::string("\xff\x00\x80", 3)), "/wCA");
}

TEST(ServiceTasks, MissingCredentialsStopTheProgram) {
    EXPECT_DEATH(TokenExchange(std::nullopt, "pw").headers(), "Could not find username or password.");
    EXPECT_DEATH(TokenExchange("me", std::nullopt).headers(), "Could not find username or password.");
    EXPECT_DEATH(SearchDevices(joblark::URL()), "Invalid constructor");
}
