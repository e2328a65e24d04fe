#pragma once

// The tray icon: the account's overall status as a coloured icon with a glyph, the counts in its
// tooltip, and a menu to open the windows, refresh, mute notifications and quit. What it shows is
// decided by the core (Presentation/DesktopPresence.hpp); without a system tray it shows nothing and
// changes nothing.
//
// Wiring (main thread, after QApplication and AppStateController::registerDefaults()):
//   TrayStatusIcon::registerDefaults();
//   TrayStatusIcon tray({.openOverview = ..., .openDashboard = ..., .refresh = ..., .quit = ...,
//                        .muteUntil = [&](auto until) { coordinator->muteUntil(until); }});
//   tray.follow(controller);                   // re-shows on every state change
//   sync completion: tray.setLastRefreshSucceeded(ok);

#include "Presentation/DesktopPresence.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kestrova::ui {

class TrayStatusIcon : public QObject {
    Q_OBJECT
public:
    /// What the menu's entries (and a click on the icon: the overview) call. Any may be empty.
    struct Actions {
        std::function<void()> openOverview;
        std::function<void()> openDashboard;
        std::function<void()> refresh;
        std::function<void()> quit;
        /// Absent: unmute. The tray re-reads the mute from the preferences afterwards.
        std::function<void(std::optional<joblark::Date>)> muteUntil;
    };

    explicit TrayStatusIcon(Actions actions, QObject* parent = nullptr);
    ~TrayStatusIcon() override;

    /// Whether the desktop has a tray to put the icon in.
    static bool isAvailable();
    /// kKeepRunningInTray defaults to on exactly where a tray exists.
    static void registerDefaults();
    /// The preference, and a tray to keep running in.
    static bool keepsRunningInTray();

    /// Shows the controller's state now and after every change it announces.
    void follow(std::shared_ptr<AppStateController> controller);
    void setLastRefreshSucceeded(bool succeeded);
    /// Shows `input` (the mute and the time are read from the preferences and the clock when
    /// `follow` drives it). Also applies kKeepRunningInTray to quitting on the last window's close.
    void show(const TrayInput& input);

    /// The icon for a status, drawn at the sizes trays ask for.
    static QIcon iconFor(TrayStatus status);

    TrayStatus status() const { return status_; }
    QString toolTip() const { return toolTip_; }
    QMenu* menu() const { return menu_.get(); }
    /// The menu's entry for `action`.
    QAction* entry(TrayAction action) const;
    /// Absent without a tray.
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

private:
    void showFollowed();
    void perform(TrayAction action);

    Actions actions_;
    std::unique_ptr<QMenu> menu_;
    std::vector<std::pair<TrayAction, QAction*>> entries_; ///< the actions owned by the menu
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::shared_ptr<AppStateController> controller_;
    std::vector<joblark::ObserverToken> observers_;
    bool lastRefreshSucceeded_ = true;
    TrayStatus status_ = TrayStatus::offline;
    QString toolTip_;
    std::optional<TrayStatus> iconStatus_;
};

} // namespace kestrova::ui
