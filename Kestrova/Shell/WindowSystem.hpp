#pragma once

#include "State/AppStateController.hpp"

#include "joblark/Foundation/Error.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace kestrova {

/// The kinds of window, each driven by its own scene delegate.
enum class WindowKind { overview, dashboard, preferences, update };

/// What the application shell asks of the windowing toolkit. Main thread.
class WindowSystem {
public:
    using SceneSessionIdentifier = std::int64_t;

    virtual ~WindowSystem() = default;
    /// The first open window whose scene delegate is of `kind`, by its session.
    virtual std::optional<SceneSessionIdentifier> findWindow(WindowKind kind) = 0;
    /// Brings the session's window forward, or opens a new window when `session` is absent; the
    /// window gets `activity` (a new window's kind follows from its type). Failures go to
    /// `errorHandler`.
    virtual void activateSceneSession(std::optional<SceneSessionIdentifier> session,
                                      std::optional<UserActivity> activity,
                                      std::function<void(joblark::ErrorPtr)> errorHandler) = 0;
    /// Asks the menu bar to validate its commands again (titles, enabled states).
    virtual void revalidateMainMenu() = 0;
    /// Quits the application.
    virtual void terminate() = 0;
};

} // namespace kestrova
