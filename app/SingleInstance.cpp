#include "app/SingleInstance.h"

#include "platform/Logger.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <algorithm>

namespace {
// How often a waiting start asks again.
constexpr std::chrono::milliseconds pollInterval(50);
} // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent)
    , m_directory(directory.isEmpty()
                      ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                      : std::move(directory)) {
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->readAll().trimmed();
                if (request == "activate")
                    Q_EMIT activationRequested();
                else if (!request.isEmpty())
                    Q_EMIT requestReceived(QString::fromUtf8(request));
                socket->disconnectFromServer();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    release();
}

QString SingleInstance::lockPath() const {
    return m_directory + "/app.daubly.Daubly.lock";
}
QString SingleInstance::socketPath() const {
    return m_directory + "/app.daubly.Daubly.socket";
}

SingleInstance::Result SingleInstance::acquire(std::chrono::milliseconds waitForPrevious) {
    QDir().mkpath(m_directory);
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock left by a crashed instance is stale: QLockFile checks its pid.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        listen(); // a failure is logged; this instance still runs
        return Result::primary;
    }

    // Nobody answers: the holder is either starting (it locks, then listens) or on its
    // way out (a relaunch: it stops listening, then unlocks). Keep asking it and keep
    // trying the lock, whichever comes first.
    const auto deadline = std::chrono::steady_clock::now() + waitForPrevious;
    while (true) {
        if (tellRunningInstance())
            return Result::alreadyRunning;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0))
            return Result::timedOut;
        if (m_lock->tryLock(int(std::min(left, pollInterval).count()))) {
            listen();
            return Result::primary;
        }
    }
}

bool SingleInstance::listen() {
    QLocalServer::removeServer(socketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(socketPath())) {
        Logger("App").error("Could not listen for other starts of Daubly on %{public}s: %{public}s",
                            socketPath(), m_server.errorString());
        return false;
    }
    return true;
}

bool SingleInstance::tellRunningInstance() const {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(m_request + '\n');
    const bool sent = socket.waitForBytesWritten(1000);
    socket.waitForDisconnected(1000);
    return sent;
}

void SingleInstance::release() {
    if (m_server.isListening())
        m_server.close();
    if (m_lock && m_lock->isLocked())
        m_lock->unlock();
}
