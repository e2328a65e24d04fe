#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// Keeps the API token in the Secret Service (GNOME Keyring, KWallet) under the account
/// "UserCredentials", as the single "token" entry. On a machine where no Secret Service answers,
/// the token goes to a private file (0600) in the user's data directory instead, with a warning
/// logged once.

/// Stores (inserts or replaces) the token; false, with "Could not save keychain data! ..." logged,
/// when it could not be stored.
bool saveCredentials(const std::string& token);
/// The stored token, or nothing when there is none (or it is unreadable).
std::optional<std::string> loadCredentials();
/// Deletes the stored token (logging "Could not purge keychain data! ..." on failure), then cancels
/// the operations still waiting in the main operation queue.
void purgeCredentials();

namespace CredentialStore {

inline constexpr std::string_view account = "UserCredentials";
inline constexpr std::string_view service = "kestrova";
/// How long one Secret Service call may take before the service counts as not answering.
inline constexpr std::chrono::milliseconds timeout{3000};

/// The fallback file for machines without a Secret Service.
std::filesystem::path fallbackFile();

} // namespace CredentialStore

} // namespace kestrova
