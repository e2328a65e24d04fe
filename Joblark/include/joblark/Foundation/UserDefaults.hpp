#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Value.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace joblark {

/// The user's preferences: one JSON file of key → value (bool, number, string, array, dictionary)
/// under the configuration directory, plus registered defaults that answer for keys the user has no
/// value for. Every change is written at once, atomically, over the file as it is on disk then, so
/// two programs sharing the file keep each other's other keys. Thread-safe.
class JOBLARK_EXPORT UserDefaults {
public:
    static constexpr std::string_view fileName = "UserDefaults.json";

    /// The shared preferences in configDirectory()/UserDefaults.json, opened on first use.
    static UserDefaults& standard();
    /// Points standard() at another file (tests, a second profile); registered defaults are kept.
    static void resetStandard(std::optional<std::filesystem::path> location = std::nullopt);

    explicit UserDefaults(std::filesystem::path location);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& location() const { return location_; }

    /// Sets defaults for keys the user has no value for; earlier registrations of a key are replaced.
    void registerDefaults(const Dictionary& defaults);

    /// The user's value, else the registered default, else nothing.
    std::optional<Value> object(std::string_view key) const;
    /// True for true, non-zero numbers and "true"/"yes"/"1"; false otherwise and when absent.
    bool boolForKey(std::string_view key) const;
    /// Numbers, booleans (1/0) and numeric strings; 0 otherwise.
    double doubleForKey(std::string_view key) const;
    /// As doubleForKey, truncated toward zero and clamped to the 64-bit range.
    std::int64_t integerForKey(std::string_view key) const;
    /// Strings, and numbers in their usual form; nothing otherwise.
    std::optional<std::string> stringForKey(std::string_view key) const;

    /// Stores `value` for `key` (a null value removes it). False when the value cannot be kept
    /// (data, errors, objects) or the file could not be written; the error is logged.
    bool set(const Value& value, std::string_view key);
    /// Removes the user's value, so the registered default answers again.
    bool removeObject(std::string_view key);

private:
    Dictionary readFileLocked() const;
    bool updateLocked(std::string_view key, const std::optional<Value>& value);

    std::filesystem::path location_;
    mutable std::mutex mutex_;
    mutable std::optional<Dictionary> values_;
    Dictionary registered_;
};

} // namespace joblark
