// The desktop integration's tests: `kestrova_desktop_tests CLASS` runs one class. The notification
// tests expect a private session bus (dbus-run-session); the others no bus at all.

#include "../../tests/TestClassRunner.hpp"
#include "UI/Desktop/FreedesktopNotifications.hpp"
#include "UI/Desktop/SingleInstance.hpp"
#include "UI/Desktop/StatusGlyph.hpp"
#include "UI/Desktop/TrayStatusIcon.hpp"
#include "UI/Kit/Cards.hpp"
#include "UI/Kit/MainLoop.hpp"
#include "UI/Kit/Palette.hpp"

#include "Presentation/StatusChangeNotifier.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <thread>

using namespace kestrova;
using namespace kestrova::ui;

namespace {

std::shared_ptr<AppState> stateWith(std::vector<std::optional<Check::Status>> statuses) {
    auto state = std::make_shared<AppState>();
    state->user = std::make_shared<User>();
    state->endpoints.emplace();
    state->measures.emplace();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        auto e = std::make_shared<Endpoint>();
        e->id = "e" + std::to_string(i);
        e->name = "Endpoint " + std::to_string(i);
        e->lastCheckStatus = statuses[i];
        state->endpoints->push_back(e);
    }
    return state;
}

} // namespace

// --- tray -----------------------------------------------------------------------------------------------

class TrayTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void menuCallsBackAndMutesThroughTheCoordinator() {
        QTemporaryDir folder;
        auto controller =
            AppStateController::make(folder.filePath(QStringLiteral("AppState.plist")).toStdString());
        StatusNotificationCoordinator::registerDefaults();
        auto coordinator = StatusNotificationCoordinator::make(controller, nullptr);
        std::map<std::string, int> calls;
        std::vector<std::optional<joblark::Date>> mutes;
        TrayStatusIcon tray({.openOverview = [&] { ++calls["overview"]; },
                             .openDashboard = [&] { ++calls["dashboard"]; },
                             .refresh = [&] { ++calls["refresh"]; },
                             .quit = [&] { ++calls["quit"]; },
                             .muteUntil =
                                 [&](std::optional<joblark::Date> until) {
                                     mutes.push_back(until);
                                     coordinator->muteUntil(until);
                                 }});
        tray.follow(controller);
        QCOMPARE(tray.status(), TrayStatus::offline);
        QVERIFY(!tray.entry(TrayAction::refresh)->isEnabled());

        // A state change reaches the tray through the controller's notifications.
        controller->state = stateWith({Check::Status::down, Check::Status::ok, Check::Status::degraded});
        joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::userDidChange));
        QCOMPARE(tray.status(), TrayStatus::down);
        QCOMPARE(tray.toolTip(), QStringLiteral("Kestrova\n1 down, 1 degraded of 3"));
        tray.setLastRefreshSucceeded(false);
        QCOMPARE(tray.status(), TrayStatus::offline);
        tray.setLastRefreshSucceeded(true);

        for (auto action :
             {TrayAction::openOverview, TrayAction::openDashboard, TrayAction::refresh, TrayAction::quit})
            tray.entry(action)->trigger();
        QCOMPARE(calls, (std::map<std::string, int>{
                            {"overview", 1}, {"dashboard", 1}, {"refresh", 1}, {"quit", 1}}));

        const auto before = joblark::Date();
        QVERIFY(!tray.entry(TrayAction::unmute)->isEnabled());
        tray.entry(TrayAction::muteForOneHour)->trigger();
        QCOMPARE(mutes.size(), std::size_t(1));
        QVERIFY(mutes[0] &&
                std::abs(mutes[0]->timeIntervalSince1970() - before.timeIntervalSince1970() - 3600) < 60);
        QVERIFY(coordinator->isMuted());
        QVERIFY(tray.entry(TrayAction::unmute)->isEnabled());
        QVERIFY(tray.toolTip().contains(QStringLiteral("Notifications muted until")));
        tray.entry(TrayAction::muteUntilTomorrow)->trigger();
        QCOMPARE(mutes.back(), std::optional(StatusNotificationCoordinator::tomorrow(before)));
        tray.entry(TrayAction::unmute)->trigger();
        QCOMPARE(mutes.back(), std::optional<joblark::Date>());
        QVERIFY(!coordinator->isMuted());
        QVERIFY(!tray.entry(TrayAction::unmute)->isEnabled());
    }

    void withoutATrayNothingChanges() {
        // The offscreen platform has no tray, like a desktop without one.
        QVERIFY(!TrayStatusIcon::isAvailable());
        TrayStatusIcon::registerDefaults();
        QVERIFY(!joblark::UserDefaults::standard().boolForKey(kKeepRunningInTray));
        joblark::UserDefaults::standard().set(true, kKeepRunningInTray);
        joblark::LogCapture log;
        TrayStatusIcon tray({});
        QVERIFY(!tray.trayIcon());
        QVERIFY(!TrayStatusIcon::keepsRunningInTray());
        QVERIFY(QApplication::quitOnLastWindowClosed());
        QCOMPARE(log.count("No system tray"), std::size_t(1));
        tray.entry(TrayAction::quit)->trigger(); // no callback given: nothing happens
        joblark::UserDefaults::standard().removeObject(kKeepRunningInTray);
    }

    void iconsDifferByStatus() {
        std::vector<QImage> images;
        QImage sheet(4 * 72, 72, QImage::Format_ARGB32);
        sheet.fill(Qt::white);
        for (auto status : {TrayStatus::ok, TrayStatus::degraded, TrayStatus::down, TrayStatus::offline}) {
            const QIcon icon = TrayStatusIcon::iconFor(status);
            QPainter(&sheet).drawPixmap(static_cast<int>(images.size()) * 72 + 4, 4, icon.pixmap(64, 64));
            images.push_back(icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_Grayscale8));
        }
        QDir().mkpath(QStringLiteral(KESTROVA_SCREENSHOT_DIR));
        sheet.save(QStringLiteral(KESTROVA_SCREENSHOT_DIR "/tray-icons.png"));
        // Told apart even in greyscale: the glyphs differ, not only the colours.
        for (std::size_t a = 0; a < images.size(); ++a)
            for (std::size_t b = a + 1; b < images.size(); ++b)
                QVERIFY2(images[a] != images[b], qPrintable(QStringLiteral("icons %1 and %2").arg(a).arg(b)));
    }
};

// --- one instance ---------------------------------------------------------------------------------------

class SingleInstanceTests : public QObject {
    Q_OBJECT
    /// Runs `work` on a thread of its own (a second start blocks until the first one answers, which
    /// needs this thread's event loop) and waits for it with a deadline.
    template <class Work>
    static auto onAnotherThread(Work work) {
        std::atomic<bool> done = false;
        decltype(work()) result{};
        std::thread thread([&] {
            result = work();
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 10000);
        thread.join();
        if (!finished)
            qWarning("the other start did not finish in time");
        return result;
    }

private Q_SLOTS:
    void aSecondStartHandsOverAndLeaves() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kestrova.socket"));
        SingleInstance first(path);
        std::vector<InstanceRequest> received;
        first.requested = [&](const InstanceRequest& r) { received.push_back(r); };
        QCOMPARE(first.start({}), SingleInstance::Role::primary);

        for (const InstanceRequest& request : {InstanceRequest{"e7"}, InstanceRequest{}}) {
            const auto role = onAnotherThread([&] { return SingleInstance(path).start(request); });
            QCOMPARE(role, SingleInstance::Role::handedOver);
        }
        QTRY_COMPARE(received.size(), std::size_t(2));
        QCOMPARE(received[0], InstanceRequest{"e7"});
        QCOMPARE(received[1], InstanceRequest{});
    }

    void hostilePeersAreDroppedAndServiceGoesOn() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kestrova.socket"));
        SingleInstance first(path);
        int received = 0;
        first.requested = [&](const InstanceRequest&) { ++received; };
        QCOMPARE(first.start({}), SingleInstance::Role::primary);
        for (const QByteArray& garbage : {QByteArray("open /etc/passwd\n"), QByteArray(4096, 'x')}) {
            const bool closed = onAnotherThread([&] {
                QLocalSocket socket;
                socket.connectToServer(path);
                if (!socket.waitForConnected(5000))
                    return false;
                socket.write(garbage);
                socket.waitForBytesWritten(5000);
                // Dropped without an answer.
                while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(5000))
                    if (socket.readAll().contains("ok"))
                        return false;
                return socket.state() != QLocalSocket::ConnectedState;
            });
            QVERIFY(closed);
        }
        QCOMPARE(received, 0);
        QCOMPARE(onAnotherThread([&] { return SingleInstance(path).start({"m1"}); }),
                 SingleInstance::Role::handedOver);
        QTRY_COMPARE(received, 1);
    }

    void aSocketLeftByACrashDoesNotBlock() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kestrova.socket"));
        // A socket file nobody listens on: bound, then its process gone.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::copy(native.begin(), native.end(), address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(path));

        SingleInstance next(path);
        QCOMPARE(next.start({}), SingleInstance::Role::primary);
        QCOMPARE(onAnotherThread([&] { return SingleInstance(path).start({}); }),
                 SingleInstance::Role::handedOver);
    }

    void withoutAUsableFolderOrAnswerItGoesOnAlone() {
        joblark::LogCapture log;
        QCOMPARE(SingleInstance(QStringLiteral("/nonexistent/kestrova.socket")).start({}),
                 SingleInstance::Role::alone);
        QCOMPARE(SingleInstance(QString()).start({}), SingleInstance::Role::alone);
        QCOMPARE(log.count("[DESKTOP]"), std::size_t(2));

        // A running instance that never answers: the new start gives up at its deadline.
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("kestrova.socket"));
        QLocalServer mute;
        QVERIFY(mute.listen(path));
        QCOMPARE(onAnotherThread([&] { return SingleInstance(path).start({}, 300); }),
                 SingleInstance::Role::alone);
    }
};

// --- status glyphs --------------------------------------------------------------------------------------

class GlyphTests : public QObject {
    Q_OBJECT
    static QImage greyscale(QWidget& widget) {
        return widget.grab().toImage().convertToFormat(QImage::Format_Grayscale8);
    }
    static void save(const QImage& image, const QString& name) {
        QDir().mkpath(QStringLiteral(KESTROVA_SCREENSHOT_DIR));
        image.save(QStringLiteral(KESTROVA_SCREENSHOT_DIR "/") + name);
    }
    /// The pixels of `rect` that differ from `background` by more than a faint edge.
    static std::vector<bool> inkMask(const QImage& image, const QRect& rect, int background) {
        std::vector<bool> mask;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                mask.push_back(std::abs(qGray(image.pixel(x, y)) - background) > 40);
        return mask;
    }
    static int difference(const std::vector<bool>& a, const std::vector<bool>& b) {
        int n = 0;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            n += a[i] != b[i];
        return n;
    }

private Q_SLOTS:
    void statusesStayApartInGreyscale_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void statusesStayApartInGreyscale() {
        QFETCH(bool, dark);
        const QPalette palette = dark ? darkPalette() : lightPalette();
        // Tiles: the four newest slots are ok, degraded, down and unknown, right to left.
        std::vector<std::shared_ptr<Check>> checks;
        for (auto status : {std::optional(Check::Status::ok), std::optional(Check::Status::degraded),
                            std::optional(Check::Status::down), std::optional<Check::Status>()}) {
            checks.push_back(std::make_shared<Check>());
            checks.back()->status = status;
        }
        HistoryBar bar;
        bar.showHistory(checks);
        HistoryBarWidget barWidget;
        barWidget.setPalette(palette);
        barWidget.setAutoFillBackground(true);
        barWidget.setBackgroundRole(QPalette::Base);
        constexpr int tile = 10;
        barWidget.resize(30 * tile + 29 * static_cast<int>(HistoryBar::spacing), 14);
        barWidget.setBar(bar);
        const QImage tiles = greyscale(barWidget);
        save(tiles, QStringLiteral("greyscale-tiles-%1.png").arg(dark ? "dark" : "light"));
        const int base = qGray(palette.color(QPalette::Base).rgb());
        std::vector<std::vector<bool>> tileMasks;
        for (int slot = 29; slot >= 26; --slot)
            tileMasks.push_back(inkMask(tiles, QRect(slot * (tile + 4), 0, tile, 14), base));

        // Badges: the same title on each status colour, so only the glyph can tell them apart.
        std::vector<std::vector<bool>> badgeMasks;
        QImage sheet(4 * 90, 30, QImage::Format_Grayscale8);
        sheet.fill(Qt::white);
        for (auto [i, background] : std::vector<std::pair<int, Color>>{{0, Color::systemGreen},
                                                                       {1, Color::systemOrange},
                                                                       {2, Color::systemRed},
                                                                       {3, Color::systemGray}}) {
            BadgeWidget badge;
            badge.setPalette(palette);
            badge.setBadge(QStringLiteral("Status"), background);
            badge.resize(90, 24);
            const QImage image = greyscale(badge);
            QPainter(&sheet).drawImage(i * 90, 3, image);
            const int fill = qGray(color(background, palette).rgb());
            badgeMasks.push_back(inkMask(image, QRect(0, 4, 40, 16), fill));
        }
        save(sheet, QStringLiteral("greyscale-badges-%1.png").arg(dark ? "dark" : "light"));

        for (std::size_t a = 0; a < 4; ++a)
            for (std::size_t b = a + 1; b < 4; ++b) {
                QVERIFY2(difference(tileMasks[a], tileMasks[b]) >= 20,
                         qPrintable(QStringLiteral("tiles %1 and %2 look alike").arg(a).arg(b)));
                QVERIFY2(difference(badgeMasks[a], badgeMasks[b]) >= 12,
                         qPrintable(QStringLiteral("badges %1 and %2 look alike").arg(a).arg(b)));
            }
    }
};

// --- desktop notifications ------------------------------------------------------------------------------

/// The notification service's side: records every Notify, answers with ids, and emits the signals a
/// user's click or a close makes.
class RecordingNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    std::vector<Call> calls;
    QDBusConnection bus;

    explicit RecordingNotificationServer(QDBusConnection connection) : bus(std::move(connection)) {}

    void emitSignal(const char* name, const QVariantList& arguments) {
        auto message = QDBusMessage::createSignal(FreedesktopNotificationService::path,
                                                  QStringLiteral("org.freedesktop.Notifications"), name);
        message.setArguments(arguments);
        bus.send(message);
    }

public Q_SLOTS:
    QStringList GetCapabilities() {
        return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
    }
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        calls.push_back({appName, replacesId, summary, body, actions, hints});
        return replacesId ? replacesId : nextId_++;
    }

private:
    uint nextId_ = 41;
};

class NotificationTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void withoutServiceOrBusItLogsOnce() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        joblark::LogCapture log;
        FreedesktopNotificationService noService;
        for (int i = 0; i < 2; ++i) {
            noService.show({"Shop is down", "", ResourceKind::endpoint, "1", true});
            QTRY_VERIFY(!noService.isSending());
        }
        QCOMPARE(log.count("Desktop notifications are off"), std::size_t(1));

        FreedesktopNotificationService noBus(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere")));
        noBus.show({"Shop is down", "", ResourceKind::endpoint, "1", true});
        noBus.show({"Shop is down", "", ResourceKind::endpoint, "1", true});
        QCOMPARE(log.count("Desktop notifications are off: no session bus."), std::size_t(1));
    }

    void notifiesReplacesAndActivatesOnClick() {
        // The server on a connection of its own, so every call really crosses the bus.
        auto serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
        RecordingNotificationServer server(serverBus);
        QVERIFY(serverBus.registerObject(FreedesktopNotificationService::path, &server,
                                         QDBusConnection::ExportAllSlots));
        QVERIFY(serverBus.registerService(FreedesktopNotificationService::service));

        FreedesktopNotificationService notifications;
        std::vector<DesktopNotification> clicked;
        notifications.activated = [&](const DesktopNotification& n) { clicked.push_back(n); };

        notifications.show({"Shop <b>API</b> is down", "Endpoint & more", ResourceKind::endpoint, "7", true});
        QTRY_COMPARE(server.calls.size(), std::size_t(1));
        const auto& first = server.calls[0];
        QCOMPARE(first.appName, QStringLiteral("Kestrova"));
        QCOMPARE(first.replacesId, 0u);
        QCOMPARE(first.summary, QStringLiteral("Shop <b>API</b> is down"));
        QCOMPARE(first.body, QStringLiteral("Endpoint &amp; more")); // the server reads markup
        QVERIFY(first.actions.size() == 2 && first.actions[0] == QStringLiteral("default"));
        QCOMPARE(first.hints.value(QStringLiteral("urgency")).userType(), QMetaType::UChar);
        QCOMPARE(first.hints.value(QStringLiteral("urgency")).value<uchar>(), uchar(2));
        QCOMPARE(first.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("kestrova"));
        QTRY_COMPARE(notifications.currentId(), 41u);

        // Shown while a call is out: of those, only the newest goes; each replaces ours.
        notifications.show({"Blog is degraded", "", ResourceKind::measure, "8", false});
        notifications.show({"Blog is down", "", ResourceKind::measure, "8", true});
        notifications.show(
            {"Blog has recovered", "Measure, was degraded", ResourceKind::measure, "9", false});
        QTRY_COMPARE(server.calls.size(), std::size_t(3));
        QTRY_VERIFY(!notifications.isSending());
        QCOMPARE(server.calls.size(), std::size_t(3));
        QCOMPARE(server.calls[1].summary, QStringLiteral("Blog is degraded"));
        QCOMPARE(server.calls[2].summary, QStringLiteral("Blog has recovered"));
        QCOMPARE(server.calls[2].replacesId, 41u);
        QCOMPARE(server.calls[2].hints.value(QStringLiteral("urgency")).value<uchar>(), uchar(1));

        // Another program's notification, and a non-default action, select nothing.
        server.emitSignal("ActionInvoked", {99u, QStringLiteral("default")});
        server.emitSignal("ActionInvoked", {41u, QStringLiteral("other")});
        server.emitSignal("ActionInvoked", {41u, QStringLiteral("default")});
        QTRY_COMPARE(clicked.size(), std::size_t(1));
        QCOMPARE(clicked[0].targetId, std::string("9"));
        QCOMPARE(clicked[0].targetKind, ResourceKind::measure);

        // Once closed, it is neither clicked nor replaced.
        server.emitSignal("NotificationClosed", {41u, 2u});
        QTRY_COMPARE(notifications.currentId(), 0u);
        server.emitSignal("ActionInvoked", {41u, QStringLiteral("default")});
        notifications.show({"Shop is down", "", ResourceKind::endpoint, "7", true});
        QTRY_COMPARE(server.calls.size(), std::size_t(4));
        QCOMPARE(server.calls[3].replacesId, 0u);
        QCOMPARE(clicked.size(), std::size_t(1));
        serverBus.unregisterService(FreedesktopNotificationService::service);
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    MainLoopIntegration mainLoop;
    joblark::TaskController tasks;
    const kestrova::ui::tests::TestClasses classes{
        {"TrayTests", [] { return std::make_unique<TrayTests>(); }},
        {"SingleInstanceTests", [] { return std::make_unique<SingleInstanceTests>(); }},
        {"GlyphTests", [] { return std::make_unique<GlyphTests>(); }},
        {"NotificationTests", [] { return std::make_unique<NotificationTests>(); }},
    };
    return kestrova::ui::tests::runTestClasses(argc, argv, classes);
}

#include "DesktopTests.moc"
