#include "KeyboardShortcuts/Localization.h"

#include <QCoreApplication>
#include <cstring>

namespace KeyboardShortcuts {

namespace {

struct Entry {
    const char* key;
    const char* text;
};

// English texts; "%1" is the argument of a format.
constexpr Entry table[] = {
    {"space_key", QT_TRANSLATE_NOOP("KeyboardShortcuts", "space")},
    {"record_shortcut", QT_TRANSLATE_NOOP("KeyboardShortcuts", "Record Shortcut")},
    {"press_shortcut", QT_TRANSLATE_NOOP("KeyboardShortcuts", "Press Shortcut")},
    {"keyboard_shortcut_used_by_menu_item",
     QT_TRANSLATE_NOOP("KeyboardShortcuts",
                       "This keyboard shortcut cannot be used as it is already used by the "
                       "\u201c%1\u201d menu item.")},
    {"keyboard_shortcut_used_by_system",
     QT_TRANSLATE_NOOP("KeyboardShortcuts",
                       "This keyboard shortcut cannot be used as it is already used by the "
                       "desktop.")},
    {"keyboard_shortcuts_can_be_changed",
     QT_TRANSLATE_NOOP("KeyboardShortcuts",
                       "Most desktop shortcuts can be changed in the desktop's keyboard "
                       "settings.")},
    {"keyboard_shortcut_disallowed",
     QT_TRANSLATE_NOOP("KeyboardShortcuts",
                       "This keyboard shortcut cannot be used: shortcuts with only Option, or "
                       "Option and Shift, are not allowed here.")},
    {"ok", QT_TRANSLATE_NOOP("KeyboardShortcuts", "OK")},
    {"force_use_shortcut", QT_TRANSLATE_NOOP("KeyboardShortcuts", "Use Anyway")},
};

} // namespace

QString localized(const char* key) {
    for (const Entry& entry : table) {
        if (std::strcmp(entry.key, key) == 0)
            return QCoreApplication::translate("KeyboardShortcuts", entry.text);
    }
    return QString::fromUtf8(key);
}

} // namespace KeyboardShortcuts
