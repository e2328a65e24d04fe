#include "TestClasses.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/Timer.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

namespace kestrova::ui::tests {
namespace {

constexpr int deadlineMs = 5000;

// Nothing here pumps Joblark's own loop: all of it must arrive through Qt's event processing.
class MainLoopTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void taskChainEndingInUITaskCompletes() {
        std::atomic<bool> backgroundRan{false};
        bool uiRan = false, uiOnGuiThread = false, backgroundWasOffMain = false;
        auto background = std::make_shared<joblark::BlockTask>(false, [&] {
            backgroundWasOffMain = !joblark::MainThread::isCurrent();
            backgroundRan = true;
        });
        auto ui = std::make_shared<joblark::UITask>(false, [&] {
            uiOnGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            uiRan = backgroundRan.load();
        });
        joblark::TaskController::performInSeries(std::vector<joblark::TaskPtr>{background, ui}, false);
        QTRY_VERIFY_WITH_TIMEOUT(uiRan, deadlineMs);
        QVERIFY(uiOnGuiThread);
        QVERIFY(backgroundWasOffMain);
    }

    void repeatingTimerOnTheMainLoopFires() {
        int fired = 0;
        auto timer = joblark::Timer::scheduledTimer(0.01, true, [&](joblark::Timer&) {
            QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
            ++fired;
        });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, deadlineMs);
        timer->invalidate();
        const int atInvalidate = fired;
        // A one-shot timer after it shows the repeating one has stopped, without a sleep.
        bool marker = false;
        auto after = joblark::Timer::scheduledTimer(0.05, false, [&](joblark::Timer&) { marker = true; });
        QTRY_VERIFY_WITH_TIMEOUT(marker, deadlineMs);
        QCOMPARE(fired, atInvalidate);
    }

    void aLaterTimerDoesNotHoldBackAnEarlierOne() {
        // The Qt timer is armed for the earliest date: adding a nearer timer must re-arm it.
        bool near = false, far = false;
        auto distant = joblark::Timer::scheduledTimer(30, false, [&](joblark::Timer&) { far = true; });
        auto soon = joblark::Timer::scheduledTimer(0.02, false, [&](joblark::Timer&) { near = true; });
        QTRY_VERIFY_WITH_TIMEOUT(near, deadlineMs);
        QVERIFY(!far);
        distant->invalidate();
    }

    void otherThreadsReachTheMainThread() {
        // runAsync from a worker, runSync from a plain thread (it blocks until the GUI thread ran it),
        // and work queued straight on the main RunLoop.
        std::atomic<int> ran{0};
        std::thread poster([&] {
            joblark::MainThread::runAsync([&] { ++ran; });
            joblark::MainThread::runSync([&] { ++ran; });
            joblark::RunLoop::main()->perform([&] { ++ran; });
        });
        QTRY_COMPARE_WITH_TIMEOUT(ran.load(), 3, deadlineMs);
        poster.join();
    }
};

} // namespace

std::unique_ptr<QObject> makeMainLoopTests() {
    return std::make_unique<MainLoopTests>();
}

} // namespace kestrova::ui::tests

#include "MainLoopTests.moc"
