#include "platform/QtMessageLog.h"

#include "platform/Logger.h"

#include <QString>
#include <cstring>
#include <utility>

namespace {

QtMessageHandler previousHandler = nullptr;

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (isLoggedQtMessage(type, context.category)) {
        static const Logger logger("Qt");
        const bool plain = !context.category || std::strcmp(context.category, "default") == 0;
        if (plain)
            logger.error("%{public}s", message);
        else
            logger.error("%{public}s: %{public}s", context.category, message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

bool isLoggedQtMessage(QtMsgType type, const char* category) {
    switch (type) {
    case QtCriticalMsg:
    case QtFatalMsg:
        return true;
    case QtWarningMsg:
        // The platform plugin's categories, and Qt's plain warnings: the broken display
        // connection is one of those (Daubly's own code logs through Logger instead).
        return !category || std::strcmp(category, "default") == 0 ||
               std::strncmp(category, "qt.qpa.", 7) == 0;
    default:
        return false;
    }
}

void installQtMessageLog() {
    static bool installed = false;
    if (std::exchange(installed, true))
        return;
    previousHandler = qInstallMessageHandler(handle);
}
