#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

/// How this machine names itself to the push service.
namespace kestrova::DeviceIdentity {

/// This machine's identifier for this application: a name-based UUID of the machine id in the
/// application's own namespace, upper case — stable across runs, never the raw machine id. Nothing
/// when the machine has no readable machine id.
std::optional<std::string> vendorIdentifier(const std::filesystem::path& machineIdFile = "/etc/machine-id");

/// The machine's host name ("Linux" when it has none).
std::string deviceName();

/// A push token as the service expects it: two lower-case hexadecimal digits per byte.
std::string registrationId(std::span<const std::uint8_t> token);

} // namespace kestrova::DeviceIdentity
