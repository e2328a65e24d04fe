#pragma once

#include <string_view>

namespace kestrova {

/// The name of the application's folders under the XDG base directories.
inline constexpr std::string_view applicationName = "kestrova";

/// Every program of the application calls this first: names the application's folders and takes
/// the log threshold from KESTROVA_LOG ("debug", "default", "error", "off"), else `defaultLevel`
/// (absent: the library's default).
void identifyApplication(std::string_view defaultLevel = {});

} // namespace kestrova
