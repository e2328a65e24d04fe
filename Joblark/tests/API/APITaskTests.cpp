#include "LocalHTTPServer.hpp"
#include "TestSupport.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/API/ConstructableAPITask.hpp"
#include "joblark/API/CursorPagedConstructableAPITask.hpp"
#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"

#include <gtest/gtest.h>

using namespace joblark;
using namespace joblark::testing;

namespace {

class FixedCredential : public APITaskAuthenticationProvider {
public:
    std::optional<std::string> credential() override { return "s3cret"; }
};
class NoCredential : public APITaskAuthenticationProvider {
public:
    std::optional<std::string> credential() override { return std::nullopt; }
};

// An API task whose request is set from the test.
template <class Base = APITask>
class Probe : public Base {
public:
    explicit Probe(URL target, RequestMethod verb = RequestMethod::get, std::optional<Dictionary> body = {})
        : target_(std::move(target)), verb_(verb), body_(std::move(body)) {}
    URL url() const override { return target_; }
    RequestMethod method() const override { return verb_; }
    std::optional<Dictionary> parameters() const override { return body_; }

private:
    URL target_;
    RequestMethod verb_;
    std::optional<Dictionary> body_;
};

template <class Provider>
class AuthenticatedProbe : public Probe<AuthenticatedAPITask<Provider>> {
    using Probe<AuthenticatedAPITask<Provider>>::Probe;
};

struct Widget : JSONConstructable, CursorPagable {
    std::optional<std::string> id;
    std::optional<std::string> name;
    void populate(const Dictionary& json) override {
        if (auto it = json.find("id"); it != json.end() && it->second.asString())
            id = *it->second.asString();
        if (auto it = json.find("name"); it != json.end() && it->second.asString())
            name = *it->second.asString();
    }
    std::optional<std::string> cursorId() const override { return id; }
};

class WidgetList : public Probe<ConstructableAPITask<Widget>> {
    using Probe::Probe;
};
class OneWidget : public Probe<ConstructableAPITask<Widget>> {
public:
    using Probe::Probe;
    bool many() const override { return false; }
};
class NoWidget : public Probe<ConstructableAPITask<Widget>> {
public:
    using Probe::Probe;
    SerializationMode mode() const override { return SerializationMode::none; }
};

class WidgetPage : public AuthenticatedCursorPagedConstructableAPITask<Widget, FixedCredential, WidgetPage> {
public:
    using AuthenticatedCursorPagedConstructableAPITask::AuthenticatedCursorPagedConstructableAPITask;
};
class ReversedWidgetPage : public CursorPagedConstructableAPITask<Widget, ReversedWidgetPage> {
public:
    using CursorPagedConstructableAPITask::CursorPagedConstructableAPITask;
    bool nextMeansPrevious() const override { return true; }
};

struct RecordingDelegate : APITaskDelegate {
    std::mutex mutex;
    int received = 0, encountered = 0, finished = 0;
    void taskDidReceive(APITask&, const std::optional<Dictionary>&) override {
        std::lock_guard lock(mutex);
        ++received;
    }
    void taskDidEncounter(APITask&, const ErrorPtr&) override {
        std::lock_guard lock(mutex);
        ++encountered;
    }
    void taskDidFinishProcessing(APITask&) override {
        std::lock_guard lock(mutex);
        ++finished;
    }
};

void respond(httplib::Response& response, int status, std::string body) {
    response.status = status;
    response.set_content(std::move(body), "application/json");
}

std::shared_ptr<APIError> apiErrorOf(const Task& task) {
    for (const auto& error : task.errors())
        if (auto apiError = std::dynamic_pointer_cast<const APIError>(error))
            return std::make_shared<APIError>(*apiError);
    return nullptr;
}

} // namespace

class APITasks : public ::testing::Test {
protected:
    void SetUp() override {
        useTaskController();
        ASSERT_TRUE(server.isRunning());
    }
    template <class T>
    static std::shared_ptr<T> run(std::shared_ptr<T> task) {
        TaskController::performInParallel(std::vector<TaskPtr>{task}, true);
        return task;
    }
    LocalHTTPServer server;
};

TEST(RequestMethods, ExactRawValuesAndSuccessRange) {
    EXPECT_FALSE(RequestMethod::fromRawValue("patch"));
    for (auto [status, ok] : {std::pair{199, false}, {200, true}, {299, true}, {300, false}})
        EXPECT_EQ((HTTPURLResponse{URL(), status, {}}.ok()), ok) << status;
}

TEST_F(APITasks, EachVerbSendsItsSortedCompactBodyAndStandardHeaders) {
    server.on("*", "/things",
              [](const httplib::Request&, httplib::Response& res) { respond(res, 200, "{\"ok\":true}"); });
    for (auto verb : {RequestMethod::get, RequestMethod::post, RequestMethod::put, RequestMethod::patch,
                      RequestMethod::delete_}) {
        auto task =
            run(std::make_shared<Probe<>>(server.url("/things"), verb, Dictionary{{"b", 2}, {"a", "x"}}));
        EXPECT_EQ(task->result(), TaskResult::succeeded());
        EXPECT_EQ(task->results(), (Dictionary{{"ok", true}}));
    }
    auto bodyless = run(std::make_shared<Probe<>>(server.url("/things"), RequestMethod::create));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    std::vector<std::string> verbs;
    for (std::size_t i = 0; i < 5; ++i) {
        verbs.push_back(requests[i].method);
        if (i > 0) { // the test server does not read the body of a GET
            EXPECT_EQ(requests[i].body, "{\"a\":\"x\",\"b\":2}");
        }
        EXPECT_EQ(requests[i].header("Content-Type"), "application/json");
        EXPECT_EQ(requests[i].header("Accept-Encoding"), "gzip");
        EXPECT_FALSE(requests[i].header("Authorization")) << "an APITask has no provider by default";
    }
    EXPECT_EQ(verbs, (std::vector<std::string>{"GET", "POST", "PUT", "PATCH", "DELETE"}));
    EXPECT_EQ(requests[5].method, "POST");
    EXPECT_TRUE(requests[5].body.empty());
    EXPECT_EQ(bodyless->result().status, TaskStatus::succeeded);
}

TEST_F(APITasks, CredentialIsSentOnlyWhenRequiredAndGiven) {
    server.on("GET", "/me", [](const httplib::Request&, httplib::Response& res) { respond(res, 200, "{}"); });
    run(std::make_shared<AuthenticatedProbe<FixedCredential>>(server.url("/me")));
    run(std::make_shared<AuthenticatedProbe<NoCredential>>(server.url("/me")));
    auto optedOut = std::make_shared<AuthenticatedProbe<FixedCredential>>(server.url("/me"));
    optedOut->setRequiresAuthentication(false);
    run(optedOut);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("Authorization"), "Basic s3cret");
    EXPECT_FALSE(requests[1].header("Authorization"));
    EXPECT_FALSE(requests[2].header("Authorization"));
}

TEST_F(APITasks, ErrorStatusesBecomeAPIErrors) {
    struct Case {
        int status;
        std::string body;
        std::optional<std::string> message;
        std::optional<std::int64_t> code;
    };
    const Case cases[] = {
        {401, "{\"detail\":\"nope\"}", "Incorrect Credentials", 401},
        {400, "{\"message\":\"Name is required\",\"code\":7}", "Name is required", 400},
        {404, "", "Not Found", 404},
        {429, "{}", "Enhance Your Calm", 429},
        {503, "oops", "Server Error Occurred", 503},
        {502, "", "Quillnest is Down", 502},
        {418, "{\"message\":5}", "Invalid Request", 418},
    };
    for (const auto& c : cases) {
        server.on("GET", "/status",
                  [&](const httplib::Request&, httplib::Response& res) { respond(res, c.status, c.body); });
        auto task = run(std::make_shared<Probe<>>(server.url("/status")));
        EXPECT_EQ(task->result().status, TaskStatus::failed) << c.status;
        auto error = apiErrorOf(*task);
        ASSERT_TRUE(error) << c.status;
        EXPECT_EQ(error->message(), c.message) << c.status;
        EXPECT_EQ(error->code(), c.code) << c.status;
        ASSERT_TRUE(task->response());
        EXPECT_EQ(task->response()->statusCode, c.status);
    }
    EXPECT_EQ(APIError::getMessage(std::nullopt), std::nullopt);
    EXPECT_EQ(APIError::getMessage(204), std::nullopt);
    EXPECT_EQ(APIError::getMessage(504), "Quillnest is Down");
    EXPECT_EQ(APIError::getMessage(302), std::nullopt);
    EXPECT_EQ(APIError(std::nullopt, 302).localizedDescription(), "No error message");
    EXPECT_EQ(APIError::fromResults(Dictionary{{"code", 9}}, std::nullopt).code(), 9);
}

TEST_F(APITasks, BodiesThatAreNotDictionariesLeaveNoResults) {
    server.on("DELETE", "/gone", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.on("GET", "/list",
              [](const httplib::Request&, httplib::Response& res) { respond(res, 200, "[1,2]"); });
    LogCapture log;
    auto deleted = run(std::make_shared<Probe<>>(server.url("/gone"), RequestMethod::destroy));
    EXPECT_EQ(deleted->result(), TaskResult::succeeded());
    EXPECT_FALSE(deleted->results());
    EXPECT_TRUE(log.contains("Error fetching data, response was not valid JSON. "));
    auto list = run(std::make_shared<Probe<>>(server.url("/list")));
    EXPECT_EQ(list->result(), TaskResult::succeeded());
    EXPECT_FALSE(list->results());
    EXPECT_TRUE(log.contains("Error fetching data, could not be converted to expected type."));
}

TEST_F(APITasks, HostileBodiesEndInAnErrorOrNoResults) {
    std::string deep(1'000'000, '[');
    const std::pair<std::string, std::string> bodies[] = {
        {"/utf8", "{\"a\":\"\xC3\x28\"}"},
        {"/deep", deep},
        {"/truncated", "{\"results\":[{\"id\":\"1\"},{\"id\":"},
    };
    for (const auto& [path, body] : bodies) {
        server.on("GET", path, [body = body](const httplib::Request&, httplib::Response& res) {
            respond(res, 200, body);
        });
        auto task = run(std::make_shared<WidgetList>(server.url(path)));
        EXPECT_FALSE(task->results()) << path;
        EXPECT_EQ(task->result().status, TaskStatus::failed) << path << ": no list, so no models";
    }
}

TEST_F(APITasks, TransportFailureFailsTheTaskAndTellsTheDelegate) {
    URL nowhere = server.url("/x");
    {
        LocalHTTPServer closed; // take a port and let it go, so nothing listens there
        nowhere = closed.url("/x");
    }
    auto delegate = std::make_shared<RecordingDelegate>();
    auto task = std::make_shared<Probe<>>(nowhere);
    TaskController::perform(task, delegate, true);
    EXPECT_EQ(task->result().status, TaskStatus::failed);
    ASSERT_EQ(task->errors().size(), 1u);
    EXPECT_TRUE(std::dynamic_pointer_cast<const URLSessionError>(task->errors()[0]));
    EXPECT_EQ(delegate->encountered, 1);
    EXPECT_EQ(delegate->received, 0) << "no results, so no didReceive";
    EXPECT_EQ(delegate->finished, 1);
}

TEST_F(APITasks, ParallelSubmissionReplacesDelegatesAndSerialKeepsThem) {
    server.on("GET", "/d", [](const httplib::Request&, httplib::Response& res) { respond(res, 200, "{}"); });
    auto original = std::make_shared<RecordingDelegate>();
    auto other = std::make_shared<RecordingDelegate>();
    auto replaced = std::make_shared<Probe<>>(server.url("/d"));
    replaced->setDelegate(original);
    TaskController::performInParallel(TaskController::Operations{replaced}, other, true);
    EXPECT_EQ(replaced->delegate(), other);

    auto kept = std::make_shared<Probe<>>(server.url("/d"));
    kept->setDelegate(original);
    auto fresh = std::make_shared<Probe<>>(server.url("/d"));
    TaskController::performInSeries(TaskController::Operations{kept, fresh}, other, true);
    EXPECT_EQ(kept->delegate(), original);
    EXPECT_EQ(fresh->delegate(), other);
    EXPECT_EQ(original->received, 1);
    EXPECT_EQ(other->received, 2);
    EXPECT_EQ(other->finished, 2);
}

TEST_F(APITasks, ModelsAreBuiltByMode) {
    server.on("GET", "/two", [](const httplib::Request&, httplib::Response& res) {
        respond(res, 200, R"({"results":[{"id":"1","name":"a"},{"id":"2","name":"b"}]})");
    });
    server.on("GET", "/empty", [](const httplib::Request&, httplib::Response& res) {
        respond(res, 200, R"({"results":[]})");
    });
    server.on("GET", "/bad", [](const httplib::Request&, httplib::Response& res) {
        respond(res, 400, R"({"id":"9","message":"bad","widget":3})");
    });
    server.on("GET", "/none", [](const httplib::Request&, httplib::Response& res) { res.status = 200; });

    auto two = run(std::make_shared<WidgetList>(server.url("/two")));
    ASSERT_TRUE(two->models());
    ASSERT_EQ(two->models()->size(), 2u);
    EXPECT_EQ((*two->models())[0]->name, "a");
    EXPECT_EQ((*two->models())[1]->id, "2");
    EXPECT_EQ(two->result().status, TaskStatus::succeeded);

    auto empty = run(std::make_shared<WidgetList>(server.url("/empty")));
    ASSERT_TRUE(empty->models());
    EXPECT_TRUE(empty->models()->empty());
    EXPECT_EQ(empty->result().status, TaskStatus::succeeded);

    LogCapture log;
    auto missing = run(std::make_shared<WidgetList>(server.url("/bad")));
    EXPECT_FALSE(missing->models());
    EXPECT_EQ(missing->result().status, TaskStatus::failed);
    EXPECT_TRUE(log.contains("was unable to serialize models from results"));

    // One model: the whole body, also when modelKey names something that is not a dictionary, and
    // also for an error response (which still fails the task).
    auto single = std::make_shared<OneWidget>(server.url("/bad"));
    single->setModelKey("widget");
    run(single);
    ASSERT_TRUE(single->model());
    EXPECT_EQ(single->model()->id, "9");
    EXPECT_EQ(single->result().status, TaskStatus::failed);

    auto nothing = run(std::make_shared<OneWidget>(server.url("/none")));
    EXPECT_FALSE(nothing->model());
    EXPECT_EQ(nothing->result().status, TaskStatus::failed);
    ASSERT_FALSE(nothing->errors().empty());
    EXPECT_EQ(nothing->errors().back()->localizedDescription(), "Unable to serialize model from results");

    auto unmodelled = run(std::make_shared<NoWidget>(server.url("/two")));
    EXPECT_FALSE(unmodelled->model());
    EXPECT_FALSE(unmodelled->models());
    EXPECT_EQ(unmodelled->result().status, TaskStatus::succeeded);
    EXPECT_TRUE(log.contains("requires not serialization of models."));
}

TEST_F(APITasks, CursorPagesBuildTheirQueryAndFollowTheServersLinks) {
    auto first = WidgetPage::pageURL(*URL::parse("https://svc.example/api/widgets?old=1"), "abc", true, 100);
    EXPECT_EQ(first.query(), "reverse=1&count=100&since=abc");
    EXPECT_EQ(
        WidgetPage::pageURL(*URL::parse("https://svc.example/api/widgets"), std::nullopt, false, 25).query(),
        "reverse=0&count=25");

    std::string second = server.urlString("/widgets?page=2");
    server.on("GET", "/widgets", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("page"))
            respond(res, 200,
                    R"({"count":3,"next":null,"previous":"not a url at all ::","results":[{"id":"3"}]})");
        else
            respond(res, 200,
                    R"({"count":3,"next":")" + second +
                        R"(","previous":null,"results":[{"id":"1"},{"id":"2"}]})");
    });
    auto page = std::make_shared<WidgetPage>(server.url("/widgets"), std::nullopt, false, 2);
    EXPECT_FALSE(page->next()) << "no links before the response";
    run(page);
    EXPECT_EQ(page->count(), 3);
    EXPECT_FALSE(page->previous());
    auto nextTask = std::dynamic_pointer_cast<WidgetPage>(page->next());
    ASSERT_TRUE(nextTask) << "the next page is of the same concrete class";
    EXPECT_EQ(nextTask->currentUrl().absoluteString(), second);
    EXPECT_FALSE(nextTask->since());
    EXPECT_FALSE(nextTask->baseUrl());
    EXPECT_FALSE(nextTask->reverse());
    run(nextTask);
    ASSERT_TRUE(nextTask->models());
    EXPECT_EQ((*nextTask->models())[0]->cursorId(), "3");
    EXPECT_FALSE(nextTask->next());
    EXPECT_FALSE(nextTask->previous()) << "a link that is not a URL is ignored";
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Authorization"), "Basic s3cret");
    EXPECT_EQ(requests[1].header("Authorization"), "Basic s3cret");
    EXPECT_EQ(requests[0].query.find("count")->second, "2");

    // Reversed paging swaps the links; a count that is not an integer is dropped.
    server.on("GET", "/rev", [&](const httplib::Request&, httplib::Response& res) {
        respond(
            res, 200,
            R"({"count":"3","next":"https://a.example/n","previous":"https://a.example/p","results":[]})");
    });
    auto reversed = run(std::make_shared<ReversedWidgetPage>(server.url("/rev")));
    EXPECT_FALSE(reversed->count());
    EXPECT_EQ(reversed->nextUrl()->absoluteString(), "https://a.example/p");
    EXPECT_EQ(reversed->previousUrl()->absoluteString(), "https://a.example/n");
    EXPECT_TRUE(std::dynamic_pointer_cast<ReversedWidgetPage>(reversed->previous()));
}
