#include "backends/linux/PrimaryFirstScreens.h"

#include <QGuiApplication>
#include <QScreen>

QList<QScreen*> primaryFirstScreens() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return {};
    QList<QScreen*> screens = QGuiApplication::screens();
    screens.removeAll(primary);
    screens.prepend(primary);
    return screens;
}
