#pragma once

// The desktop on Wayland, where a client knows nothing of other clients' windows nor of
// the pointer outside its own surfaces: no window in front to give the focus back to (the
// compositor does that when the overlays close), the pointer as last seen over one of our
// full-screen windows (else the middle of a screen), overlays asked for full screen on
// their output, and the overlay's keyboard
// focus in place of a grab. Monitors are told apart by their names.

#include "platform/QtWorkspace.h"

#include <optional>

class WaylandWorkspace final : public QtWorkspace {
    Q_OBJECT

public:
    explicit WaylandWorkspace(QObject* parent = nullptr);
    ~WaylandWorkspace() override;

    std::optional<WindowID> activeWindow() const override { return std::nullopt; }
    void activateWindow(WindowID) override {}
    void prepareOverlay(QWindow& overlay) override;
    // Qt's Wayland windows have no opacity.
    bool canFadeWindows() const override { return false; }
    QPointF mouseLocation() const override;
    void waitForDisplay() override {}

protected:
    std::uint32_t displayID(QScreen* screen) const override;

private:
    class PointerTracker;
    PointerTracker* m_tracker;
};
