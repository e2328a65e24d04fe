#include "UI/Desktop/FreedesktopNotifications.hpp"

#include "joblark/Foundation/Log.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kestrova::ui {
namespace {

constexpr const char* interface = "org.freedesktop.Notifications";

const joblark::Logger& desktopLog() {
    static const joblark::Logger log("Kestrova", "Desktop");
    return log;
}

QDBusMessage call(const char* method) {
    return QDBusMessage::createMethodCall(FreedesktopNotificationService::service,
                                          FreedesktopNotificationService::path, interface, method);
}

} // namespace

FreedesktopNotificationService::FreedesktopNotificationService(QDBusConnection bus) : bus_(std::move(bus)) {
    if (!bus_.isConnected())
        return;
    // Signals from whoever owns the name; Qt follows the owner when it changes.
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

FreedesktopNotificationService::~FreedesktopNotificationService() {
    if (!bus_.isConnected())
        return;
    bus_.disconnect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
    bus_.disconnect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
}

void FreedesktopNotificationService::unavailable(const QString& why) {
    if (loggedUnavailable_)
        return;
    loggedUnavailable_ = true;
    desktopLog().notice("[DESKTOP] Desktop notifications are off: " + why.toStdString());
}

void FreedesktopNotificationService::show(const DesktopNotification& notification) {
    if (!bus_.isConnected())
        return unavailable(QStringLiteral("no session bus."));
    // One call at a time, so that each replaces the one before it by its id; only the newest of
    // those shown meanwhile is still worth sending.
    if (inFlight_) {
        waiting_ = notification;
        return;
    }
    inFlight_ = true;
    if (bodyMarkup_) {
        send(notification);
        return;
    }
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(call("GetCapabilities")), this); // deleted below
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification] {
        watcher->deleteLater();
        QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError()) {
            inFlight_ = false;
            waiting_.reset();
            return unavailable(reply.error().message());
        }
        bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        send(notification);
    });
}

void FreedesktopNotificationService::send(const DesktopNotification& notification) {
    QString body = QString::fromStdString(notification.body);
    // Names come from the service: where the body is markup, they must not become any.
    if (bodyMarkup_.value_or(false))
        body = body.toHtmlEscaped();
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(static_cast<uchar>(notification.critical ? 2 : 1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrova"));
    QDBusMessage message = call("Notify");
    message << QStringLiteral("Kestrova") << currentId_ << QStringLiteral("kestrova")
            << QString::fromStdString(notification.title) << body
            << QStringList{QStringLiteral("default"), tr("Show")} << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this); // deleted below
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notification] {
        watcher->deleteLater();
        inFlight_ = false;
        QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            waiting_.reset();
            return unavailable(reply.error().message());
        }
        if (currentId_ != reply.value())
            open_.erase(currentId_);
        currentId_ = reply.value();
        open_[currentId_] = notification;
        if (auto next = std::exchange(waiting_, std::nullopt))
            show(*next);
    });
}

void FreedesktopNotificationService::actionInvoked(uint id, const QString& actionKey) {
    auto it = open_.find(id);
    if (it == open_.end() || actionKey != QStringLiteral("default") || !activated)
        return;
    const DesktopNotification notification = it->second; // the callback may show another
    activated(notification);
}

void FreedesktopNotificationService::notificationClosed(uint id, uint) {
    open_.erase(id);
    if (id == currentId_)
        currentId_ = 0;
}

} // namespace kestrova::ui
