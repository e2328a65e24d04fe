#pragma once

// Joblark's main thread on the Qt event loop: work posted with MainThread::runAsync (UITask,
// ensureMainThread) arrives as events, and the main RunLoop's work and timers (the automatic refresh
// is a joblark::Timer) are serviced from the Qt loop, woken by the RunLoop's hook, never by polling.

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

namespace joblark {
class RunLoop;
}

namespace kestrova::ui {

class MainLoopIntegration : public QObject {
    Q_OBJECT
public:
    /// Installs the executor and the hook; construct it on the GUI thread after the QApplication.
    /// Only one may exist at a time.
    explicit MainLoopIntegration(QObject* parent = nullptr);
    /// Restores Joblark's own main loop; work still queued as events is dropped (a waiting runSync
    /// is told so instead of hanging).
    ~MainLoopIntegration() override;

protected:
    void customEvent(QEvent* event) override;

private:
    void scheduleService();
    void service();

    struct Target;
    std::shared_ptr<joblark::RunLoop> loop_;
    std::shared_ptr<Target> target_;
    QTimer timer_;
    // Set from any thread by the hook; coalesces many wake-ups into one queued service.
    std::shared_ptr<std::atomic<bool>> serviceQueued_;
};

} // namespace kestrova::ui
