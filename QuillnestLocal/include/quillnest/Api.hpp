#pragma once

#include "quillnest/Records.hpp"
#include "quillnest/Security.hpp"
#include "quillnest/SignInThrottle.hpp"

#include "joblark/Foundation/Value.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillnest {

class Storage;

/// One request, as the router sees it (already read, body bounded).
struct Request {
    std::string method;
    std::string path;
    /// Decoded query items in order.
    std::vector<std::pair<std::string, std::string>> query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    /// The client's address (for sign-in throttling); empty when unknown.
    std::string peer;

    std::optional<std::string> header(std::string_view name) const;
    std::optional<std::string> queryValue(std::string_view name) const;
};

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers{};
};

/// createAccount's failure when the address has an account already.
inline constexpr const char* duplicateAccount = "An account with this e-mail address already exists";

/// {"message": text} with the status.
Reply errorReply(int status, std::string message);

struct ApiOptions {
    /// Origin written into every "url" field and paging link, without a trailing slash.
    std::string publicUrl;
    std::int64_t endpointLimit = 50;
    PasswordCost passwordCost = PasswordCost::interactive;
    /// JSON nesting allowed in request bodies.
    std::size_t maxJSONDepth = 64;
    SignInPolicy signIn;
};

/// The REST API and the two account pages: routing, authentication, validation and the JSON of every
/// resource. Thread-safe (state lives in Storage).
class Api {
public:
    Api(Storage& storage, ApiOptions options);

    Reply handle(const Request& request);

    /// Called with the row id of every endpoint created or resumed, so it can be checked at once.
    std::function<void(std::int64_t)> onEndpointReady;

    /// Creates an account; the failure message when it cannot.
    std::optional<UserRecord> createAccount(const std::string& email, const std::string& password,
                                            std::string* failure);
    /// A new API token for the user (only its hash is stored).
    std::pair<std::string, Millis> issueToken(std::int64_t userId);

    /// Page size when the request names none, and the largest allowed.
    static constexpr std::int64_t defaultPageSize = 25;
    static constexpr std::int64_t maximumPageSize = 100;

    const ApiOptions& options() const { return options_; }

private:
    struct Route;
    Reply route(const Request& request);
    std::optional<UserRecord> authenticate(const Request& request, Reply& failure);

    Reply exchangeToken(const Request& request);
    Reply me(const UserRecord& user);
    Reply user(const UserRecord& user, const std::string& uuid);
    Reply listEndpoints(const Request& request, const UserRecord& user);
    Reply createEndpoint(const Request& request, const UserRecord& user);
    Reply getEndpoint(const UserRecord& user, const std::string& uuid);
    Reply patchEndpoint(const Request& request, const UserRecord& user, const std::string& uuid);
    Reply deleteEndpoint(const UserRecord& user, const std::string& uuid);
    Reply listMeasures(const Request& request, const UserRecord& user);
    Reply createMeasure(const Request& request, const UserRecord& user);
    Reply getMeasure(const UserRecord& user, const std::string& uuid);
    Reply patchMeasure(const Request& request, const UserRecord& user, const std::string& uuid);
    Reply deleteMeasure(const UserRecord& user, const std::string& uuid);
    Reply report(const Request& request, const UserRecord& user, const std::string& uuid);
    Reply listDevices(const Request& request, const UserRecord& user);
    Reply createDevice(const Request& request, const UserRecord& user);
    Reply getDevice(const UserRecord& user, const std::string& uuid);
    Reply deleteDevice(const UserRecord& user, const std::string& uuid);

    Reply registerPage(const Request& request);
    Reply profilePage(const Request& request);
    Reply indexPage();

    template <class T, class Render>
    Reply envelope(const Request& request, const std::string& collectionPath, const Page<T>& page,
                   const PageQuery& query, Render render,
                   const std::vector<std::pair<std::string, std::string>>& keptItems = {}) const;

    /// An e-mail address and password checked under the throttle: the user when they match; when the
    /// throttle refused to check them, the seconds to wait.
    struct SignIn {
        std::optional<UserRecord> user;
        std::chrono::seconds retryAfter{0};
    };
    SignIn signIn(const std::string& email, const std::string& password, const std::string& peer);

    Storage& storage_;
    ApiOptions options_;
    SignInThrottle throttle_;
};

} // namespace quillnest
