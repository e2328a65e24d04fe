// Every window and dialog with the demo's kind of data, in the light and the dark palette, saved as
// PNG files under the build folder (screenshots/). The service is unreachable on purpose: one shot
// shows the offline notice, the others the state after a sync that did reach it.

#include "Harness.hpp"
#include "TestClasses.hpp"

#include "UI/Dashboard/DashboardWindow.hpp"
#include "UI/Kit/Palette.hpp"
#include "UI/Preferences/PreferencesWindow.hpp"
#include "UI/Preferences/SettingsDialog.hpp"
#include "UI/Update/UpdateWindow.hpp"

#include "Presentation/SceneNotifications.hpp"
#include "Shell/SparkleBridge.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <map>

namespace kestrova::ui::tests {
namespace {

constexpr int deadlineMs = 10'000;

double meanLightness(const QImage& image) {
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4, ++count)
            sum += image.pixelColor(x, y).lightnessF();
    return count ? sum / count : 0;
}

class ScreenshotTests : public QObject {
    Q_OBJECT

    joblark::testing::ScopedEnvironment environment_;
    QString folder_ = QStringLiteral(KESTROVA_SCREENSHOT_DIR);
    std::map<QString, double> lightness_; // by shot, of the light palette's

    void shoot(QWidget* widget, const QString& shot, const QString& palette) {
        QVERIFY2(widget, qPrintable(shot));
        QVERIFY(QTest::qWaitForWindowExposed(widget));
        QCoreApplication::processEvents();
        const QImage image = widget->grab().toImage();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(QStringLiteral("%1/%2-%3.png").arg(folder_, shot, palette)));
        // Every part of every window follows the palette: the dark shot is darker throughout.
        if (palette == QStringLiteral("light"))
            lightness_[shot] = meanLightness(image);
        else
            QVERIFY2(meanLightness(image) < lightness_[shot] - 0.3, qPrintable(shot));
        // Every control in view can be told apart by a screen reader.
        int controls = 0;
        for (auto* control : widget->findChildren<QWidget*>()) {
            const bool interactive =
                qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                qobject_cast<QAbstractSlider*>(control) || qobject_cast<QAbstractItemView*>(control);
            if (!interactive || !control->isVisibleTo(widget) || qobject_cast<QScrollBar*>(control))
                continue;
            auto* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY2(accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable(shot + QStringLiteral(": a ") + control->metaObject()->className() +
                                QStringLiteral(" without a name, ") + control->objectName()));
            ++controls;
        }
        QVERIFY2(controls > 0, qPrintable(shot));
    }

    void shootAll(const QString& name, const QPalette& palette) {
        QApplication::setPalette(palette);
        joblark::testing::TemporaryDirectory folder;
        // A cache from an earlier run: the offline notice dates the data from it.
        QVERIFY(!demoState()->writeToFile(folder.path() / "AppState.plist"));
        AppHarness harness(folder.path());
        harness.controller().state = demoState(); // with histories, which the cache file does not keep
        harness.controller().setCredentials("demo-token");
        harness.app().launch();
        auto* overview = harness.overview();
        overview->resize(1120, 700);
        QTRY_VERIFY_WITH_TIMEOUT(overview->sidebar()->offlineNotice()->isVisible(), deadlineMs);
        shoot(overview, QStringLiteral("overview-offline"), name);
        overview->sidebar()->offlineNotice()->hide(); // the other pictures show a window that is online

        auto select = [&](const std::string& resource) {
            auto* list = overview->sidebar()->listView();
            const QModelIndex index = rowNamed(*overview->sidebar(), resource);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
        };
        select("Demo Slow");
        shoot(overview, QStringLiteral("overview"), name);
        select("Queue depth");
        shoot(overview, QStringLiteral("overview-measure"), name);

        overview->list()->confirmDelete(harness.controller().state->endpoints->at(3));
        shoot(openAlert(overview), QStringLiteral("alert-delete"), name);
        openAlert(overview)->reject();

        auto& center = joblark::NotificationCenter::defaultCenter();
        center.post(std::string(SceneNotifications::showAddEndpoint));
        QTRY_VERIFY_WITH_TIMEOUT(overview->addEndpointDialog(), deadlineMs);
        overview->addEndpointDialog()->nameField()->setText(QStringLiteral("Shop front"));
        overview->addEndpointDialog()->urlField()->setText(QStringLiteral("https://shop.example/health"));
        shoot(overview->addEndpointDialog(), QStringLiteral("dialog-add-endpoint"), name);
        overview->addEndpointDialog()->reject();

        auto& app = harness.app().appDelegate();
        app.openDashboardOrMakeKeyAndVisible();
        auto* dashboard = harness.window<DashboardWindow>(WindowKind::dashboard);
        dashboard->resize(1000, 560);
        shoot(dashboard, QStringLiteral("dashboard"), name);

        app.openPreferencesOrMakeKeyAndVisible();
        auto* preferences = harness.window<PreferencesWindow>(WindowKind::preferences);
        shoot(preferences, QStringLiteral("preferences-general"), name);
        preferences->toolbarView()->action(ToolbarDelegate::preferencesAboutIdentifier)->trigger();
        shoot(preferences, QStringLiteral("preferences-about"), name);

        UserActivity found{
            std::string(AppDelegate::rawValue(AppDelegate::Identifier::update)),
            {{std::string(UpdateActivity::statusKey), std::string(UpdateActivity::available)},
             {std::string(UpdateActivity::versionKey), "0.2.0"},
             {std::string(UpdateActivity::currentVersionKey), "0.1.0"},
             {std::string(UpdateActivity::releaseNotesURLKey), "https://example.org/notes"},
             {std::string(UpdateActivity::downloadURLKey), "https://example.org/kestrova.deb"}}};
        app.openUpdaterOrMakeKeyAndVisible(found);
        auto* update = harness.window<UpdateWindow>(WindowKind::update);
        QVERIFY(update);
        QCOMPARE(update->titleLabel()->text(), QStringLiteral("A new version of Kestrova is available!"));
        QVERIFY2(!update->checkButton()->isEnabled(), "no plug-in here: Check for Updates is off");
        shoot(update, QStringLiteral("software-update"), name);

        harness.app().windows().openSettings();
        SettingsDialog* settings = nullptr;
        for (auto* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<SettingsDialog*>(top); dialog && dialog->isVisible())
                settings = dialog;
        QVERIFY(settings);
        settings->row(QStringLiteral("licenses"))->click();
        shoot(settings, QStringLiteral("dialog-settings"), name);
        settings->close();

        // An account with nothing in it yet.
        harness.controller().setEndpoints(std::vector<std::shared_ptr<Endpoint>>{});
        harness.controller().setMeasures(std::vector<std::shared_ptr<Measure>>{});
        center.post(std::string(AppStateController::endpointsDidChange));
        center.post(std::string(AppStateController::measuresDidChange));
        QTRY_COMPARE_WITH_TIMEOUT(overview->sidebar()->model().rowCount(), 0, deadlineMs);
        shoot(overview, QStringLiteral("overview-empty"), name);

        // Signed out: the sign-in dialog over the overview.
        harness.controller().logout();
        QTRY_VERIFY_WITH_TIMEOUT(!harness.controller().isSignedIn(), deadlineMs);
        QTRY_VERIFY_WITH_TIMEOUT(overview->loginDialog(), deadlineMs);
        shoot(overview->loginDialog(), QStringLiteral("dialog-sign-in"), name);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(folder_));
        // Nothing answers there: the launch sync fails at once.
        environment_.set("KESTROVA_SERVICE_URL", "http://127.0.0.1:9");
        AppStateController::registerDefaults();
        joblark::UserDefaults::standard().set(false, AppStateController::kShouldAutoRefresh);
    }

    void everyWindowAndDialogInLightAndDark() {
        shootAll(QStringLiteral("light"), lightPalette());
        shootAll(QStringLiteral("dark"), darkPalette());
        QCOMPARE(lightness_.size(), std::size_t(12));
    }
};

} // namespace

std::unique_ptr<QObject> makeScreenshotTests() {
    return std::make_unique<ScreenshotTests>();
}

} // namespace kestrova::ui::tests

#include "ScreenshotTests.moc"
