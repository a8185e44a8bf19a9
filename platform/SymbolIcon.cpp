#include "platform/SymbolIcon.h"

QIcon symbolIcon(const QString& freedesktopName) {
    return QIcon::fromTheme(freedesktopName,
                            QIcon(QStringLiteral(":/icons/%1.svg").arg(freedesktopName)));
}
