#pragma once

// Menu commands that show a named global shortcut beside their title. The shortcut is
// shown only: the global hot key does the work.

#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include <optional>

class NotificationCenter;
class QAction;

namespace KeyboardShortcuts {

// Binds the action's shortcut to the name: it follows the stored shortcut, and shows
// the key it had before its first binding (kept across later bindings) when the name
// has none. No name unbinds it and restores that key. Null services: the process-wide.
void bindShortcut(QAction* action, const std::optional<Name>& name, Registry* registry = nullptr,
                  NotificationCenter* notifications = nullptr);
// Shows a bare shortcut, or none; removes any binding.
void setItemShortcut(QAction* action, const std::optional<Shortcut>& shortcut);

} // namespace KeyboardShortcuts
