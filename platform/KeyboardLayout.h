#pragma once

// The current keyboard layout, asked afresh on every call so that key names follow a
// layout switch at once.

#include <QString>
#include <cstdint>
#include <optional>

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text the key with this virtual key code gives without modifiers in the
    // current layout and group; none when there is no layout or the key gives nothing.
    virtual std::optional<QString> text(std::int64_t virtualKeyCode) const = 0;

    // A layout that knows no key; for a platform without a keyboard service.
    static const KeyboardLayout& none();
};

#include <memory>

// The platform's layout: xkbcommon over X11 when Qt runs on X11, otherwise none().
std::unique_ptr<KeyboardLayout> makePlatformKeyboardLayout();
