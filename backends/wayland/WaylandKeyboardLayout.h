#pragma once

// Keys on Wayland: Qt delivers the XKB keycode as a key event's native scan code, as on
// X11, so the recorder reads physical keys the same way. The compositor's keymap is
// Qt's alone; key names come from the US layout.

#include "platform/KeyboardLayout.h"

class WaylandKeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> text(std::int64_t virtualKeyCode) const override;
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent& event) const override;
};
