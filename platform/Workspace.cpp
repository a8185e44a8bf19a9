#include "platform/Workspace.h"

#include <QWindow>

void Workspace::bringForward(QWindow& window) {
    window.raise();
    window.requestActivate();
}
