#pragma once

// Daubly on the session bus: the running instance owns app.daubly.Daubly and answers
// Pick(), ShowSettings() and Quit() on /app/daubly/Daubly, so that any desktop can bind
// a key to a pick and a D-Bus service file can start Daubly on demand. A later start
// of daubly hands its option to that instance through send().

#include "platform/RemoteCommand.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <optional>

class SessionBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.daubly.Daubly")

public:
    static constexpr auto serviceName = "app.daubly.Daubly";
    static constexpr auto objectPath = "/app/daubly/Daubly";

    // `perform` runs on the main thread after the method call has been answered.
    explicit SessionBusService(std::function<void(RemoteCommand)> perform,
                               QDBusConnection bus = QDBusConnection::sessionBus(),
                               QObject* parent = nullptr);
    ~SessionBusService() override;

    // Takes the name and exports the methods; false (and one log line) when there is no
    // session bus or another process owns the name.
    bool registerService();
    // Gives the name up, so that a start that follows ours is not sent to a quitting
    // instance.
    void unregisterService();

    enum class Delivery { delivered, noInstance, otherOwner, failed };
    // Sends `command` to the instance that owns the name, the process `runningPid`
    // (the one that holds Daubly's lock). noInstance when there is no bus or no owner:
    // this never starts Daubly through the bus. otherOwner when another process owns
    // the name: it is not sent a command meant for Daubly.
    static Delivery send(RemoteCommand command, std::optional<qint64> runningPid,
                         QDBusConnection bus = QDBusConnection::sessionBus());
    // What a start says before it stops with status 1 for otherOwner.
    static QString otherOwnerMessage();

public Q_SLOTS:
    Q_SCRIPTABLE void Pick();
    Q_SCRIPTABLE void ShowSettings();
    Q_SCRIPTABLE void Quit();

private:
    void queue(RemoteCommand command);

    std::function<void(RemoteCommand)> m_perform;
    QDBusConnection m_bus;
    bool m_registered = false;
};
