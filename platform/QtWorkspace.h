#pragma once

// What every desktop's workspace does the same way through Qt: the monitor list, the
// mouse, the cursor, the clipboard, the key monitor, and noticing that input was lost
// while a pick held it. Each backend adds what its display server does its own way.

#include "platform/Workspace.h"

#include <QPointer>
#include <QWindow>

// The virtual key code (Return 36, keypad Enter 76, Escape 53, arrows 123-126) of a key
// the pick uses, from its Qt key; -1 for any other key.
int virtualKeyCodeOfQtKey(int qtKey);

class QtWorkspace : public Workspace {
    Q_OBJECT

public:
    explicit QtWorkspace(QObject* parent = nullptr);
    ~QtWorkspace() override;

    std::vector<WorkspaceScreen> screens() const override;
    QPointF mouseLocation() const override;
    void hideCursor() override;
    void showCursor() override;
    void setClipboardText(const QString& text) override;
    bool grabInput(QWindow* window) override;
    void releaseInput() override;
    void installKeyMonitor(std::function<void(int keyCode)> handler) override;
    void removeKeyMonitor() override;

protected:
    // The id a monitor's capture carries.
    virtual std::uint32_t displayID(QScreen* screen) const = 0;
    // Takes the keyboard and pointer for `window`; false when refused (nothing is then
    // left grabbed). Where the display server has no grabs, the window's focus is the
    // grab: losing it still ends the pick.
    virtual bool grabDevices(QWindow& window) {
        (void)window;
        return true;
    }
    virtual void releaseDevices(QWindow& window) { (void)window; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchScreen(QScreen* screen);

    QPointer<QWindow> m_grabWindow;
    bool m_activeWhileGrabbed = false;
    std::function<void(int)> m_keyHandler;
    bool m_cursorHidden = false;
};
