#pragma once

#include "joblark/Foundation/URL.hpp"

#include <optional>
#include <string>
#include <string_view>

/// Every address of the service, derived from one base URL (an origin without a trailing slash).
namespace kestrova::ServiceURLs {

/// The service's own origin, on a reserved domain until a deployment names its own.
inline constexpr std::string_view defaultBaseURL = "https://quillnest.example";
/// Names another service origin (for a local service, e.g. "http://127.0.0.1:8787").
inline constexpr const char* overrideVariable = "KESTROVA_SERVICE_URL";

/// The origin `text` names when it is an http or https origin (no user, path, query or fragment; a
/// lone "/" path is allowed), written without a trailing slash; nothing otherwise.
std::optional<std::string> originFrom(std::string_view text);
/// The base URL for an override value: the override when it is an origin, else the default (and a
/// warning in the log when an override was given).
std::string chooseBaseURL(const char* overrideValue);

/// Read from the environment once, on first use.
const std::string& serviceBaseURL();
const joblark::URL& serviceOrigin();

const joblark::URL& apiRoot();
const joblark::URL& endpoints();
const joblark::URL& measures();
const joblark::URL& currentUser();
const joblark::URL& tokenExchange();
const joblark::URL& pushDevices();
const joblark::URL& profilePage();
const joblark::URL& registrationPage();

} // namespace kestrova::ServiceURLs
