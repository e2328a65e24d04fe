#pragma once

// One running client per user: a start while one runs hands its request (come forward, perhaps
// select a resource) to that one over a local socket in the user's runtime directory, and ends.
// A socket left behind by a crash is noticed (nobody answers on it) and replaced.
//
// Wiring, in main() after QApplication and before any window:
//   SingleInstance instance;
//   instance.requested = [&](const InstanceRequest& r) { ... bring the window forward; with
//       r.selectId, selectResource(appDelegate, controller->state.get(), *r.selectId) ... };
//   if (instance.start(request) == SingleInstance::Role::handedOver) return 0;

#include "Presentation/DesktopPresence.hpp"

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace kestrova::ui {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    ///< this is the running instance now; requests arrive through `requested`
        handedOver, ///< another instance took the request: leave (status 0)
        alone       ///< neither was possible (logged): go on without the hand-over
    };

    /// "kestrova.socket" in the user's runtime directory ($XDG_RUNTIME_DIR).
    static QString defaultSocketPath();

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Hands `request` to a running instance (waiting at most `timeoutMs` for it to take it), or
    /// becomes the running one. Blocks; call before the event loop runs.
    Role start(const InstanceRequest& request, int timeoutMs = 3000);

    /// Called on the main thread for every valid request another start hands over.
    std::function<void(const InstanceRequest&)> requested;

    const QString& socketPath() const { return socketPath_; }

private:
    enum class HandOver { taken, nobody, noAnswer };
    HandOver handOver(const InstanceRequest& request, int timeoutMs);
    bool listen(bool replacingStale);
    void accept();

    QString socketPath_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace kestrova::ui
