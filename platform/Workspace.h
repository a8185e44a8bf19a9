#pragma once

// What a pick needs of the desktop: the window in front and bringing it back, the
// monitors, the mouse, the cursor, the clipboard, and the keyboard and pointer for as
// long as the pick runs. QtWorkspace does what Qt does alike everywhere; the backends
// add the rest (X11Workspace, WaylandWorkspace); tests use a fake.

#include "platform/VirtualKeys.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QScreen;
class QWindow;

struct WorkspaceScreen {
    std::uint32_t displayID = 0; // the RandR output id, as in DisplaySnapshot
    QRectF frame;                // in global points: origin bottom-left of the primary, y up
    QScreen* screen = nullptr;   // null in tests
};

class Workspace : public QObject {
    Q_OBJECT

public:
    using WindowID = std::uint32_t;

    using QObject::QObject;

    // The window that has the focus, unless it is one of ours.
    virtual std::optional<WindowID> activeWindow() const = 0;
    // Gives the focus back to `window`, if it still exists.
    virtual void activateWindow(WindowID window) = 0;
    // Moves one of our windows to the workspace the user is on; nothing where the
    // desktop has no workspaces.
    virtual void moveToCurrentDesktop(WindowID window) { (void)window; }

    // Readies a pick's overlay, created and not yet shown, to cover its monitor: where
    // the window manager places windows itself (Wayland), it is asked for full screen.
    virtual void prepareOverlay(QWindow& overlay) { (void)overlay; }
    // Whether a window's opacity can be changed (a fade); where it cannot, the overlays
    // close after the same time without one.
    virtual bool canFadeWindows() const { return true; }

    // The monitors, primary first.
    virtual std::vector<WorkspaceScreen> screens() const = 0;
    // In global points (origin bottom-left of the primary, y up).
    virtual QPointF mouseLocation() const = 0;

    virtual void hideCursor() = 0;
    virtual void showCursor() = 0;

    // Replaces the clipboard's contents by one plain-text item.
    virtual void setClipboardText(const QString& text) = 0;

    // Sends every key and pointer event to `window` until releaseInput(); false when
    // either grab is refused (nothing is left grabbed then).
    virtual bool grabInput(QWindow* window) = 0;
    // Undoes the grabs, in reverse order.
    virtual void releaseInput() = 0;

    // Every key press reaches `handler` (with its virtual key code, or -1 for a key
    // without one) and no window, until removeKeyMonitor().
    virtual void installKeyMonitor(std::function<void(int keyCode)> handler) = 0;
    virtual void removeKeyMonitor() = 0;

    // Returns once the display server has carried out every drawing request sent so far:
    // what was painted is then on screen.
    virtual void waitForDisplay() = 0;

Q_SIGNALS:
    // A monitor was added, removed or rearranged.
    void screensChanged();
    // The grab or the focus went to someone else while input was grabbed.
    void inputLost();
};
