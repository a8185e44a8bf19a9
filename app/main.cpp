#include "app/ColorHistory.h"
#include "app/CommandLine.h"
#include "app/SharedInstances.h"
#include "app/SingleInstance.h"
#include "app/TintwellApp.h"
#include "backends/PlatformLoader.h"
#include "backends/linux/JournalLogSink.h"
#include "backends/linux/SessionBusService.h"
#include "backends/linux/UnixSignals.h"
#include "platform/Logger.h"
#include "platform/QtMessageLog.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// How a command travels over the local socket when there is no session bus.
QByteArray socketRequest(RemoteCommand command) {
    return command == RemoteCommand::showSettings ? QByteArrayLiteral("activate")
                                                  : remoteCommandName(command).toUtf8();
}

} // namespace

int main(int argc, char** argv) {
    // The process a quitting Daubly leaves behind to keep its copy on the clipboard.
    if (const auto status = runHelperProcess(argc, argv)) {
        return *status;
    }
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const CommandLine commandLine = CommandLine::parse(arguments);
    if (commandLine.error) {
        print(stderr, *commandLine.error + QStringLiteral("\n") + CommandLine::usage());
        return CommandLine::usageExitStatus;
    }
    switch (commandLine.action) {
    case CommandLine::Action::printVersion:
        print(stdout, CommandLine::versionText() + QStringLiteral("\n"));
        return 0;
    case CommandLine::Action::printHelp:
        print(stdout, CommandLine::usage());
        return 0;
    default:
        break;
    }
    const RemoteCommand command = commandLine.remoteCommand().value_or(RemoteCommand::showSettings);

    const LaunchFeedback launchFeedback = LaunchFeedback::take();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Daubly"));
    QApplication::setApplicationVersion(QStringLiteral(DAUBLY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.daubly.Daubly"));
    QApplication::setWindowIcon(TintwellApp::applicationIcon());
    // A tray application: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    Logger::setSink(JournalLogSink::systemSink());
    installQtMessageLog();

    // A running instance on the session bus takes the command; without a bus, or when
    // the instance has none, the local socket carries it.
    switch (SessionBusService::send(command, SingleInstance().runningPid())) {
    case SessionBusService::Delivery::delivered:
        launchFeedback.complete();
        return 0;
    case SessionBusService::Delivery::otherOwner:
        print(stderr, SessionBusService::otherOwnerMessage() + QStringLiteral("\n"));
        return 1;
    case SessionBusService::Delivery::failed:
        std::fputs("Daubly is running but does not answer on the session bus.\n", stderr);
        return 1;
    case SessionBusService::Delivery::noInstance:
        break;
    }
    SingleInstance instance;
    instance.setRequest(socketRequest(command));
    switch (instance.acquire()) {
    case SingleInstance::Result::primary:
        if (command == RemoteCommand::quit) {
            std::fputs("Daubly is not running.\n", stderr);
            launchFeedback.complete();
            return 0;
        }
        break;
    case SingleInstance::Result::alreadyRunning:
        if (commandLine.action == CommandLine::Action::run) {
            std::fputs("Daubly is already running; it was asked to come forward.\n", stderr);
        }
        launchFeedback.complete();
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
    QObject::connect(
        &instance, &SingleInstance::requestReceived, &app, [&app](const QString& request) {
            if (const auto received = remoteCommandFromName(request)) {
                app.perform(*received);
            } else {
                Logger("App").error("Unknown request from another start: %{public}s", request);
            }
        });
    SessionBusService bus([&app](RemoteCommand received) { app.perform(received); });
    bus.registerService();
    UnixSignals signals;
    QObject::connect(&signals, &UnixSignals::terminationRequested, &app, [&app](int number) {
        Logger("App").log("Signal %ld received", number);
        app.quit();
    });
    // The copy outlives us; a relaunched instance may take over as soon as we begin to quit.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &instance, [&] {
        platform->keepClipboardAfterExit();
        bus.unregisterService();
        instance.release();
    });
    Logger("App").log("Daubly %{public}s (%{public}s) started", DAUBLY_VERSION,
                      DAUBLY_BUILD_NUMBER);
    // Started to pick or to show Settings: once launching has finished (the delegate's
    // own step is queued first).
    if (commandLine.action == CommandLine::Action::pick ||
        commandLine.action == CommandLine::Action::showSettings) {
        QTimer::singleShot(0, &app, [&app, command] { app.perform(command); });
    }
    return application.exec();
}
