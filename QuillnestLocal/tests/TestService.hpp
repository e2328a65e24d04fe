#pragma once

#include "quillnest/Service.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/JSON.hpp"

#include "TemporaryEnvironment.hpp"

#include <httplib.h>

#include <gtest/gtest.h>
#include <sodium.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace quillnest::testing {

/// The service closes a connection whose upload it refuses; a client still writing must see EPIPE
/// rather than die of SIGPIPE.
inline const bool sigpipeIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

using joblark::testing::ScopedEnvironment;
using joblark::testing::TemporaryDirectory;

/// Options for an in-process service on a free loopback port, with cheap password hashing.
inline ServiceOptions testOptions(const std::filesystem::path& database) {
    ServiceOptions options;
    options.port = 0;
    options.databasePath = database;
    options.prober = false;
    options.passwordCost = PasswordCost::minimal;
    return options;
}

/// Waits for `condition` up to `limit`, checking every few milliseconds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

/// An "Authorization: Basic" value for "email:password".
inline std::string basic(std::string_view credentials) {
    std::string out(sodium_base64_ENCODED_LEN(credentials.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(credentials.data()),
                      credentials.size(), sodium_base64_VARIANT_ORIGINAL);
    out.pop_back();
    return "Basic " + out;
}

struct Answer {
    int status = 0;
    joblark::Value json;
    std::string body;
    httplib::Headers headers;

    const joblark::Value& operator[](std::string_view key) const {
        static const joblark::Value none;
        auto* v = json.find(key);
        return v ? *v : none;
    }
    std::string text(std::string_view key) const {
        auto* s = (*this)[key].asString();
        return s ? *s : std::string("<absent>");
    }
};

/// Talks HTTP to a service on 127.0.0.1.
class Client {
public:
    explicit Client(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(30);
        client_.set_connection_timeout(5);
    }

    Answer send(const std::string& method, const std::string& path, const std::string& body = {},
                httplib::Headers headers = {}) {
        httplib::Result result = [&] {
            if (method == "GET")
                return client_.Get(path, headers);
            if (method == "POST")
                return client_.Post(path, headers, body, "application/json");
            if (method == "PATCH")
                return client_.Patch(path, headers, body, "application/json");
            if (method == "PUT")
                return client_.Put(path, headers, body, "application/json");
            if (method == "DELETE")
                return client_.Delete(path, headers, body, "application/json");
            return client_.Options(path, headers);
        }();
        Answer answer;
        if (!result)
            return answer; // status 0: no answer
        answer.status = result->status;
        answer.body = result->body;
        answer.headers = result->headers;
        if (!answer.body.empty()) {
            auto parsed = joblark::JSON::parse(answer.body);
            if (parsed)
                answer.json = *parsed;
        }
        return answer;
    }

    Answer get(const std::string& path, const std::string& token = {}) {
        return send("GET", path, {}, auth(token));
    }
    Answer post(const std::string& path, const std::string& body, const std::string& token = {}) {
        return send("POST", path, body, auth(token));
    }
    Answer patch(const std::string& path, const std::string& body, const std::string& token = {}) {
        return send("PATCH", path, body, auth(token));
    }
    Answer del(const std::string& path, const std::string& token = {}) {
        return send("DELETE", path, {}, auth(token));
    }

    httplib::Client& raw() { return client_; }

    static httplib::Headers auth(const std::string& token) {
        if (token.empty())
            return {};
        return {{"Authorization", "Token " + token}};
    }

private:
    httplib::Client client_;
};

/// An in-process service with its own database.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override { startService(); }
    void TearDown() override { service.reset(); }

    void startService(std::function<void(ServiceOptions&)> adjust = {}) {
        auto options = testOptions(directory.path() / "test.sqlite3");
        if (adjust)
            adjust(options);
        service = std::make_unique<Service>(options);
        service->start();
        client = std::make_unique<Client>(service->port());
    }

    /// A new account and a token for it.
    std::string account(const std::string& email, const std::string& password = "password123") {
        std::string failure;
        auto user = service->api().createAccount(email, password, &failure);
        EXPECT_TRUE(user) << failure;
        return user ? service->api().issueToken(user->id).first : std::string();
    }

    /// Path of a resource URL on the service (the part after the origin).
    std::string pathOf(const std::string& url) const {
        auto origin = service->publicUrl();
        EXPECT_EQ(url.rfind(origin, 0), 0u) << url;
        return url.substr(origin.size());
    }

    Answer createEndpoint(const std::string& token, const std::string& name,
                          const std::string& url = "http://example.invalid/") {
        auto body = joblark::JSON::write(joblark::Dictionary{{"name", name}, {"endpoint_url", url}});
        return client->post("/api/endpoints", *body, token);
    }

    TemporaryDirectory directory;
    std::unique_ptr<Service> service;
    std::unique_ptr<Client> client;
};

} // namespace quillnest::testing
