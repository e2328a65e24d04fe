#pragma once

// The software-update plug-in's interface. The plug-in is a shared library built with the same
// compiler as the program; it exports the two C-linkage functions declared at the end.

#include "State/AppStateController.hpp"

#include "joblark/Foundation/Expected.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// What the plug-in calls back in the application.
class SparkleBridgeDelegate {
public:
    virtual ~SparkleBridgeDelegate() = default;
    /// Brings the update window forward (or opens it); `activity`, when given, carries what the
    /// window shows (see UpdateActivity). Main thread.
    virtual void openUpdaterOrMakeKeyAndVisible(std::optional<UserActivity> activity) = 0;
};

/// A loaded update plug-in.
class SparkleBridgePlugin {
public:
    virtual ~SparkleBridgePlugin() = default;
    /// Looks for a newer version and shows the outcome in the update window. Main thread.
    virtual void checkForUpdates() = 0;
};

/// What the application hands a plug-in when loading it.
struct SparkleBridgeConfiguration {
    std::weak_ptr<SparkleBridgeDelegate> delegate;
    /// The running program's version, dotted numbers ("1.4.2").
    std::string applicationVersion;
    /// The feed to read when the preferences name none.
    std::string defaultFeedURL;
};

/// The update window's content, carried in a user activity of type "kestrova.Update".
namespace UpdateActivity {
inline constexpr std::string_view statusKey = "status";
inline constexpr std::string_view versionKey = "version"; ///< the newest version found
inline constexpr std::string_view currentVersionKey = "currentVersion";
inline constexpr std::string_view releaseNotesURLKey = "releaseNotesURL";
inline constexpr std::string_view downloadURLKey = "downloadURL";
inline constexpr std::string_view errorKey = "error"; ///< a description
inline constexpr std::string_view checking = "checking";
inline constexpr std::string_view upToDate = "upToDate";
inline constexpr std::string_view available = "available";
inline constexpr std::string_view failed = "error";
} // namespace UpdateActivity

/// Loads the update plug-in (with its library kept loaded while the plug-in lives).
class SparkleBridgeClient {
public:
    /// The plug-in's file name in a plug-in folder.
    static constexpr std::string_view pluginFileName = "kestrova-update-plugin.so";
    /// ../lib/kestrova/plugins beside the program, then the build tree's plug-in folder.
    static std::vector<std::filesystem::path> defaultSearchFolders();
    /// The first plug-in file found in `folders`, loaded and created; an error when there is none,
    /// when it cannot be loaded, or when it is not a plug-in of this program's kind.
    static joblark::Expected<std::shared_ptr<SparkleBridgePlugin>>
    load(const SparkleBridgeConfiguration& configuration,
         const std::vector<std::filesystem::path>& folders = defaultSearchFolders());
};

/// The interface's version; a plug-in built against another one is refused.
inline constexpr int sparkleBridgeInterfaceVersion = 1;

} // namespace kestrova

extern "C" {
/// Returns kestrova::sparkleBridgeInterfaceVersion as the plug-in was built.
int kestrova_sparkle_bridge_interface_version();
/// Creates the plug-in into `plugin` (left empty on failure).
void kestrova_sparkle_bridge_create(const kestrova::SparkleBridgeConfiguration& configuration,
                                    std::unique_ptr<kestrova::SparkleBridgePlugin>& plugin);
}
