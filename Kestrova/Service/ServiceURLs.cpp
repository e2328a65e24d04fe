#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Log.hpp"

#include <cstdlib>

namespace kestrova::ServiceURLs {

std::optional<std::string> originFrom(std::string_view text) {
    auto url = joblark::URL::parse(text);
    if (!url || !url->host() || url->host()->empty())
        return std::nullopt;
    if (url->scheme() != "http" && url->scheme() != "https")
        return std::nullopt;
    if (url->user() || url->query() || url->fragment())
        return std::nullopt;
    const auto& path = url->percentEncodedPath();
    if (!path.empty() && path != "/")
        return std::nullopt;
    std::string origin = url->absoluteString();
    if (!path.empty())
        origin.pop_back();
    return origin;
}

std::string chooseBaseURL(const char* overrideValue) {
    if (!overrideValue)
        return std::string(defaultBaseURL);
    if (auto origin = originFrom(overrideValue))
        return *origin;
    joblark::Logger::general().notice("[WARN] %{PUBLIC}@ is not an http or https origin; using %{PUBLIC}@",
                                      overrideVariable, defaultBaseURL);
    return std::string(defaultBaseURL);
}

const std::string& serviceBaseURL() {
    static const std::string base = chooseBaseURL(std::getenv(overrideVariable));
    return base;
}

namespace {
joblark::URL make(const std::string& text) {
    auto url = joblark::URL::parse(text);
    // The base is a checked origin and the suffixes are fixed, so this cannot fail.
    if (!url)
        joblark::fatalError("The service URL is not a valid URL.");
    return *url;
}
} // namespace

const joblark::URL& serviceOrigin() {
    static const joblark::URL url = make(serviceBaseURL());
    return url;
}

const joblark::URL& apiRoot() {
    static const joblark::URL url = make(serviceBaseURL() + "/api");
    return url;
}

const joblark::URL& endpoints() {
    static const joblark::URL url = make(apiRoot().absoluteString() + "/endpoints");
    return url;
}

const joblark::URL& measures() {
    static const joblark::URL url = make(apiRoot().absoluteString() + "/measures");
    return url;
}

const joblark::URL& currentUser() {
    static const joblark::URL url = make(apiRoot().absoluteString() + "/me");
    return url;
}

const joblark::URL& tokenExchange() {
    static const joblark::URL url = make(apiRoot().absoluteString() + "/tokens/exchange");
    return url;
}

const joblark::URL& pushDevices() {
    static const joblark::URL url = make(apiRoot().absoluteString() + "/devices/apns");
    return url;
}

const joblark::URL& profilePage() {
    static const joblark::URL url = make(serviceBaseURL() + "/profile");
    return url;
}

const joblark::URL& registrationPage() {
    static const joblark::URL url = make(serviceBaseURL() + "/accounts/register");
    return url;
}

} // namespace kestrova::ServiceURLs
