#include "quillnest/Security.hpp"

#include <sodium.h>

#include <cctype>
#include <mutex>
#include <semaphore>
#include <stdexcept>
#include <vector>

namespace quillnest {

namespace {

void ensureSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error("libsodium could not be initialised");
}

std::counting_semaphore<2>& hashingSlots() {
    static std::counting_semaphore<2> slots(2);
    return slots;
}

class Slot {
public:
    Slot() { hashingSlots().acquire(); }
    ~Slot() { hashingSlots().release(); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

/// The credentials after a scheme word ("Basic", "Token") and at least one space.
std::optional<std::string_view> afterScheme(std::string_view header, std::string_view scheme) {
    header = trim(header);
    if (!startsWithIgnoringCase(header, scheme) || header.size() == scheme.size())
        return std::nullopt;
    auto rest = header.substr(scheme.size());
    if (rest.front() != ' ' && rest.front() != '\t')
        return std::nullopt;
    rest = trim(rest);
    if (rest.empty())
        return std::nullopt;
    return rest;
}

} // namespace

std::string hashPassword(std::string_view password, PasswordCost cost) {
    ensureSodium();
    Slot slot;
    char out[crypto_pwhash_STRBYTES];
    auto ops =
        cost == PasswordCost::interactive ? crypto_pwhash_OPSLIMIT_INTERACTIVE : crypto_pwhash_OPSLIMIT_MIN;
    auto mem =
        cost == PasswordCost::interactive ? crypto_pwhash_MEMLIMIT_INTERACTIVE : crypto_pwhash_MEMLIMIT_MIN;
    if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0)
        throw std::runtime_error("Out of memory while hashing a password");
    return out;
}

bool verifyPassword(const std::string& hash, std::string_view password) {
    ensureSodium();
    Slot slot;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void verifyAgainstDummy(std::string_view password, PasswordCost cost) {
    static const std::string interactive = hashPassword("quillnest-dummy", PasswordCost::interactive);
    static const std::string minimal = hashPassword("quillnest-dummy", PasswordCost::minimal);
    (void)verifyPassword(cost == PasswordCost::interactive ? interactive : minimal, password);
}

std::string newTokenKey() {
    ensureSodium();
    unsigned char bytes[20];
    randombytes_buf(bytes, sizeof bytes);
    return hex(bytes, sizeof bytes);
}

std::string tokenHash(std::string_view key) {
    ensureSodium();
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                       nullptr, 0);
    return hex(digest, sizeof digest);
}

bool isValidUTF8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        std::uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += length;
    }
    return true;
}

std::optional<std::pair<std::string, std::string>> parseBasicAuthorization(std::string_view header) {
    auto encoded = afterScheme(header, "Basic");
    // Longer than any sensible address and password: refuse before decoding.
    if (!encoded || encoded->size() > 8192)
        return std::nullopt;
    ensureSodium();
    std::vector<unsigned char> decoded(encoded->size());
    std::size_t length = 0;
    const char* stop = nullptr;
    if (sodium_base642bin(decoded.data(), decoded.size(), encoded->data(), encoded->size(), nullptr, &length,
                          &stop, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        stop != encoded->data() + encoded->size())
        return std::nullopt;
    std::string text(reinterpret_cast<const char*>(decoded.data()), length);
    auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || !isValidUTF8(text))
        return std::nullopt;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    return std::make_pair(text.substr(0, colon), text.substr(colon + 1));
}

std::optional<std::string> parseTokenAuthorization(std::string_view header) {
    auto key = afterScheme(header, "Token");
    if (!key || key->size() > 256)
        return std::nullopt;
    for (char c : *key)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return std::nullopt;
    return std::string(*key);
}

} // namespace quillnest
