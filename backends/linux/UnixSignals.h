#pragma once

// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the main thread, so that the
// desktop ending the session, a `kill` or Ctrl+C quits Daubly the way its menu does
// instead of killing it mid-pick. The handler only writes a byte into a socket pair;
// the main loop reads it.

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <memory>

class UnixSignals : public QObject {
    Q_OBJECT

public:
    // One per process: the handlers write to this object's socket.
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

    UnixSignals(const UnixSignals&) = delete;
    UnixSignals& operator=(const UnixSignals&) = delete;

    // False when the socket pair or a handler could not be set up (logged).
    bool isWatching() const { return m_notifier != nullptr; }

Q_SIGNALS:
    // `number` is the signal received (SIGTERM, SIGINT or SIGHUP).
    void terminationRequested(int number);

private:
    void readSignals();

    std::array<int, 2> m_sockets{-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};
