#include "app/ColorHistory.h"
#include "app/SharedInstances.h"
#include "app/SingleInstance.h"
#include "app/TintwellApp.h"
#include "backends/PlatformLoader.h"
#include "backends/linux/JournalLogSink.h"
#include "platform/Logger.h"
#include "platform/QtMessageLog.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Daubly"));
    QApplication::setApplicationVersion(QStringLiteral(DAUBLY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.daubly.Daubly"));
    // A tray application: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    Logger::setSink(JournalLogSink::systemSink());
    installQtMessageLog();

    SingleInstance instance;
    switch (instance.acquire()) {
    case SingleInstance::Result::primary:
        break;
    case SingleInstance::Result::alreadyRunning:
        std::fputs("Daubly is already running; it was asked to come forward.\n", stderr);
        return 0;
    case SingleInstance::Result::timedOut:
        std::fputs("Daubly is already running but does not answer; not starting another.\n",
                   stderr);
        return 1;
    }

    // A runaway history in the settings file costs nothing beyond what the menu shows.
    UserDefaults::setStandardReadLimits(
        {.arrayLengths = {{ColorHistory::storageKey(), qsizetype(ColorHistory::capacity)}}});
    // Never destroyed: the shared instances keep it, and at exit Qt's X connection is
    // gone before static destructors run.
    PlatformServices* platform = loadPlatform().release();
    configureSharedInstances(*platform);

    TintwellApp app;
    QObject::connect(&instance, &SingleInstance::activationRequested, &app,
                     &TintwellApp::openSettings);
    // Let a relaunched instance take over as soon as we begin to quit.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &instance,
                     &SingleInstance::release);
    Logger("App").log("Daubly %{public}s (%{public}s) started", DAUBLY_VERSION,
                      DAUBLY_BUILD_NUMBER);
    return application.exec();
}
