// Daubly's name on the session bus: a command goes only to the process that holds
// Daubly's lock, never to another program that took the name.

#include "backends/linux/SessionBusService.h"
#include "platform/Logger.h"
#include "support/PrivateBus.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(SessionBusServiceTest, ACommandGoesOnlyToTheProcessThatHoldsTheLock) {
    PrivateBus bus;
    ASSERT_TRUE(bus.isConnected());
    EXPECT_EQ(SessionBusService::send(RemoteCommand::pick, std::nullopt, bus.connection()),
              SessionBusService::Delivery::noInstance);

    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    other.setProcessEnvironment(environment);
    // A program posing as Daubly: it owns the name and answers every Pick.
    other.start(QStringLiteral(DAUBLY_PYTHON), {QStringLiteral(DAUBLY_BUS_IMPOSTOR)});
    ASSERT_TRUE(waitUntil([&] {
        other.waitForReadyRead(50);
        return other.canReadLine() || other.state() == QProcess::NotRunning;
    }));
    ASSERT_EQ(other.readLine().trimmed(), "ready");

    struct Case {
        const char* name;
        std::optional<qint64> lockHolder;
        SessionBusService::Delivery delivery;
    } cases[] = {
        {"no Daubly runs", std::nullopt, SessionBusService::Delivery::otherOwner},
        {"a Daubly runs, the name is another's", qint64(::getpid()),
         SessionBusService::Delivery::otherOwner},
        // The probe: the same program, known as the lock's holder, gets the call.
        {"the name's owner holds the lock", other.processId(),
         SessionBusService::Delivery::delivered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedLogCapture log;
        EXPECT_EQ(SessionBusService::send(RemoteCommand::pick, c.lockHolder, bus.connection()),
                  c.delivery);
        const bool delivered = c.delivery == SessionBusService::Delivery::delivered;
        EXPECT_EQ(log.messages("App").size(), delivered ? 0u : 1u);
        other.waitForReadyRead(delivered ? 5000 : 200);
        EXPECT_EQ(other.readAll().trimmed(), delivered ? "Pick" : "");
    }
    other.terminate();
    other.waitForFinished(5000);
}

} // namespace
