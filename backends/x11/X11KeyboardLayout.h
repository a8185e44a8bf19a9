#pragma once

// Key names from the X server's current keyboard layout through xkbcommon: the keysym
// of a key at shift level 1 of the current group, as text. The keymap and the group are
// read anew on every call, so the names follow a layout switch at once.

#include "platform/KeyboardLayout.h"

#include <xcb/xcb.h>

struct xkb_context;

class X11KeyboardLayout final : public KeyboardLayout {
public:
    // Its own connection to $DISPLAY; null when there is none or it lacks XKB.
    static std::unique_ptr<X11KeyboardLayout> create();

    ~X11KeyboardLayout() override;
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

    std::optional<QString> text(std::int64_t virtualKeyCode) const override;
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent& event) const override;

private:
    X11KeyboardLayout(xcb_connection_t* connection, xkb_context* context, std::int32_t device);

    xcb_connection_t* m_connection;
    xkb_context* m_context;
    std::int32_t m_device;
};
