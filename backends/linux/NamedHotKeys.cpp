#include "backends/linux/NamedHotKeys.h"

#include <utility>
#include <vector>

bool NamedHotKeys::installEventHandler(std::function<bool(const Event&)> handler) {
    m_handler = std::move(handler);
    return true;
}

QString NamedHotKeys::nameOf(const Request& request) {
    return request.description.isEmpty() ? QStringLiteral("shortcut%1").arg(request.id.id)
                                         : request.description;
}

std::optional<QString> NamedHotKeys::conflict(const QString& name) const {
    for (const auto& [handle, entry] : m_entries) {
        if (entry.name == name)
            return QStringLiteral("%1 is already registered").arg(name);
    }
    return std::nullopt;
}

NamedHotKeys::Handle NamedHotKeys::add(const Request& request, const QString& name) {
    const Handle handle = ++m_lastHandle;
    m_entries.emplace(handle, Entry{request.id, name, request.preferredTrigger});
    return handle;
}

void NamedHotKeys::dispatch(const QString& name, EventKind kind, std::optional<Trigger> trigger) {
    std::vector<HotKeyID> ids;
    for (auto& [handle, entry] : m_entries) {
        if (entry.name != name)
            continue;
        if (kind == EventKind::pressed && std::exchange(entry.pressed, true))
            continue;
        if (kind == EventKind::released && !std::exchange(entry.pressed, false))
            continue;
        ids.push_back(entry.id);
    }
    // The handler may unregister what it is told about.
    for (const HotKeyID& id : ids) {
        if (m_handler)
            m_handler({id, kind, trigger});
    }
}
