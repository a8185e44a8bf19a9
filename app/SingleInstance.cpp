#include "app/SingleInstance.h"

#include "platform/Logger.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>

namespace {
// How often a waiting start asks again.
constexpr std::chrono::milliseconds pollInterval(50);

const char* const pendingProperty = "pendingRequest";

const Logger& logger() {
    static const Logger instance("App");
    return instance;
}

// Every request this program sends is a word of letters: nothing else reaches the log.
bool isWord(const QByteArray& request) {
    return !request.isEmpty() && std::all_of(request.begin(), request.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}
} // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent)
    , m_directory(directory.isEmpty()
                      ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                      : std::move(directory)) {
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections >= maximumConnections) {
            if (!std::exchange(m_reportedCrowd, true))
                logger().error("Closed connections from other starts beyond %ld at once",
                               maximumConnections);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] {
            if (--m_connections == 0)
                m_reportedCrowd = false;
        });
        // What waits unread stays in the kernel's buffer, not ours.
        socket->setReadBufferSize(maximumRequestSize + 1);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_idleTimeout);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
    }
}

void SingleInstance::read(QLocalSocket* socket) {
    QByteArray line = socket->property(pendingProperty).toByteArray();
    line += socket->read(maximumRequestSize + 1 - line.size());
    const qsizetype end = line.indexOf('\n');
    if (end < 0) {
        if (line.size() <= maximumRequestSize) {
            socket->setProperty(pendingProperty, line);
            return;
        }
        logger().error("Refused a request from another start: longer than %ld bytes",
                       maximumRequestSize);
    }
    socket->disconnectFromServer();
    if (end < 0)
        return;
    const QByteArray request = line.left(end).trimmed();
    if (!isWord(request)) {
        logger().error("Refused a malformed request from another start");
    } else if (request == "activate") {
        Q_EMIT activationRequested();
    } else {
        Q_EMIT requestReceived(QString::fromLatin1(request));
    }
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

std::optional<qint64> SingleInstance::runningPid() const {
    QLockFile lock(lockPath());
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || pid <= 0)
        return std::nullopt;
    return pid;
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
