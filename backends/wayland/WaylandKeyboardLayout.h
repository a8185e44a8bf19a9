#pragma once

// Key names from the compositor's keymap: the one it sends every client's keyboard, read
// over a connection of our own with xkbcommon, the keysym of a key at shift level 1 of
// the current group, as text. Keymap changes are taken in before every answer, so names
// follow a layout switch. Qt delivers the XKB keycode as a key event's native scan code,
// as on X11, so the recorder reads physical keys the same way.

#include "platform/KeyboardLayout.h"

#include <memory>

struct wl_display;
struct wl_keyboard;
struct wl_registry;
struct wl_seat;
struct xkb_context;
struct xkb_keymap;

class WaylandKeyboardLayout final : public KeyboardLayout {
public:
    // Null without a compositor or a seat with a keyboard.
    static std::unique_ptr<WaylandKeyboardLayout> create();

    ~WaylandKeyboardLayout() override;
    WaylandKeyboardLayout(const WaylandKeyboardLayout&) = delete;
    WaylandKeyboardLayout& operator=(const WaylandKeyboardLayout&) = delete;

    std::optional<QString> text(std::int64_t virtualKeyCode) const override;
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent& event) const override;

private:
    struct Listeners;
    WaylandKeyboardLayout() = default;
    // Handles what the compositor sent since, without waiting.
    void takeInEvents() const;

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    wl_keyboard* m_keyboard = nullptr;
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    std::uint32_t m_group = 0;
};
