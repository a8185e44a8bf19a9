#pragma once

// Keys and modifiers by the names Linux desktops write them in their shortcut texts:
// keysym names ("c", "Return", "F5", "KP_Enter") and modifier words ("Ctrl", "Alt",
// "Super"). The keys are the stored virtual key codes, named as on a US keyboard, which
// is what the desktops' own texts use for a physical key.

#include <QString>
#include <cstdint>
#include <optional>

namespace KeysymNames {

// None for a key without a keysym name.
std::optional<QString> keyName(std::int64_t virtualKeyCode);
// The key of a keysym name, or of a short name desktops show ("PgUp", "Esc"); any case.
std::optional<std::int64_t> keyCodeNamed(const QString& name);
// The Carbon bit of a modifier word ("CTRL", "Control", "Primary", "Alt", "Mod1", "Shift",
// "Super", "Logo", "Meta", ...); any case, spaces around ignored.
std::optional<std::int64_t> modifierNamed(const QString& name);

} // namespace KeysymNames
