#include "backends/wayland/WaylandKeyboardLayout.h"

#include "backends/linux/XkbKeyCodes.h"

#include <QKeyEvent>

std::optional<QString> WaylandKeyboardLayout::text(std::int64_t virtualKeyCode) const {
    return KeyboardLayout::us().text(virtualKeyCode);
}

std::optional<std::int64_t> WaylandKeyboardLayout::virtualKeyCode(const QKeyEvent& event) const {
    return XkbKeyCodes::virtualKeyCode(event.nativeScanCode());
}
