#pragma once

// Notifications through the desktop's notification server on the session bus
// (org.freedesktop.Notifications), under Daubly's name and icon.

#include "platform/DesktopNotifications.h"

#include <QDBusConnection>

class FreedesktopNotifications final : public DesktopNotifications {
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus());

    void notify(const QString& title, const QString& body) override;

private:
    QDBusConnection m_bus;
};
