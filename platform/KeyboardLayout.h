#pragma once

// The current keyboard layout, asked afresh on every call so that key names follow a
// layout switch at once.

#include <QString>
#include <cstdint>
#include <optional>

class QKeyEvent;

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text the key with this virtual key code gives without modifiers in the
    // current layout and group; none when there is no layout or the key gives nothing.
    virtual std::optional<QString> text(std::int64_t virtualKeyCode) const = 0;

    // The virtual key code of the key a key event of the toolkit is for, from its native
    // scan code; none for keys the stored form has no code for.
    virtual std::optional<std::int64_t> virtualKeyCode(const QKeyEvent& event) const = 0;

    // The US layout of the virtual key codes, which knows no key events: where no keyboard
    // layout service answers, keys are still named.
    static const KeyboardLayout& us();
};
