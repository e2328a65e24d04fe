#include "quillnest/Certificate.hpp"

#include "joblark/Foundation/URL.hpp"

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>

namespace quillnest {

namespace {

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

/// "Expire date: Mar  3 12:00:00 2027 GMT", as libcurl reports it from OpenSSL.
std::optional<std::time_t> parseExpiry(const char* text) {
    std::tm tm{};
    const char* end = ::strptime(text, "%b %d %H:%M:%S %Y", &tm);
    if (!end)
        return std::nullopt;
    return ::timegm(&tm);
}

} // namespace

std::optional<double> certificateDaysLeft(const std::string& url, double timeoutSeconds,
                                          const std::optional<std::string>& caFile) {
    auto parsed = joblark::URL::parse(url);
    if (!parsed || parsed->scheme() != "https")
        return std::nullopt;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return std::nullopt;
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L); // the handshake is all we need
    curl_easy_setopt(c, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutSeconds * 1000));
    if (caFile)
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile->c_str());
    if (curl_easy_perform(c) != CURLE_OK)
        return std::nullopt;
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return std::nullopt;
    static constexpr const char prefix[] = "Expire date:";
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
        if (std::strncmp(field->data, prefix, sizeof prefix - 1) != 0)
            continue;
        auto expiry = parseExpiry(field->data + sizeof prefix - 1);
        if (!expiry)
            return std::nullopt;
        auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        return std::difftime(*expiry, now) / 86400.0;
    }
    return std::nullopt;
}

} // namespace quillnest
