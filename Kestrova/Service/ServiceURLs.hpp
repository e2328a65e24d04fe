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

/// The preference that remembers the service address the user chose at sign-in.
inline constexpr std::string_view kServiceURL = "kServiceURL";

/// The address in use: the environment's override (read once), else the address chosen in the
/// preferences, else the default. Thread-safe: service tasks read it on their own threads.
std::string serviceBaseURL();
/// Whether the environment decides the address (a chosen address then has no effect).
bool isOverriddenByEnvironment();
/// Remembers an origin (as `originFrom` accepts) as the chosen address, or forgets the choice when
/// `text` is absent; false, with nothing changed, for anything that is not an origin.
bool setPreferredBaseURL(std::optional<std::string_view> text);

joblark::URL serviceOrigin();
joblark::URL apiRoot();
joblark::URL endpoints();
joblark::URL measures();
joblark::URL currentUser();
joblark::URL tokenExchange();
joblark::URL pushDevices();
joblark::URL profilePage();
joblark::URL registrationPage();

} // namespace kestrova::ServiceURLs
