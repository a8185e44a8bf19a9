#pragma once

// A session bus of the test's own (dbus-daemon with a minimal configuration, so that no
// real portal can be started on it) and, on request, the mock portal service on it
// (support/mock_portal.py, python3-dbus).

#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

class PrivateBus {
public:
    PrivateBus() {
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                       .arg(m_dir.path())
                       .toUtf8());
        file.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (!waitUntil([this] {
                m_daemon.waitForReadyRead(50);
                return m_daemon.canReadLine() || m_daemon.state() == QProcess::NotRunning;
            }))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        static int count = 0;
        m_name = QStringLiteral("private-bus-%1").arg(++count);
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, m_name));
    }

    ~PrivateBus() {
        stopPortal();
        m_bus.reset();
        QDBusConnection::disconnectFromBus(m_name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    bool isConnected() const { return m_bus && m_bus->isConnected(); }
    QDBusConnection connection() const { return *m_bus; }
    QString address() const { return m_address; }

    // Starts the mock portal with `arguments` and waits until it owns its name.
    bool startPortal(const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_portal.setProcessEnvironment(environment);
        m_portal.setProcessChannelMode(QProcess::ForwardedChannels);
        m_portal.start(QStringLiteral(DAUBLY_PYTHON),
                       QStringList{QStringLiteral(DAUBLY_MOCK_PORTAL)} + arguments);
        return waitUntil([this] {
                   return m_portal.state() == QProcess::NotRunning ||
                          m_bus->interface()->isServiceRegistered(
                              QStringLiteral("org.freedesktop.portal.Desktop"));
               }) &&
               m_portal.state() == QProcess::Running;
    }

    void stopPortal() {
        if (m_portal.state() == QProcess::NotRunning)
            return;
        m_portal.terminate();
        m_portal.waitForFinished(5000);
    }

    // A call of the mock's control interface.
    QDBusMessage control(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                           QStringLiteral("/org/freedesktop/portal/desktop"),
                                           QStringLiteral("app.daubly.test.MockPortal"), method);
        call.setArguments(arguments);
        return m_bus->call(call);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_portal;
    QString m_address;
    QString m_name;
    std::unique_ptr<QDBusConnection> m_bus;
};
