#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <atomic>
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
    static std::atomic<bool> warned{false}; // read at every request: say it once
    if (!warned.exchange(true))
        joblark::Logger::general().notice("[WARN] %{PUBLIC}@ is not an http or https origin; using %{PUBLIC}@",
                                      overrideVariable, defaultBaseURL);
    return std::string(defaultBaseURL);
}

namespace {

// Read at each use rather than cached in a static: a cached copy is destroyed at exit while a
// controller's queue may still be finishing a save that asks for it.
std::optional<std::string> environmentOverride() {
    const char* text = std::getenv(overrideVariable);
    if (!text || !*text)
        return std::nullopt;
    return chooseBaseURL(text);
}

joblark::URL make(const std::string& text) {
    auto url = joblark::URL::parse(text);
    // The base is a checked origin and the suffixes are fixed, so this cannot fail.
    if (!url)
        joblark::fatalError("The service URL is not a valid URL.");
    return *url;
}

} // namespace

bool isOverriddenByEnvironment() {
    return environmentOverride().has_value();
}

std::string serviceBaseURL() {
    if (auto fromEnvironment = environmentOverride())
        return *fromEnvironment;
    // A value edited by hand into something else than an origin is ignored, not trusted.
    if (auto chosen = joblark::UserDefaults::standard().stringForKey(kServiceURL))
        if (auto origin = originFrom(*chosen))
            return *origin;
    return std::string(defaultBaseURL);
}

bool setPreferredBaseURL(std::optional<std::string_view> text) {
    auto& defaults = joblark::UserDefaults::standard();
    if (!text)
        return defaults.removeObject(kServiceURL);
    auto origin = originFrom(*text);
    if (!origin)
        return false;
    return defaults.set(joblark::Value(*origin), kServiceURL);
}

joblark::URL serviceOrigin() {
    return make(serviceBaseURL());
}

joblark::URL apiRoot() {
    return make(serviceBaseURL() + "/api");
}

joblark::URL endpoints() {
    return make(serviceBaseURL() + "/api/endpoints");
}

joblark::URL measures() {
    return make(serviceBaseURL() + "/api/measures");
}

joblark::URL currentUser() {
    return make(serviceBaseURL() + "/api/me");
}

joblark::URL tokenExchange() {
    return make(serviceBaseURL() + "/api/tokens/exchange");
}

joblark::URL pushDevices() {
    return make(serviceBaseURL() + "/api/devices/apns");
}

joblark::URL profilePage() {
    return make(serviceBaseURL() + "/profile");
}

joblark::URL registrationPage() {
    return make(serviceBaseURL() + "/accounts/register");
}

} // namespace kestrova::ServiceURLs
