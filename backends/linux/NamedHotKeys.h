#pragma once

// A hot key service whose desktop binds shortcuts by name (a portal's shortcut id,
// kglobalaccel's action) and settles conflicts and key repeat itself: each registration is
// kept under its name, and what the desktop reports for a name reaches every registration
// under it.

#include "platform/HotKeyService.h"

#include <QString>
#include <functional>
#include <map>
#include <optional>

class NamedHotKeys : public HotKeyService {
public:
    // Local only: the hot key center unregisters and registers again around every open
    // menu, and the desktop's binding (maybe chosen in its dialog) should outlive that.
    void unregisterHotKey(Handle handle) final { m_entries.erase(handle); }
    bool installEventHandler(std::function<bool(const Event&)> handler) final;
    std::vector<SymbolicHotKey> symbolicHotKeys() const final { return {}; }
    KeyRepeat keyRepeat() const final { return {}; }

protected:
    struct Entry {
        HotKeyID id;
        QString name;
        Trigger preferred;
        bool pressed = false;
    };

    // The request's description, or a name made from its id when it has none.
    static QString nameOf(const Request& request);

    // Why `name` cannot be registered: it already is.
    std::optional<QString> conflict(const QString& name) const;
    Handle add(const Request& request, const QString& name);
    const std::map<Handle, Entry>& entries() const { return m_entries; }
    // A held key may be reported again: only its first press and the release after it pass.
    void dispatch(const QString& name, EventKind kind, std::optional<Trigger> trigger);

private:
    std::map<Handle, Entry> m_entries;
    Handle m_lastHandle = 0;
    std::function<bool(const Event&)> m_handler;
};
