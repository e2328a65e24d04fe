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
/// The stored token, or nothing when there is none (or it is unreadable). Also removes what writes
/// of the fallback file killed half-way left behind.
std::optional<std::string> loadCredentials();

/// What the store holds now. `known` is false when it could not be read (a locked keyring, an
/// unreadable or damaged file), so that a failure to read is never taken for a sign-out.
struct CredentialLookup {
    bool known = false;
    std::optional<std::string> token;
};
CredentialLookup lookupCredentials();
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

/// The store for this process alone while it lives: an advisory lock on a file beside the fallback
/// file, shared by every process of the user, so that one process comparing the store with its
/// token and writing, and another signing out, take turns. Holds nothing when the lock file cannot
/// be opened.
class ExclusiveAccess {
public:
    ExclusiveAccess();
    ~ExclusiveAccess();
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

private:
    int fd_ = -1;
};

} // namespace CredentialStore

} // namespace kestrova
