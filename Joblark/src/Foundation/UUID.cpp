#include "joblark/Foundation/UUID.hpp"

#include <algorithm>
#include <cstring>
#include <uuid/uuid.h>

namespace joblark {
namespace {

UUID fromRaw(const uuid_t raw) {
    UUID::Bytes bytes;
    std::copy(raw, raw + 16, bytes.begin());
    return UUID(bytes);
}

} // namespace

UUID::UUID() {
    uuid_t raw;
    uuid_generate_random(raw);
    std::copy(raw, raw + 16, bytes_.begin());
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    // uuid_parse wants a terminated string of exactly this length; check first so that longer input
    // with a valid prefix is refused rather than truncated.
    if (text.size() != 36)
        return std::nullopt;
    char terminated[37];
    std::memcpy(terminated, text.data(), 36);
    terminated[36] = '\0';
    uuid_t raw;
    if (uuid_parse(terminated, raw) != 0)
        return std::nullopt;
    return fromRaw(raw);
}

UUID UUID::nameBased(const UUID& namespaceUUID, std::string_view name) {
    uuid_t raw;
    // An empty view may carry a null pointer; the hash still needs a valid one.
    uuid_generate_sha1(raw, namespaceUUID.bytes_.data(), name.empty() ? "" : name.data(), name.size());
    return fromRaw(raw);
}

UUID UUID::dnsNamespace() {
    return *fromString("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
}

UUID UUID::urlNamespace() {
    return *fromString("6ba7b811-9dad-11d1-80b4-00c04fd430c8");
}

std::string UUID::uuidString() const {
    char text[37];
    uuid_unparse_upper(bytes_.data(), text);
    return std::string(text, 36);
}

} // namespace joblark

std::size_t std::hash<joblark::UUID>::operator()(const joblark::UUID& uuid) const noexcept {
    // The bytes are already uniformly distributed (random or SHA-1); fold them into one word.
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, uuid.bytes().data(), 8);
    std::memcpy(&low, uuid.bytes().data() + 8, 8);
    return static_cast<std::size_t>(high ^ (low * 0x9E3779B97F4A7C15ULL));
}
