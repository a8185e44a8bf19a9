// Where a pick on Wayland takes the pointer to be. A compositor may tell a new overlay
// nothing of the pointer until it moves, and a seat may have none: the pick must still
// start somewhere on a screen, or a keyboard-only pick shows no loupe and Return copies
// nothing. Only full-screen windows tell a global position (Wayland tells no client where
// its windows are).

#include "backends/wayland/WaylandWorkspace.h"
#include "platform/ScreenGeometry.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

QPointF design(QPointF qtPoint) {
    return ScreenGeometry::designPoint(qtPoint, QGuiApplication::primaryScreen()->geometry());
}

QPointF primaryMiddle() {
    return design(QRectF(QGuiApplication::primaryScreen()->geometry()).center());
}

void moveOver(QWindow& window, QPointF local) {
    QMouseEvent move(QEvent::MouseMove, local, local, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &move);
}

TEST(WaylandWorkspace, APickStartsOnAScreenBeforeThePointerIsSeen) {
    WaylandWorkspace workspace;
    EXPECT_EQ(workspace.mouseLocation(), primaryMiddle()) << "nothing seen yet";

    // An ordinary window knows the pointer only in its own coordinates.
    QWindow settings;
    settings.setGeometry(200, 100, 300, 200);
    settings.show();
    moveOver(settings, QPointF(10, 20));
    EXPECT_EQ(workspace.mouseLocation(), primaryMiddle()) << "seen over an ordinary window";

    QWindow overlay;
    workspace.prepareOverlay(overlay);
    ASSERT_TRUE(overlay.windowStates() & Qt::WindowFullScreen);
    QEnterEvent enter(QPointF(30, 40), QPointF(30, 40), QPointF(30, 40));
    QCoreApplication::sendEvent(&overlay, &enter);
    EXPECT_EQ(workspace.mouseLocation(), design(QPointF(30, 40))) << "entered an overlay";
    moveOver(overlay, QPointF(31.5, 40));
    EXPECT_EQ(workspace.mouseLocation(), design(QPointF(31.5, 40))) << "moved over it";

    // The next pick starts where the pointer was last seen, not in the middle.
    overlay.hide();
    QWindow next;
    workspace.prepareOverlay(next);
    moveOver(settings, QPointF(5, 5));
    EXPECT_EQ(workspace.mouseLocation(), design(QPointF(31.5, 40))) << "next pick";
}

} // namespace
