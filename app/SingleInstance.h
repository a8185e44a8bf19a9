#pragma once

// One Daubly at a time. The first instance holds a lock file in the runtime folder and
// listens on a local socket beside it; a second start tells it to come forward and
// exits, so there is never a second tray icon or a second hot key. An instance started
// by a relaunch finds no one listening (the old one is quitting) and waits a short
// time for the lock to be released.
//
// The socket is open to every process of the user, so what arrives is read with care:
// a request is one line of a few letters, read across as many writes as it takes; a
// longer or malformed one is refused and logged without its bytes; a connection that
// has sent no line in a few seconds is closed, and only a few are served at once.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <chrono>
#include <memory>
#include <optional>

class QLocalSocket;

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Result { primary, alreadyRunning, timedOut };

    // The longest request line, its newline left out.
    static constexpr qsizetype maximumRequestSize = 32;
    // Connections served at once; more are closed as they come.
    static constexpr int maximumConnections = 8;

    // `directory` defaults to $XDG_RUNTIME_DIR (Qt's runtime location).
    explicit SingleInstance(QString directory = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    Result acquire(std::chrono::milliseconds waitForPrevious = std::chrono::milliseconds(5000));
    // Stops answering; called when quitting so that a relaunched instance waits for us.
    void release();

    // What acquire() tells a running instance; "activate" unless set.
    void setRequest(const QByteArray& request) { m_request = request; }

    QString lockPath() const;
    QString socketPath() const;
    // The process that holds the lock, if one does.
    std::optional<qint64> runningPid() const;

    // How long a connection may stay without sending its line.
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }

Q_SIGNALS:
    // Another start asked the running instance to come forward.
    void activationRequested();
    // Another start sent a request other than "activate".
    void requestReceived(const QString& request);

private:
    bool listen();
    bool tellRunningInstance() const;
    void accept();
    void read(QLocalSocket* socket);

    QString m_directory;
    QByteArray m_request = QByteArrayLiteral("activate");
    std::unique_ptr<QLockFile> m_lock;
    std::chrono::milliseconds m_idleTimeout{3000};
    // Before the server: its connections count themselves out as it closes them.
    int m_connections = 0;
    bool m_reportedCrowd = false;
    QLocalServer m_server;
};
