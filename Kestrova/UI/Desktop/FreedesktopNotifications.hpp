#pragma once

// Desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications). Each notification replaces the previous one of ours; a click
// (the "default" action) calls `activated`; something going down is sent as critical. Without a
// session bus or a notification service it logs that once and shows nothing.
//
// Wiring (main thread, after QApplication):
//   auto notifications = std::make_shared<FreedesktopNotificationService>();
//   auto coordinator = StatusNotificationCoordinator::make(controller, notifications);
// The coordinator sets `activated`; keep both alive for the program's life.

#include "Presentation/StatusChangeNotifier.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <optional>

namespace kestrova::ui {

class FreedesktopNotificationService : public QObject, public DesktopNotificationService {
    Q_OBJECT
public:
    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";

    explicit FreedesktopNotificationService(QDBusConnection bus = QDBusConnection::sessionBus());
    ~FreedesktopNotificationService() override;

    /// Sends the notification; returns at once (the bus is never waited on).
    void show(const DesktopNotification& notification) override;

    /// The id the service gave our newest notification; 0 before the first, or after it closed.
    uint currentId() const { return currentId_; }
    /// A call to the service has not been answered yet.
    bool isSending() const { return inFlight_; }

private Q_SLOTS:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void send(const DesktopNotification& notification);
    void unavailable(const QString& why);

    QDBusConnection bus_;
    std::optional<bool> bodyMarkup_; ///< learnt from the service's capabilities before the first Notify
    bool inFlight_ = false;
    std::optional<DesktopNotification> waiting_; ///< the newest one shown while a call was in flight
    uint currentId_ = 0;
    std::map<uint, DesktopNotification> open_;
    bool loggedUnavailable_ = false;
};

} // namespace kestrova::ui
