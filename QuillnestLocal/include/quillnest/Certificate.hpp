#pragma once

#include <optional>
#include <string>

namespace quillnest {

/// Days until the certificate an https URL presents expires (negative once expired), read with a TLS
/// handshake only. Absent for other schemes, or when the handshake fails (the check itself reports
/// that). `caFile` replaces the system's trusted roots.
std::optional<double> certificateDaysLeft(const std::string& url, double timeoutSeconds,
                                          const std::optional<std::string>& caFile = std::nullopt);

} // namespace quillnest
