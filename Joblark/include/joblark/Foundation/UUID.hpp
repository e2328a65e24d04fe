#pragma once

#include "joblark/Foundation/Export.hpp"

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Thread safety: UUID is an immutable value: safe to share between threads; the device identifier is computed
// once, thread-safely.

namespace joblark {

/// A 128-bit universally unique identifier (RFC 4122), on libuuid.
class JOBLARK_EXPORT UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    /// A new random (version 4) identifier.
    UUID();
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    /// Parses the 36-character form "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", any letter case.
    static std::optional<UUID> fromString(std::string_view text);
    /// The name-based identifier (version 5, SHA-1) of `name` within `namespaceUUID`: the same
    /// inputs always give the same identifier.
    static UUID nameBased(const UUID& namespaceUUID, std::string_view name);

    // The namespaces RFC 4122 defines for name-based identifiers.
    static UUID dnsNamespace();
    static UUID urlNamespace();

    /// Upper case, like the platform's uuidString.
    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }
    /// The version field (4 for random, 5 for name-based).
    int version() const { return bytes_[6] >> 4; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend std::strong_ordering operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_;
};

} // namespace joblark

template <>
struct std::hash<joblark::UUID> {
    std::size_t operator()(const joblark::UUID& uuid) const noexcept;
};
