#pragma once

// The virtual key codes stored in shortcuts and X11 keycodes (XKB "evdev"
// keycodes, evdev + 8). Both name physical key positions, so no keyboard layout is
// involved. Generated from shared/keycodes.tsv; both directions are one-to-one, plus
// a few keys that only map back (a PC keyboard's Pause arrives as F15, and so on).

#include <cstdint>
#include <optional>

namespace X11KeyCodes {

// The X11 keycode of a virtual key code; none for Function (beyond the X11 range)
// and for codes that name no key.
std::optional<std::uint8_t> x11KeyCode(std::int64_t virtualKeyCode);

// The virtual key code of an X11 keycode; none for keys without one.
std::optional<std::int64_t> virtualKeyCode(std::uint32_t x11KeyCode);

} // namespace X11KeyCodes
