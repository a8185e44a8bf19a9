#pragma once

// The desktop on X11: EWMH for the active window, RandR names for the monitors, Qt's
// xcb grabs for the keyboard and pointer, QClipboard for the CLIPBOARD selection.

#include "platform/Workspace.h"

#include <QPointer>
#include <QWindow>
#include <Qt>

class QKeyEvent;

// The virtual key code (Return 36, keypad Enter 76, Escape 53, arrows 123-126) of a key
// the pick uses, from its Qt key; -1 for any other key.
int virtualKeyCodeOfQtKey(int qtKey);

class X11Workspace final : public Workspace {
    Q_OBJECT

public:
    explicit X11Workspace(QObject* parent = nullptr);
    ~X11Workspace() override;

    std::optional<WindowID> activeWindow() const override;
    void activateWindow(WindowID window) override;
    void moveToCurrentDesktop(WindowID window) override;
    std::vector<WorkspaceScreen> screens() const override;
    QPointF mouseLocation() const override;
    void hideCursor() override;
    void showCursor() override;
    void setClipboardText(const QString& text) override;
    bool grabInput(QWindow* window) override;
    void releaseInput() override;
    void installKeyMonitor(std::function<void(int keyCode)> handler) override;
    void removeKeyMonitor() override;
    void waitForDisplay() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchScreen(QScreen* screen);

    QPointer<QWindow> m_grabWindow;
    bool m_activeWhileGrabbed = false;
    std::function<void(int)> m_keyHandler;
    bool m_cursorHidden = false;
};
