#pragma once

// What the client shows of itself outside its windows: the tray icon's status, tooltip and menu,
// and the request a second start of the program hands to the one already running.

#include "Model/AppState.hpp"
#include "Presentation/ViewKit.hpp"

#include "joblark/Foundation/Date.hpp"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// --- tray ---------------------------------------------------------------------------------------------

/// The tray icon's colour: the overall status, or offline when there is none to tell (signed out,
/// nothing loaded yet, or the last refresh failed).
enum class TrayStatus { ok, degraded, down, offline };

enum class TrayAction {
    openOverview,
    openDashboard,
    refresh,
    muteForOneHour,
    muteUntilTomorrow,
    unmute,
    quit
};

struct TrayMenuItem {
    std::string title;
    TrayAction action;
    bool isEnabled = true;
    bool operator==(const TrayMenuItem&) const = default;
};

/// What the tray shows. The menu's groups are separated by separators.
struct TrayPresentation {
    TrayStatus status = TrayStatus::offline;
    std::string toolTip;
    std::vector<std::vector<TrayMenuItem>> menu;
};

struct TrayInput {
    /// Absent or without a user: signed out.
    const AppState* state = nullptr;
    /// False after a refresh failed, until one succeeds.
    bool lastRefreshSucceeded = true;
    /// Until when notifications are muted; a time not after `now` is no mute.
    std::optional<joblark::Date> mutedUntil;
    joblark::Date now;
};

/// "Keep running in the tray when the window is closed": on by default where a tray exists.
inline constexpr std::string_view kKeepRunningInTray = "kKeepRunningInTray";

TrayPresentation trayPresentation(const TrayInput& input);

/// The time a mute entry mutes until (absent for Unmute); nothing for the other actions.
std::optional<std::optional<joblark::Date>> muteChange(TrayAction action, const joblark::Date& now);

/// The colour the tray icon takes for a status.
Color trayColor(TrayStatus status);

// --- one instance -----------------------------------------------------------------------------------

/// What a start of the program asks of the instance that already runs: come forward, and select a
/// resource when `selectId` is set.
struct InstanceRequest {
    std::optional<std::string> selectId;
    bool operator==(const InstanceRequest&) const = default;
};

/// The longest request accepted from another process; anything longer is refused unread.
inline constexpr std::size_t maximumInstanceRequestSize = 1024;

/// Reads `--select ID` or `--select=ID` from the program's arguments (the others belong to the
/// toolkit). An error names a `--select` without a usable id.
joblark::Expected<InstanceRequest> instanceRequest(std::span<const std::string> arguments);

/// The request as one line, and back. Decoding refuses anything but what encoding makes: the other
/// process may be anyone's.
std::string encodeInstanceRequest(const InstanceRequest& request);
std::optional<InstanceRequest> decodeInstanceRequest(std::string_view line);

/// The endpoint or measure with `id` in `state`, selected through `opener`; false when there is none.
bool selectResource(OverviewOpener& opener, const AppState* state, const std::string& id);

} // namespace kestrova
