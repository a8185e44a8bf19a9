#pragma once

// The registrations of a hot key service whose desktop binds shortcuts by name (a portal's
// shortcut id, kglobalaccel's action): each is kept under its name, and what the desktop
// reports for a name reaches every registration under it.

#include "platform/HotKeyService.h"

#include <QString>
#include <functional>
#include <map>
#include <optional>

class NamedHotKeys {
public:
    using Handle = HotKeyService::Handle;
    using Trigger = HotKeyService::Trigger;
    using EventKind = HotKeyService::EventKind;
    using Event = HotKeyService::Event;

    struct Entry {
        HotKeyService::HotKeyID id;
        QString name;
        Trigger preferred;
        bool pressed = false;
    };

    // The request's description, or a name made from its id when it has none.
    static QString nameOf(const HotKeyService::Request& request);

    // Why `name` cannot be registered: it already is.
    std::optional<QString> conflict(const QString& name) const;
    Handle add(const HotKeyService::Request& request, const QString& name);
    void remove(Handle handle) { m_entries.erase(handle); }
    const std::map<Handle, Entry>& entries() const { return m_entries; }

    void setHandler(std::function<bool(const Event&)> handler) { m_handler = std::move(handler); }
    // A held key may be reported again: only its first press and the release after it pass.
    void dispatch(const QString& name, EventKind kind, std::optional<Trigger> trigger);

private:
    std::map<Handle, Entry> m_entries;
    Handle m_lastHandle = 0;
    std::function<bool(const Event&)> m_handler;
};
