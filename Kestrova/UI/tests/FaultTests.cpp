// A service that fails every API request (quillnest-local --faults=1): the window shows the cached
// state and says it is offline, a refresh the user asks for ends in one alert however often it is
// asked, the automatic refresh raises none, and the cache keeps everything.

#include "Harness.hpp"
#include "TestClasses.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <QApplication>
#include <QTest>

namespace kestrova::ui::tests {
namespace {

constexpr int deadlineMs = 10'000;

class FaultTests : public QObject {
    Q_OBJECT

    joblark::testing::TemporaryDirectory folder_, serviceFolder_;
    joblark::testing::ScopedEnvironment environment_;
    std::unique_ptr<DemoService> service_;
    std::unique_ptr<AppHarness> harness_;
    int syncsEnded_ = 0;
    joblark::ObserverToken syncEnds_;

    OverviewWindow* overview() { return harness_->overview(); }
    int visibleAlerts() {
        int count = 0;
        for (auto* top : QApplication::topLevelWidgets())
            for (auto* box : top->findChildren<QMessageBox*>())
                count += box->isVisible() ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void initTestCase() {
        // A slow body is a success that comes late; this seed's first 60 faults have none, so every
        // request fails (errors, gateway answers and dropped connections).
        service_ = std::make_unique<DemoService>(
            serviceFolder_.path(),
            std::vector<std::string>{"--no-probe", "--faults=1", "--faults-seed", "61012"});
        QVERIFY(service_->isRunning());
        environment_.set("KESTROVA_SERVICE_URL", service_->url);
        AppStateController::registerDefaults();
        // A timer that never fires by itself: the test fires it.
        joblark::UserDefaults::standard().set(true, AppStateController::kShouldAutoRefresh);
        joblark::UserDefaults::standard().set(3600.0, AppStateController::kRefreshInterval);
        QVERIFY(!demoState()->writeToFile(folder_.path() / "AppState.plist"));
        harness_ = std::make_unique<AppHarness>(folder_.path());
        harness_->controller().setCredentials(service_->token);
        syncEnds_ = joblark::NotificationCenter::defaultCenter().addObserver(
            std::string(AppStateController::userDidChange), std::nullopt,
            [this](const joblark::Notification&) { ++syncsEnded_; });
        harness_->app().launch();
        QVERIFY(QTest::qWaitForWindowExposed(overview()));
    }

    void cleanupTestCase() {
        syncEnds_.remove();
        harness_.reset();
        service_.reset();
    }

    void theCachedStateShowsAtOnceAndTheWindowSaysItIsOffline() {
        QCOMPARE(rowNames(*overview()->sidebar()).size(), std::size_t(8));
        QTRY_VERIFY_WITH_TIMEOUT(overview()->sidebar()->offlineNotice()->isVisible(), serviceDeadlineMs);
        // "Offline" or "Not refreshed (why)", as the last failure was; either way the data is dated.
        QVERIFY(overview()->sidebar()->offlineNotice()->text().contains(QStringLiteral(": data from ")));
        QCOMPARE(visibleAlerts(), 0); // nobody asked for the first sync
        QVERIFY(!overview()->loginDialog());
    }

    void aRefreshTheUserAsksForAlertsOnceHoweverOftenAsked() {
        overview()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(overview()));
        const int before = syncsEnded_;
        QTest::keyClick(overview(), Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(overview(), Qt::Key_F5);
        QTRY_COMPARE_WITH_TIMEOUT(syncsEnded_, before + 2, serviceDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(visibleAlerts(), 1, deadlineMs);
        auto* box = openAlert(overview());
        QVERIFY(box);
        QVERIFY(buttonNamed(*box, QStringLiteral("Done")));
        buttonNamed(*box, QStringLiteral("Done"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(visibleAlerts(), 0, deadlineMs);
    }

    void theAutomaticRefreshRaisesNoAlert() {
        QVERIFY(harness_->controller().refreshTimer);
        const int before = syncsEnded_;
        harness_->controller().refreshTimer->fire();
        QTRY_COMPARE_WITH_TIMEOUT(syncsEnded_, before + 1, serviceDeadlineMs);
        QCoreApplication::processEvents(); // whatever the sync's end posted has been handled
        QCOMPARE(visibleAlerts(), 0);
        QVERIFY(overview()->sidebar()->offlineNotice()->isVisible());
    }

    void nothingIsLost() {
        QCOMPARE(rowNames(*overview()->sidebar()).size(), std::size_t(8));
        harness_->controller().persist();
        auto cached = AppState::readFromFile(folder_.path() / "AppState.plist");
        QVERIFY(cached);
        QCOMPARE((*cached)->endpoints->size(), std::size_t(5));
        QCOMPARE((*cached)->measures->size(), std::size_t(3));
        QVERIFY(harness_->controller().isSignedIn());
    }
};

} // namespace

std::unique_ptr<QObject> makeFaultTests() {
    return std::make_unique<FaultTests>();
}

} // namespace kestrova::ui::tests

#include "FaultTests.moc"
