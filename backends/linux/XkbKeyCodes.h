#pragma once

// The virtual key codes stored in shortcuts and XKB keycodes ("evdev" keycodes, evdev
// + 8), which X11 and Wayland both deliver as a key event's native scan code. Both name physical
// key positions, so no keyboard layout is involved. Generated from shared/keycodes.tsv; both
// directions are one-to-one, plus a few keys that only map back (a PC keyboard's Pause arrives as
// F15, and so on).

#include <cstdint>
#include <optional>

namespace XkbKeyCodes {

// The XKB keycode of a virtual key code; none for Function (beyond the X11 range)
// and for codes that name no key.
std::optional<std::uint8_t> xkbKeyCode(std::int64_t virtualKeyCode);

// The virtual key code of an XKB keycode; none for keys without one.
std::optional<std::int64_t> virtualKeyCode(std::uint32_t xkbKeyCode);

} // namespace XkbKeyCodes
