#include "TestService.hpp"

#include "joblark/Foundation/ISO8601.hpp"
#include "joblark/Foundation/URL.hpp"

#include <set>

namespace quillnest::testing {
namespace {

using joblark::Dictionary;
using joblark::Value;

bool isTimestamp(const Value& v) {
    auto* s = v.asString();
    // Milliseconds and "Z", as the client's second parsing attempt expects.
    return s && s->size() == 24 && s->back() == 'Z' && (*s)[19] == '.' &&
           joblark::ISO8601::parse(*s, joblark::ISO8601Options::internetDateTimeWithFractionalSeconds);
}

using namespace std::chrono_literals;

class ApiTest : public ServiceFixture {};

TEST_F(ApiTest, TokenExchangeTradesOnlyRightCredentialsForAWorkingToken) {
    account("ana@example.com", "pässwörd:with:colons");
    // E-mail addresses match without regard to letter case; passwords may hold colons.
    auto answer = client->send("POST", "/api/tokens/exchange", {},
                               {{"Authorization", basic("ANA@example.com:pässwörd:with:colons")}});
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.text("key").size(), 40u);
    EXPECT_TRUE(isTimestamp(answer["created_at"]));
    EXPECT_EQ(client->get("/api/me", answer.text("key")).status, 200);
    // Malformed headers are the parser's table; here, that each refusal is a 401 with a message.
    for (const auto& header : {std::string(), basic("ana@example.com:wrong"), basic("nobody@example.com:x"),
                               std::string("Basic %%%%"), std::string("Token 0123456789")}) {
        auto refused =
            client->send("POST", "/api/tokens/exchange", {},
                         header.empty() ? httplib::Headers{} : httplib::Headers{{"Authorization", header}});
        EXPECT_EQ(refused.status, 401) << header;
        EXPECT_FALSE(refused.text("message").empty()) << header;
        EXPECT_FALSE(refused["key"].isString());
    }
    EXPECT_EQ(client->get("/api/tokens/exchange").status, 405);
}

TEST_F(ApiTest, SignInsBackOffAfterFiveFailuresOfAnAccount) {
    account("ana@example.com", "right-password");
    account("bo@example.com", "right-password");
    auto exchange = [&](const std::string& credentials) {
        return client->send("POST", "/api/tokens/exchange", {}, {{"Authorization", basic(credentials)}});
    };
    // A success clears the account's count.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(exchange("ana@example.com:wrong").status, 401);
        EXPECT_EQ(exchange("ana@example.com:right-password").status, 200);
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(exchange("ANA@example.com:wrong").status, 401);
    // Then even the right password waits, on the API and on the profile page alike.
    auto refused = exchange("ana@example.com:right-password");
    EXPECT_EQ(refused.status, 429);
    EXPECT_FALSE(refused.text("message").empty());
    ASSERT_TRUE(refused.headers.count("Retry-After"));
    EXPECT_EQ(refused.headers.find("Retry-After")->second, "1");
    auto page = client->raw().Post("/profile", "email=ana%40example.com&password=right-password",
                                   "application/x-www-form-urlencoded");
    EXPECT_EQ(page->status, 429);
    EXPECT_EQ(exchange("bo@example.com:right-password").status, 200) << "other accounts go on";
    EXPECT_TRUE(eventually([&] { return exchange("ana@example.com:right-password").status == 200; }, 5s));
}

TEST_F(ApiTest, SignInsFromOneAddressBackOffAfterTwentyFailures) {
    account("bo@example.com", "right-password");
    for (int i = 0; i < 20; ++i) // unknown addresses count as well: nothing tells them apart
        EXPECT_EQ(client
                      ->send("POST", "/api/tokens/exchange", {},
                             {{"Authorization", basic("guess" + std::to_string(i) + "@example.com:x")}})
                      .status,
                  401);
    auto refused = client->send("POST", "/api/tokens/exchange", {},
                                {{"Authorization", basic("bo@example.com:right-password")}});
    EXPECT_EQ(refused.status, 429);
}

TEST_F(ApiTest, EveryResourceRouteNeedsAValidToken) {
    auto token = account("ana@example.com");
    const std::vector<std::pair<std::string, std::string>> routes = {
        {"GET", "/api/me"},
        {"GET", "/api/endpoints"},
        {"POST", "/api/endpoints"},
        {"GET", "/api/measures"},
        {"POST", "/api/measures"},
        {"GET", "/api/devices/apns?device_id=x"},
        {"POST", "/api/devices/apns"},
        {"DELETE", "/api/endpoints/x"},
        {"POST", "/api/measures/x/report"},
    };
    for (const auto& [method, path] : routes) {
        for (const auto& header : {std::string(), std::string("Token not-a-token"), std::string("Token"),
                                   "Basic " + token, "Bearer " + token}) {
            httplib::Headers headers;
            if (!header.empty())
                headers.emplace("Authorization", header);
            auto answer = client->send(method, path, "{}", headers);
            EXPECT_EQ(answer.status, 401) << method << " " << path << " with '" << header << "'";
            EXPECT_FALSE(answer.text("message").empty());
        }
    }
}

TEST_F(ApiTest, EndpointLifecycleFromCreationToDeletion) {
    auto token = account("ana@example.com");
    auto created = createEndpoint(token, "Shop", "https://shop.example.com/health?full=1");
    ASSERT_EQ(created.status, 201) << created.body;
    EXPECT_EQ(created.text("name"), "Shop");
    EXPECT_EQ(created.text("endpoint_url"), "https://shop.example.com/health?full=1");
    EXPECT_EQ(created.text("status"), "active");
    EXPECT_TRUE(created["last_check_status"].isNull());
    EXPECT_TRUE(isTimestamp(created["created_at"]));
    auto path = pathOf(created.text("url"));
    EXPECT_EQ(path, "/api/endpoints/" + created.text("uuid"));

    auto me = client->get("/api/me", token);
    EXPECT_EQ(*me["results"].at(0)->find("endpoints_remaining"), Value(49));

    auto patched =
        client->patch(path, R"({"public": true, "ensure_valid_cert": false, "status": "inactive"})", token);
    ASSERT_EQ(patched.status, 200) << patched.body;
    EXPECT_EQ(patched["public"], Value(true));
    EXPECT_EQ(patched["ensure_valid_cert"], Value(false));
    EXPECT_EQ(patched.text("status"), "inactive");
    EXPECT_EQ(patched.text("name"), "Shop");
    auto unchanged = client->patch(path, "{}", token);
    EXPECT_EQ(unchanged.text("status"), "inactive");
    EXPECT_EQ(client->get(path, token)["public"], Value(true));

    auto deleted = client->del(path, token);
    EXPECT_EQ(deleted.status, 204);
    EXPECT_TRUE(deleted.body.empty());
    EXPECT_EQ(client->get(path, token).status, 404);
    EXPECT_EQ(client->del(path, token).status, 404);
    EXPECT_EQ(client->get("/api/endpoints", token)["count"], Value(0));
}

TEST_F(ApiTest, InvalidEndpointBodiesAreRefusedWithAMessage) {
    auto token = account("ana@example.com");
    const std::string cases[] = {
        R"({"endpoint_url": "https://a.example"})",
        R"({"name": "", "endpoint_url": "https://a.example"})",
        R"({"name": 5, "endpoint_url": "https://a.example"})",
        R"({"name": "A"})",
        R"({"name": "A", "endpoint_url": "ftp://a.example/"})",
        R"({"name": "A", "endpoint_url": "not a url"})",
        R"({"name": "A", "endpoint_url": "/relative"})",
        R"({"name": "A", "endpoint_url": ["https://a.example"]})",
        R"({"name": "A", "endpoint_url": "https://a.example", "check_type": "POST"})",
        R"({"name": "A", "endpoint_url": "https://a.example", "degredation_threshold": "fast"})",
        R"({"name": "A", "endpoint_url": "https://a.example", "degredation_threshold": 2.5})",
        R"({"name": "A", "endpoint_url": "https://a.example", "public": "yes"})",
        R"(["name", "A"])",
        R"("just a string")",
        "",
    };
    for (const auto& body : cases) {
        auto answer = client->post("/api/endpoints", body, token);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_FALSE(answer.text("message").empty()) << body;
    }
    EXPECT_EQ(client->get("/api/endpoints", token)["count"], Value(0));

    auto created = createEndpoint(token, "A");
    auto path = pathOf(created.text("url"));
    for (const auto& body :
         {R"({"public": "true"})", R"({"status": "paused"})", R"({"ensure_valid_cert": 1})", R"([1])", "{"}) {
        auto answer = client->patch(path, body, token);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_FALSE(answer.text("message").empty());
    }
    EXPECT_EQ(client->get(path, token)["public"], Value(false));

    // Names are limited in characters, as the message says, not in bytes.
    std::string euros;
    for (int i = 0; i < 255; ++i)
        euros += "€";
    EXPECT_EQ(createEndpoint(token, euros).status, 201);
    EXPECT_EQ(createEndpoint(token, std::string(256, 'a')).status, 400);
}

TEST_F(ApiTest, TheEndpointLimitShowsInTheUserAndStopsCreation) {
    service.reset();
    startService([](ServiceOptions& o) { o.endpointLimit = 2; });
    auto token = account("ana@example.com");
    EXPECT_EQ(createEndpoint(token, "one").status, 201);
    EXPECT_EQ(createEndpoint(token, "two").status, 201);
    auto refused = createEndpoint(token, "three");
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(refused.text("message").find("limit"), std::string::npos);
    EXPECT_EQ(*client->get("/api/me", token)["results"].at(0)->find("endpoints_remaining"), Value(0));
}

TEST_F(ApiTest, AccountsSeeOnlyTheirOwnResources) {
    auto ana = account("ana@example.com");
    auto bo = account("bo@example.com");
    auto endpoint = createEndpoint(ana, "Ana's");
    auto measure = client->post("/api/measures", R"({"name": "Ana's measure"})", ana);
    ASSERT_EQ(measure.status, 201);
    auto device =
        client->post("/api/devices/apns", R"({"name": "x", "device_id": "d1", "registration_id": "r"})", ana);
    ASSERT_EQ(device.status, 201);

    for (const auto& url : {endpoint.text("url"), measure.text("url"), device.text("url")}) {
        auto path = pathOf(url);
        EXPECT_EQ(client->get(path, bo).status, 404) << path;
        EXPECT_EQ(client->del(path, bo).status, 404) << path;
        EXPECT_EQ(client->get(path, ana).status, 200) << path;
    }
    EXPECT_EQ(client->patch(pathOf(endpoint.text("url")), R"({"public": true})", bo).status, 404);
    EXPECT_EQ(client->post(pathOf(measure.text("url")) + "/report", "1", bo).status, 404);
    EXPECT_EQ(client->get("/api/endpoints", bo)["count"], Value(0));
    EXPECT_EQ(client->get("/api/measures", bo)["count"], Value(0));
    EXPECT_EQ(client->get("/api/devices/apns?device_id=d1", bo)["count"], Value(0));

    // The user comes in the list envelope, and its "url" is the same record, for its owner only.
    auto me = client->get("/api/me", ana);
    ASSERT_EQ(me["count"], Value(1));
    const auto& user = *me["results"].at(0);
    EXPECT_EQ(*user.find("email"), Value("ana@example.com"));
    EXPECT_TRUE(isTimestamp(*user.find("updated_at")));
    auto userPath = pathOf(*user.find("url")->asString());
    EXPECT_EQ(client->get(userPath, ana)["uuid"], *user.find("uuid"));
    EXPECT_EQ(client->get(userPath, bo).status, 404);
}

TEST_F(ApiTest, CursorLinksWalkEveryPageForwardAndBack) {
    auto token = account("ana@example.com");
    std::vector<std::string> names;
    for (int i = 0; i < 7; ++i) {
        names.push_back("endpoint " + std::to_string(i));
        ASSERT_EQ(createEndpoint(token, names.back()).status, 201);
    }
    auto namesOf = [](const Answer& a) {
        std::vector<std::string> out;
        for (const auto& r : *a["results"].asArray())
            out.push_back(*r.find("name")->asString());
        return out;
    };
    // Forward, three at a time, by following the absolute "next" links.
    std::vector<std::string> seen;
    std::vector<Answer> pages;
    auto page = client->get("/api/endpoints?page_size=3", token);
    while (true) {
        ASSERT_EQ(page.status, 200);
        EXPECT_EQ(page["count"], Value(7));
        pages.push_back(page);
        for (auto& n : namesOf(page))
            seen.push_back(n);
        if (page["next"].isNull())
            break;
        auto next = joblark::URL::parse(page.text("next"));
        ASSERT_TRUE(next && next->isAbsolute()) << page.text("next");
        ASSERT_LT(pages.size(), 5u);
        page = client->get(pathOf(page.text("next")), token);
    }
    EXPECT_EQ(seen, names);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_TRUE(pages[0]["previous"].isNull());
    // "previous" of the last page leads back over the middle page (walked in the other direction).
    auto back = client->get(pathOf(pages[2].text("previous")), token);
    EXPECT_EQ(namesOf(back), (std::vector<std::string>{"endpoint 5", "endpoint 4", "endpoint 3"}));

    // Newest first with reverse=1 and the cursor items "count" and "since".
    auto newest = client->get("/api/endpoints?reverse=1&count=2", token);
    EXPECT_EQ(namesOf(newest), (std::vector<std::string>{"endpoint 6", "endpoint 5"}));
    auto older = client->get(pathOf(newest.text("next")), token);
    EXPECT_EQ(namesOf(older), (std::vector<std::string>{"endpoint 4", "endpoint 3"}));

    // A page size beyond the maximum is capped; nonsense is refused.
    EXPECT_EQ(namesOf(client->get("/api/endpoints?page_size=1000", token)).size(), 7u);
    for (const char* query : {"page_size=0", "page_size=-1", "page_size=abc", "reverse=maybe", "since=xyz"})
        EXPECT_EQ(client->get(std::string("/api/endpoints?") + query, token).status, 400) << query;
}

TEST_F(ApiTest, UnknownRoutesWrongMethodsAndHostileBodiesGetJSONErrors) {
    auto token = account("ana@example.com");
    struct Case {
        std::string method;
        std::string path;
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/api/nothing-here", "", 404},
        {"GET", "/nothing/at/all", "", 404},
        {"GET", "/api/endpoints/a/b/c", "", 404},
        {"PUT", "/api/endpoints", "{}", 405},
        {"DELETE", "/api/endpoints", "", 405},
        {"POST", "/api/me", "{}", 405},
        {"PATCH", "/api/measures", "{}", 405},
        {"POST", "/api/endpoints", "{\"name\": \"A\", ", 400},
        {"POST", "/api/endpoints", "{\"name\": \"\xff\xfe\"}", 400},
        {"POST", "/api/endpoints", std::string(100000, '[') + std::string(100000, ']'), 400},
        {"POST", "/api/measures", "{\"name\": {\"a\": {\"b\": 1}}}", 400},
        {"POST", "/api/measures", "{\"name\": \"m\", \"criteria\": 7}", 400},
        {"POST", "/api/measures",
         "{\"name\": \"m\", \"criteria\": [{\"comparison\": \"about\", "
         "\"expected_value\": \"1\"}]}",
         400},
        {"POST", "/api/devices/apns", "{\"name\": \"n\"}", 400},
    };
    for (const auto& c : cases) {
        auto answer = client->send(c.method, c.path, c.body, Client::auth(token));
        EXPECT_EQ(answer.status, c.status) << c.method << " " << c.path.substr(0, 60);
        EXPECT_TRUE(answer.json.isDictionary() && !answer.text("message").empty())
            << c.method << " " << c.path << ": " << answer.body.substr(0, 200);
    }
    auto wrongMethod = client->send("PUT", "/api/endpoints", "{}", Client::auth(token));
    auto allow = wrongMethod.headers.find("Allow");
    ASSERT_NE(allow, wrongMethod.headers.end());
    EXPECT_NE(allow->second.find("POST"), std::string::npos);
    // The service still answers after all that.
    EXPECT_EQ(client->get("/api/me", token).status, 200);
}

TEST_F(ApiTest, MeasuresAreAssessedOnEveryReport) {
    auto token = account("ana@example.com");
    auto created = client->post("/api/measures", R"({
        "name": "Queue",
        "criteria": [
            {"comparison": "less_than_equal", "expected_value": 100, "value_path": "queue.depth"},
            {"comparison": "equal", "expected_value": "green", "value_path": "state"}
        ]})",
                                token);
    ASSERT_EQ(created.status, 201) << created.body;
    ASSERT_EQ(created["criteria"].asArray()->size(), 2u);
    EXPECT_EQ(*created["criteria"].at(0)->find("expected_value"), Value("100")); // kept as text
    auto path = pathOf(created.text("url"));

    // Judging itself is the assessor's table; here, that reports reach it and their results are kept.
    struct Report {
        std::string body;
        std::string status;
        std::string measurement;
    } reports[] = {
        {R"({"queue": {"depth": 12}, "state": "green"})", "ok", "12"},
        {R"({"queue": {"depth": 150}, "state": "red"})", "down", "150"},
        {R"({"queue": {"depth": "99.5"}, "state": "green"})", "ok", "99.5"},
    };
    for (const auto& r : reports) {
        auto answer = client->post(path + "/report", r.body, token);
        ASSERT_EQ(answer.status, 201) << r.body << ": " << answer.body;
        EXPECT_EQ(answer.text("status"), r.status) << r.body;
        EXPECT_EQ(answer["ok"], Value(r.status == "ok")) << r.body;
        EXPECT_EQ(answer.text("measurement"), r.measurement) << r.body;
        EXPECT_FALSE(answer.text("message").empty());
        EXPECT_TRUE(isTimestamp(answer["created_at"]));
    }
    auto measure = client->get(path, token);
    EXPECT_EQ(measure.text("last_status"), "ok");
    ASSERT_EQ(measure["history"].asArray()->size(), 3u);
    EXPECT_EQ(*measure["history"].at(0)->find("measurement"), Value("99.5")); // newest first
    EXPECT_EQ(*measure["history"].at(2)->find("measurement"), Value("12"));

    EXPECT_EQ(client->post(path + "/report", "{not json", token).status, 400);
    EXPECT_EQ(client->post(path + "/report", "", token).status, 400);

    auto paused = client->patch(path, R"({"status": "inactive", "public": true})", token);
    EXPECT_EQ(paused.text("status"), "inactive");
    EXPECT_EQ(paused["public"], Value(true));
    auto refused = client->post(path + "/report", "{}", token);
    EXPECT_EQ(refused.status, 409);
    EXPECT_FALSE(refused.text("message").empty());

    EXPECT_EQ(client->del(path, token).status, 204);
    EXPECT_EQ(client->get(path, token).status, 404);
}

TEST_F(ApiTest, DevicesRegisterOncePerDeviceIdAndCanBeRemoved) {
    auto token = account("ana@example.com");
    auto first = client->post("/api/devices/apns",
                              R"({"name": "Laptop", "device_id": "D-1", "registration_id": "R-1"})", token);
    ASSERT_EQ(first.status, 201) << first.body;
    EXPECT_EQ(first.text("device_id"), "D-1");
    EXPECT_EQ(first["active"], Value(true));
    EXPECT_TRUE(first["registration_id"].isNull()); // a push secret is not echoed
    auto again = client->post("/api/devices/apns",
                              R"({"name": "Laptop 2", "device_id": "D-1", "registration_id": "R-2"})", token);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.text("uuid"), first.text("uuid"));
    EXPECT_EQ(again.text("name"), "Laptop 2");
    client->post("/api/devices/apns", R"({"name": "Other", "device_id": "D-2", "registration_id": "R"})",
                 token);

    auto found = client->get("/api/devices/apns?device_id=D-1", token);
    EXPECT_EQ(found["count"], Value(1));
    EXPECT_EQ(*found["results"].at(0)->find("name"), Value("Laptop 2"));
    EXPECT_EQ(client->get("/api/devices/apns?device_id=none", token)["count"], Value(0));
    EXPECT_EQ(client->get("/api/devices/apns", token)["count"], Value(2));

    auto path = pathOf(first.text("url"));
    EXPECT_EQ(client->del(path, token).status, 204);
    EXPECT_EQ(client->get("/api/devices/apns?device_id=D-1", token)["count"], Value(0));
}

TEST_F(ApiTest, RegistrationAndProfilePagesWorkInABrowser) {
    auto page = client->get("/accounts/register");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<form"), std::string::npos);

    auto form = [&](const std::string& path, const std::string& body) {
        return client->raw().Post(path, body, "application/x-www-form-urlencoded");
    };
    auto created =
        form("/accounts/register", "email=new%40example.com&password=s3cret+pass&password2=s3cret+pass");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->status, 201);

    auto exchange = client->send("POST", "/api/tokens/exchange", {},
                                 {{"Authorization", basic("new@example.com:s3cret pass")}});
    EXPECT_EQ(exchange.status, 200);

    // A taken address gets the same answer as a new one: the page tells nobody who has an account.
    auto duplicate =
        form("/accounts/register", "email=new%40example.com&password=another1&password2=another1");
    EXPECT_EQ(duplicate->status, created->status);
    EXPECT_EQ(duplicate->body, created->body);
    EXPECT_EQ(
        client
            ->send("POST", "/api/tokens/exchange", {}, {{"Authorization", basic("new@example.com:another1")}})
            .status,
        401)
        << "and changes nothing";
    auto mismatch = form("/accounts/register", "email=x%40example.com&password=abcdefgh&password2=abcdefgX");
    EXPECT_EQ(mismatch->status, 400);
    auto hostile = form("/accounts/register", "email=%3Cscript%3E&password=a&password2=a");
    EXPECT_EQ(hostile->status, 400);
    EXPECT_EQ(hostile->body.find("<script>"), std::string::npos); // echoed input is escaped

    EXPECT_EQ(client->get("/profile").status, 200);
    auto profile = form("/profile", "email=new%40example.com&password=s3cret+pass");
    EXPECT_EQ(profile->status, 200);
    EXPECT_NE(profile->body.find("new@example.com"), std::string::npos);
    EXPECT_EQ(form("/profile", "email=new%40example.com&password=wrong")->status, 401);
}

TEST_F(ApiTest, ThePublicOriginIsWrittenIntoEveryURLAndLink) {
    service.reset();
    startService([](ServiceOptions& o) { o.publicUrl = "https://monitor.example.com/"; });
    auto token = account("ana@example.com");
    createEndpoint(token, "one");
    createEndpoint(token, "two");
    auto page = client->get("/api/endpoints?page_size=1", token);
    EXPECT_EQ(page.text("next").rfind("https://monitor.example.com/api/endpoints?", 0), 0u)
        << page.text("next");
    EXPECT_EQ(page["results"].at(0)->find("url")->asString()->rfind(
                  "https://monitor.example.com/api/endpoints/", 0),
              0u);
    auto measure = client->post("/api/measures", R"({"name": "m"})", token);
    EXPECT_EQ(measure.text("url").rfind("https://monitor.example.com/api/measures/", 0), 0u);
    // HEAD answers like GET, without a body.
    auto head = client->raw().Head("/api/me", Client::auth(token));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_TRUE(head->body.empty());
}

} // namespace
} // namespace quillnest::testing
