#pragma once

#include "Model/Endpoint.hpp"
#include "Model/Measure.hpp"
#include "Model/RawValue.hpp"
#include "Model/User.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Expected.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrova {

/// The overall status the overview's header shows.
enum class OverallStatus { ok, degraded, down };

template <>
struct RawValues<OverallStatus> {
    static constexpr std::array<std::pair<OverallStatus, std::string_view>, 3> cases{
        {{OverallStatus::ok, "ok"}, {OverallStatus::degraded, "degraded"}, {OverallStatus::down, "down"}}};
};

/// Everything the application knows about the signed-in account; cached in "AppState.plist".
class AppState : public joblark::Object, public joblark::Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.AppState";
    static constexpr std::string_view cacheFileName = "AppState.plist";

    std::shared_ptr<User> user;
    /// Absent until first loaded (which differs from loaded and empty).
    std::optional<std::vector<std::shared_ptr<Endpoint>>> endpoints;
    std::optional<std::vector<std::shared_ptr<Measure>>> measures;

    /// Every endpoint's last check and every measure's last assessment has status `status`. False
    /// while either list is absent.
    bool allHaveStatus(OverallStatus status) const;
    /// Some endpoint or measure has status `status`. False while either list is absent.
    bool anyHasStatus(OverallStatus status) const;

    std::string className() const override { return std::string(codingClassName); }
    void encode(joblark::KeyedArchiver& archiver) const override;
    static std::shared_ptr<AppState> decode(joblark::KeyedUnarchiver& unarchiver);

    /// The keyed archive of this state.
    joblark::Expected<joblark::Data> archivedData() const;
    /// Reads a keyed archive of a state; damaged or foreign bytes give an error.
    static joblark::Expected<std::shared_ptr<AppState>> fromArchive(std::span<const std::uint8_t> bytes);

    /// "AppState.plist" in the user's cache directory.
    static std::filesystem::path cacheFile();
    /// Writes the archive atomically (0600); the previous file stays intact on failure. Nullptr on
    /// success.
    joblark::ErrorPtr writeToFile(const std::filesystem::path& path = cacheFile()) const;
    /// A missing, unreadable or damaged file gives an error.
    static joblark::Expected<std::shared_ptr<AppState>>
    readFromFile(const std::filesystem::path& path = cacheFile());
};

} // namespace kestrova
