#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillnest {

/// How much work a password hash costs. `interactive` is libsodium's recommendation for logins;
/// `minimal` exists so that tests creating many accounts stay fast.
enum class PasswordCost { interactive, minimal };

/// Argon2id (libsodium's crypto_pwhash_str). At most two hashes run at once: each takes tens of
/// megabytes, and a burst of logins must not exhaust memory.
std::string hashPassword(std::string_view password, PasswordCost cost);
bool verifyPassword(const std::string& hash, std::string_view password);
/// Burns the time of one verification; keeps unknown addresses as slow as wrong passwords.
void verifyAgainstDummy(std::string_view password, PasswordCost cost);

/// A new API token: 40 hexadecimal digits from the system's random source.
std::string newTokenKey();
/// What the database keeps of a token (BLAKE2b, hexadecimal): a stolen database yields no usable key.
std::string tokenHash(std::string_view key);

/// Strict UTF-8: no overlong forms, surrogates or code points beyond U+10FFFF.
bool isValidUTF8(std::string_view text);

/// The e-mail address and password of an "Authorization: Basic ..." header, or nothing when the
/// header is not well-formed Basic (wrong scheme, bad base64, no colon, invalid UTF-8, empty address).
std::optional<std::pair<std::string, std::string>> parseBasicAuthorization(std::string_view header);
/// The key of an "Authorization: Token ..." header.
std::optional<std::string> parseTokenAuthorization(std::string_view header);

} // namespace quillnest
