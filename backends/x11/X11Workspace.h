#pragma once

// The desktop on X11: EWMH for the active window, RandR names for the monitors, Qt's
// xcb grabs for the keyboard and pointer, QClipboard for the CLIPBOARD selection.

#include "platform/QtWorkspace.h"

class X11Workspace final : public QtWorkspace {
    Q_OBJECT

public:
    explicit X11Workspace(QObject* parent = nullptr);
    ~X11Workspace() override;

    std::optional<WindowID> activeWindow() const override;
    void activateWindow(WindowID window) override;
    void moveToCurrentDesktop(WindowID window) override;
    void waitForDisplay() override;

protected:
    std::uint32_t displayID(QScreen* screen) const override;
    bool grabDevices(QWindow& window) override;
    void releaseDevices(QWindow& window) override;
};
