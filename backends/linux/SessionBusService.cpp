#include "backends/linux/SessionBusService.h"

#include "platform/Logger.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

namespace {

constexpr int callTimeoutMs = 5000;

QString methodName(RemoteCommand command) {
    switch (command) {
    case RemoteCommand::pick:
        return QStringLiteral("Pick");
    case RemoteCommand::showSettings:
        return QStringLiteral("ShowSettings");
    case RemoteCommand::quit:
        return QStringLiteral("Quit");
    }
    return {};
}

} // namespace

SessionBusService::SessionBusService(std::function<void(RemoteCommand)> perform,
                                     QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_perform(std::move(perform))
    , m_bus(std::move(bus)) {}

SessionBusService::~SessionBusService() {
    unregisterService();
}

bool SessionBusService::registerService() {
    QDBusConnection& bus = m_bus;
    Logger logger("App");
    if (!bus.isConnected()) {
        logger.log("No session bus: other starts of Daubly reach it through its socket only");
        return false;
    }
    if (!bus.registerObject(QString::fromLatin1(objectPath), this,
                            QDBusConnection::ExportScriptableSlots)) {
        logger.error("Could not export %{public}s on the session bus", objectPath);
        return false;
    }
    // No queueing: a second owner waiting in line would only receive calls meant for us.
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(serviceName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QString::fromLatin1(objectPath));
        logger.error("Could not own %{public}s on the session bus: %{public}s", serviceName,
                     reply.isValid() ? QStringLiteral("the name has another owner")
                                     : reply.error().message());
        return false;
    }
    m_registered = true;
    return true;
}

void SessionBusService::unregisterService() {
    if (!m_registered) {
        return;
    }
    m_registered = false;
    m_bus.unregisterService(QString::fromLatin1(serviceName));
    m_bus.unregisterObject(QString::fromLatin1(objectPath));
}

QString SessionBusService::otherOwnerMessage() {
    return QStringLiteral("Another program owns %1 on the session bus, so Daubly can neither "
                          "start nor reach a running Daubly there.")
        .arg(QLatin1String(serviceName));
}

SessionBusService::Delivery SessionBusService::send(RemoteCommand command,
                                                    std::optional<qint64> runningPid,
                                                    QDBusConnection bus) {
    if (!bus.isConnected()) {
        return Delivery::noInstance;
    }
    const auto owned = bus.interface()->isServiceRegistered(QString::fromLatin1(serviceName));
    if (!owned.isValid() || !owned.value()) {
        return Delivery::noInstance;
    }
    // Any program may take the name; only the process that holds Daubly's lock is Daubly.
    const auto owner = bus.interface()->servicePid(QString::fromLatin1(serviceName));
    if (!owner.isValid() || !runningPid || qint64(owner.value()) != *runningPid) {
        Logger("App").error("%{public}s is owned by process %ld on the session bus, which is "
                            "not the running Daubly",
                            serviceName, owner.isValid() ? long(owner.value()) : -1L);
        return Delivery::otherOwner;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
        QString::fromLatin1(serviceName), methodName(command));
    // The instance is there: never start another one through the bus.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        Logger("App").error("Daubly did not take %{public}s on the session bus: %{public}s",
                            methodName(command), reply.errorMessage());
        return Delivery::failed;
    }
    return Delivery::delivered;
}

void SessionBusService::Pick() {
    queue(RemoteCommand::pick);
}

void SessionBusService::ShowSettings() {
    queue(RemoteCommand::showSettings);
}

void SessionBusService::Quit() {
    queue(RemoteCommand::quit);
}

void SessionBusService::queue(RemoteCommand command) {
    // The reply leaves first: Quit() must answer before the instance goes.
    QTimer::singleShot(0, this, [this, command] {
        if (m_perform) {
            m_perform(command);
        }
    });
}
