#include "State/DeviceIdentity.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/UUID.hpp"

#include <algorithm>
#include <cctype>

#include <unistd.h>

namespace kestrova::DeviceIdentity {

std::optional<std::string> vendorIdentifier(const std::filesystem::path& machineIdFile) {
    auto bytes = joblark::FileLocations::readFile(machineIdFile, 4096);
    if (!bytes)
        return std::nullopt;
    std::string id(bytes->begin(), bytes->end());
    std::erase_if(id, [](unsigned char c) { return std::isspace(c); });
    // A machine id is 32 hexadecimal digits; anything else is not one.
    if (id.size() != 32 ||
        !std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return std::nullopt;
    static const auto applicationNamespace =
        joblark::UUID::nameBased(joblark::UUID::dnsNamespace(), "kestrova.quillnest.example");
    std::string identifier = joblark::UUID::nameBased(applicationNamespace, id).uuidString();
    std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return identifier;
}

std::string deviceName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "Linux";
    return name;
}

std::string registrationId(std::span<const std::uint8_t> token) {
    // What printf's "%02.2hhx" gives for each byte, without a format string per byte.
    constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(token.size() * 2);
    for (std::uint8_t byte : token) {
        text += hex[byte >> 4];
        text += hex[byte & 0x0f];
    }
    return text;
}

} // namespace kestrova::DeviceIdentity
