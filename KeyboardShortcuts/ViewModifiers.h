#pragma once

// Named shortcuts on controls: a command that shows the name's shortcut except while a
// recorder records, and widgets that receive the name's key events while shown.

#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include <functional>

class NotificationCenter;
class QAction;
class QWidget;

namespace KeyboardShortcuts {

// The action shows the name's stored shortcut, and none while a recorder records, so
// that pressing the combination being recorded cannot trigger it. Null services: the
// process-wide ones.
void globalKeyboardShortcut(QAction* action, const Name& name, Registry* registry = nullptr,
                            NotificationCenter* notifications = nullptr);

// Runs `action` for the name's key events while `widget` is shown; when it hides, the
// events stop and the name's hot key is released unless something else uses it.
void onGlobalKeyboardShortcut(QWidget* widget, const Name& name,
                              std::function<void(EventType)> action, Registry* registry = nullptr);
void onGlobalKeyboardShortcut(QWidget* widget, const Name& name, EventType type,
                              std::function<void()> action, Registry* registry = nullptr);

} // namespace KeyboardShortcuts
