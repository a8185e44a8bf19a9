#include "backends/linux/FreedesktopNotifications.h"

#include "platform/Logger.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus)
    : m_bus(std::move(bus)) {}

void FreedesktopNotifications::notify(const QString& title, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1:
    // the server's default).
    call.setArguments(
        {QStringLiteral("Daubly"), 0u, QStringLiteral("app.daubly.Daubly"), title, body,
         QStringList(),
         QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("app.daubly.Daubly")}}, -1});
    // Never waited for: the user goes on while the server shows it.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, title] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            Logger("App").error("Could not show the notification \"%{public}s\": "
                                "%{public}s",
                                title, reply.error().message());
    });
}
