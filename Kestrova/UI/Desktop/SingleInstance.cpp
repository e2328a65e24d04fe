#include "UI/Desktop/SingleInstance.hpp"

#include "joblark/Foundation/Log.hpp"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

namespace kestrova::ui {
namespace {

const joblark::Logger& desktopLog() {
    static const joblark::Logger log("Kestrova", "Desktop");
    return log;
}

/// How long a connected peer may take to send its line before it is dropped.
constexpr int kPeerTimeoutMs = 2000;
const QByteArray kTaken = "ok\n";

} // namespace

QString SingleInstance::defaultSocketPath() {
    // Qt's runtime location is $XDG_RUNTIME_DIR, or a private folder of its making when unset.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/kestrova.socket");
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::start(const InstanceRequest& request, int timeoutMs) {
    if (socketPath_.isEmpty()) {
        desktopLog().notice("[DESKTOP] No runtime directory: every start opens its own window.");
        return Role::alone;
    }
    switch (handOver(request, timeoutMs)) {
    case HandOver::taken:
        return Role::handedOver;
    case HandOver::noAnswer:
        desktopLog().notice("[DESKTOP] The running instance did not answer; starting another.");
        return Role::alone;
    case HandOver::nobody:
        break;
    }
    if (listen(false))
        return Role::primary;
    if (server_->serverError() == QAbstractSocket::AddressInUseError) {
        // Another start may have begun listening since we looked; else the file is what a crash
        // left behind, and is replaced.
        if (handOver(request, timeoutMs) == HandOver::taken)
            return Role::handedOver;
        if (listen(true))
            return Role::primary;
    }
    desktopLog().notice("[DESKTOP] Cannot listen on " + socketPath_.toStdString() + ": " +
                        server_->errorString().toStdString() + "; every start opens its own window.");
    server_.reset();
    return Role::alone;
}

SingleInstance::HandOver SingleInstance::handOver(const InstanceRequest& request, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return HandOver::nobody; // no socket, or one nobody listens on
    socket.write(QByteArray::fromStdString(encodeInstanceRequest(request)));
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return HandOver::noAnswer;
    QByteArray answer;
    while (!answer.endsWith('\n') && answer.size() < kTaken.size()) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return HandOver::noAnswer;
        answer += socket.read(kTaken.size() - answer.size());
    }
    return answer == kTaken ? HandOver::taken : HandOver::noAnswer;
}

bool SingleInstance::listen(bool replacingStale) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (replacingStale)
        QLocalServer::removeServer(socketPath_);
    if (!server_->listen(socketPath_))
        return false;
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        // The server owns the peer; it goes when it disconnects or is too slow.
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        QTimer::singleShot(kPeerTimeoutMs, peer, [peer] { peer->abort(); });
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            const qint64 newline = peer->peek(static_cast<qint64>(maximumInstanceRequestSize)).indexOf('\n');
            if (newline < 0) {
                if (peer->bytesAvailable() >= static_cast<qint64>(maximumInstanceRequestSize))
                    peer->abort(); // too long to be ours
                return;
            }
            const QByteArray line = peer->read(newline + 1);
            const auto request = decodeInstanceRequest(line.toStdString());
            if (!request) {
                desktopLog().notice("[DESKTOP] Ignored a malformed request from another start.");
                peer->abort();
                return;
            }
            peer->write(kTaken);
            peer->disconnectFromServer();
            if (requested)
                requested(*request);
        });
    }
}

} // namespace kestrova::ui
