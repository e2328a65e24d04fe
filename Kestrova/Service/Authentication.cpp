#include "Service/Authentication.hpp"

#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Log.hpp"

namespace kestrova {

std::optional<std::string> AuthenticationProvider::credential() {
    auto token = source_ ? source_() : std::nullopt;
    if (!token)
        return std::nullopt;
    return "Token " + *token;
}

joblark::HTTPRequestTask::Headers serviceHeaders(joblark::HTTPRequestTask::Headers headers,
                                                 const joblark::URL& target, const std::string& taskName,
                                                 AuthenticationProvider provider) {
    if (auto credential = provider.credential())
        headers["Authorization"] = *credential;
    else
        headers.erase("Authorization");
    // A resource URL comes from the server's answer; a hostile or misconfigured one must not
    // collect the user's token.
    if (headers.contains("Authorization") && !target.isSameOrigin(ServiceURLs::serviceOrigin())) {
        headers.erase("Authorization");
        joblark::Logger::general().notice(
            "[WARN] %{PUBLIC}@ sends no credentials to %{PUBLIC}@: it is not the service's origin %{PUBLIC}@",
            taskName, target.absoluteString(), ServiceURLs::serviceBaseURL());
    }
    return headers;
}

std::string base64Encode(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        auto n = (static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16) |
                 (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                 static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 2]));
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (std::size_t rest = bytes.size() - i) {
        unsigned n = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            n |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += rest == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

joblark::URL TokenExchange::url() const {
    return ServiceURLs::tokenExchange();
}

joblark::HTTPRequestTask::Headers TokenExchange::headers() const {
    if (!email || !password)
        joblark::fatalError("Could not find username or password.");
    // std::string already holds the UTF-8 bytes, so the encoding step cannot fail here.
    auto headers = joblark::APITask::headers();
    headers["Authorization"] = "Basic " + base64Encode(*email + ":" + *password);
    return headers;
}

} // namespace kestrova
