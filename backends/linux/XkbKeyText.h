#pragma once

// The text a key gives in a keymap: the keysym at shift level 1 of a layout, as a
// character. Shared by the backends that read a keymap with xkbcommon (each links it).

#include <QString>
#include <optional>
#include <xkbcommon/xkbcommon.h>

// None when the key gives no character there.
inline std::optional<QString> xkbKeyText(xkb_keymap* keymap, xkb_keycode_t keycode,
                                         xkb_layout_index_t layout) {
    const xkb_keysym_t* keysyms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, 0, &keysyms) < 1)
        return std::nullopt;
    const char32_t character = xkb_keysym_to_utf32(keysyms[0]);
    if (character == 0)
        return std::nullopt;
    return QString::fromUcs4(&character, 1);
}
