#include "backends/PlatformLoader.h"

#include "backends/null/NullPlatformServices.h"
#include "backends/wayland/WaylandPlatformServices.h"
#include "backends/x11/X11ClipboardKeeper.h"
#include "backends/x11/X11PlatformServices.h"
#include "backends/x11/X11StartupNotification.h"
#include "platform/Logger.h"

#include <QGuiApplication>
#include <cstring>

std::unique_ptr<PlatformServices> loadPlatform() {
    const Logger logger("App");
    const QByteArray forced = qgetenv("DAUBLY_PLATFORM");
    std::unique_ptr<PlatformServices> services;
    // Qt's platform plugin decides: QT_QPA_PLATFORM=xcb still runs on X11 where the user
    // wants it.
    if (forced != "null")
        services = WaylandPlatformServices::create();
    if (!services && forced != "null")
        services = X11PlatformServices::create();
    if (!services) {
        services = NullPlatformServices::create();
        if (forced != "null")
            logger.error("No backend fits this session (the display is %{public}s): global "
                         "shortcuts and screen capture are unavailable",
                         QGuiApplication::platformName());
    }
    logger.log("Platform backend: %{public}s", services->name());
    return services;
}

std::optional<int> runHelperProcess(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], X11ClipboardKeeper::keepOption) == 0)
        return X11ClipboardKeeper::serve(QByteArray(argv[2]));
    return std::nullopt;
}

LaunchFeedback LaunchFeedback::take() {
    LaunchFeedback feedback;
    feedback.m_id = X11StartupNotification::startupId();
    return feedback;
}

void LaunchFeedback::complete() const {
    // Over Wayland the launcher's activation token ends with the process: nothing to send.
    X11StartupNotification::complete(m_id);
}
