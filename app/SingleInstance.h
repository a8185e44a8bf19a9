#pragma once

// One Daubly at a time. The first instance holds a lock file in the runtime folder and
// listens on a local socket beside it; a second start tells it to come forward and
// exits, so there is never a second tray icon or a second hot key. An instance started
// by a relaunch finds no one listening (the old one is quitting) and waits a short
// time for the lock to be released.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <chrono>
#include <memory>

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Result { primary, alreadyRunning, timedOut };

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

Q_SIGNALS:
    // Another start asked the running instance to come forward.
    void activationRequested();
    // Another start sent a request other than "activate".
    void requestReceived(const QString& request);

private:
    bool listen();
    bool tellRunningInstance() const;

    QString m_directory;
    QByteArray m_request = QByteArrayLiteral("activate");
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
