#include "Presentation/DesktopPresence.hpp"

#include "Presentation/StatusChangeNotifier.hpp"

#include <algorithm>
#include <ctime>

namespace kestrova {
namespace {

struct Counts {
    std::size_t down = 0, degraded = 0, unchecked = 0, total = 0;
};

template <class List, class Field>
void count(Counts& counts, const List& list, Field field) {
    if (!list)
        return;
    for (const auto& resource : *list) {
        if (!resource)
            continue;
        ++counts.total;
        const auto& status = (*resource).*field;
        if (!status)
            ++counts.unchecked;
        else if (*status == std::decay_t<decltype(*status)>::down)
            ++counts.down;
        else if (*status == std::decay_t<decltype(*status)>::degraded)
            ++counts.degraded;
    }
}

std::string countsText(const Counts& counts) {
    if (counts.total == 0)
        return "Nothing is monitored yet";
    std::string text;
    auto add = [&](std::size_t n, const char* what) {
        if (n)
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(counts.down, "down");
    add(counts.degraded, "degraded");
    add(counts.unchecked, "not checked yet");
    if (text.empty())
        return "All " + std::to_string(counts.total) + " ok";
    return text + " of " + std::to_string(counts.total);
}

std::string timeOfDay(const joblark::Date& date) {
    const auto seconds = static_cast<std::time_t>(date.timeIntervalSince1970());
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

bool isIdCharacter(char c) {
    // Printable ASCII without the space: what the service's ids are made of, and nothing that
    // could end a line or smuggle a second word.
    return c > ' ' && c < 0x7f;
}

bool isUsableId(std::string_view id) {
    return !id.empty() && id.size() <= 256 && std::all_of(id.begin(), id.end(), isIdCharacter);
}

constexpr std::string_view kActivate = "activate";
constexpr std::string_view kSelect = "select ";

} // namespace

TrayPresentation trayPresentation(const TrayInput& input) {
    TrayPresentation tray;
    const AppState* state = input.state;
    const bool signedIn = state && state->user;
    const bool loaded = signedIn && (state->endpoints || state->measures);
    std::string detail;
    if (!signedIn) {
        detail = "Not signed in";
    } else if (!input.lastRefreshSucceeded) {
        detail = "Offline: the last refresh failed";
    } else if (!loaded) {
        detail = "Loading\u2026";
    } else {
        Counts counts;
        count(counts, state->endpoints, &Endpoint::lastCheckStatus);
        count(counts, state->measures, &Measure::lastStatus);
        detail = countsText(counts);
        // overallStatus()'s rule, over what has loaded: while one list is missing it says ok, and
        // the colour must agree with the counts beside it.
        tray.status = counts.down       ? TrayStatus::down
                      : counts.degraded ? TrayStatus::degraded
                                        : TrayStatus::ok;
    }
    tray.toolTip = "Kestrova\n" + detail;
    const bool muted = input.mutedUntil && *input.mutedUntil > input.now;
    if (muted)
        tray.toolTip += "\nNotifications muted until " + timeOfDay(*input.mutedUntil);

    tray.menu = {
        {{"Overview", TrayAction::openOverview}, {"Dashboard", TrayAction::openDashboard}},
        {{"Refresh", TrayAction::refresh, signedIn}},
        {{"Mute Notifications for 1 Hour", TrayAction::muteForOneHour},
         {"Mute Notifications until Tomorrow", TrayAction::muteUntilTomorrow},
         {"Unmute Notifications", TrayAction::unmute, muted}},
        {{"Quit Kestrova", TrayAction::quit}},
    };
    return tray;
}

std::optional<std::optional<joblark::Date>> muteChange(TrayAction action, const joblark::Date& now) {
    switch (action) {
    case TrayAction::muteForOneHour:
        return std::optional(now.addingTimeInterval(3600));
    case TrayAction::muteUntilTomorrow:
        return std::optional(StatusNotificationCoordinator::tomorrow(now));
    case TrayAction::unmute:
        return std::optional<joblark::Date>();
    default:
        return std::nullopt;
    }
}

Color trayColor(TrayStatus status) {
    switch (status) {
    case TrayStatus::ok:
        return Color::systemGreen;
    case TrayStatus::degraded:
        return Color::systemOrange;
    case TrayStatus::down:
        return Color::systemRed;
    case TrayStatus::offline:
        return Color::systemGray;
    }
    return Color::systemGray;
}

joblark::Expected<InstanceRequest> instanceRequest(std::span<const std::string> arguments) {
    InstanceRequest request;
    auto refuse = [] {
        return joblark::Unexpected{joblark::makeError("--select needs the id of an endpoint or a measure")};
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::optional<std::string_view> id;
        if (argument == "--select") {
            if (i + 1 >= arguments.size())
                return refuse();
            id = arguments[++i];
        } else if (argument.starts_with("--select=")) {
            id = argument.substr(9);
        }
        if (!id)
            continue;
        if (!isUsableId(*id))
            return refuse();
        request.selectId = std::string(*id);
    }
    return request;
}

std::string encodeInstanceRequest(const InstanceRequest& request) {
    return (request.selectId ? std::string(kSelect) + *request.selectId : std::string(kActivate)) + "\n";
}

std::optional<InstanceRequest> decodeInstanceRequest(std::string_view line) {
    if (line.size() > maximumInstanceRequestSize || !line.ends_with('\n'))
        return std::nullopt;
    line.remove_suffix(1);
    if (line == kActivate)
        return InstanceRequest{};
    if (line.starts_with(kSelect) && isUsableId(line.substr(kSelect.size())))
        return InstanceRequest{std::string(line.substr(kSelect.size()))};
    return std::nullopt;
}

bool selectResource(OverviewOpener& opener, const AppState* state, const std::string& id) {
    if (!state)
        return false;
    if (state->endpoints)
        for (const auto& endpoint : *state->endpoints)
            if (endpoint && endpoint->id == id) {
                opener.openOverviewOrMakeKeyAndVisibleAndSelect(*endpoint);
                return true;
            }
    if (state->measures)
        for (const auto& measure : *state->measures)
            if (measure && measure->id == id) {
                opener.openOverviewOrMakeKeyAndVisibleAndSelect(*measure);
                return true;
            }
    return false;
}

} // namespace kestrova
