#pragma once

// The shortcut subsystem's own string table: texts looked up by key ("space_key",
// "record_shortcut", ...), translated in the "KeyboardShortcuts" context.

#include <QString>

namespace KeyboardShortcuts {

// The localised text of `key`; the key itself when the table has no such key.
QString localized(const char* key);

} // namespace KeyboardShortcuts
