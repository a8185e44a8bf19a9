#include "app/DesktopShortcutEntry.h"

#include "app/CommandLine.h"
#include "app/SharedInstances.h"
#include "app/TintwellApp.h"
#include "platform/DesktopKeybindings.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformServices.h"

#include <QCoreApplication>

namespace {

std::optional<DesktopKeybindings::Trigger>
triggerOf(const std::optional<KeyboardShortcuts::Shortcut>& shortcut) {
    if (!shortcut)
        return std::nullopt;
    return DesktopKeybindings::Trigger{std::uint32_t(shortcut->carbonKeyCode),
                                       std::uint32_t(shortcut->carbonModifiers)};
}

} // namespace

DesktopShortcutEntry::DesktopShortcutEntry(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services)) {
    m_services.notifications.observe(
        KeyboardShortcuts::shortcutByNameDidChange, this, [this](const QVariantMap& userInfo) {
            if (KeyboardShortcuts::changedName(userInfo) == m_services.name)
                follow();
        });
}

DesktopShortcutEntry& DesktopShortcutEntry::shared() {
    // Never destroyed: it follows the shortcut to the end of the process.
    static DesktopShortcutEntry* entry = new DesktopShortcutEntry(
        {sharedPlatform().desktopKeybindings(),
         [] { return KeyboardShortcuts::shared().hotKeyCenter().service().isAvailable(); },
         KeyboardShortcuts::shared(), NotificationCenter::defaultCenter(), activatePicker(),
         pickCommand(QCoreApplication::applicationFilePath())});
    return *entry;
}

QStringList DesktopShortcutEntry::pickCommand(const QString& executable) {
    return {executable, CommandLine::optionName(CommandLine::Action::pick)};
}

bool DesktopShortcutEntry::isOffered() const {
    return m_services.keybindings && m_services.keybindings->available() &&
           !m_services.desktopBindsShortcuts();
}

bool DesktopShortcutEntry::isAdded() const {
    return isOffered() && m_services.keybindings->current().has_value();
}

bool DesktopShortcutEntry::canAdd() const {
    return m_services.registry.getShortcut(m_services.name).has_value();
}

QString DesktopShortcutEntry::buttonText() const {
    return tr("Add to %1 Keyboard Shortcuts")
        .arg(m_services.keybindings ? m_services.keybindings->desktopName() : QString());
}

QString DesktopShortcutEntry::addedText() const {
    return tr("Listed in %1 Keyboard Shortcuts.")
        .arg(m_services.keybindings ? m_services.keybindings->desktopName() : QString());
}

DesktopKeybindings::Entry
DesktopShortcutEntry::newEntry(const DesktopKeybindings::Trigger& trigger) const {
    return {tr("Pick Color with Daubly"), m_services.command, trigger};
}

bool DesktopShortcutEntry::add() {
    const auto trigger = triggerOf(m_services.registry.getShortcut(m_services.name));
    if (!isOffered() || !trigger)
        return false;
    const bool added = m_services.keybindings->add(newEntry(*trigger));
    m_removedWithShortcut = false;
    Q_EMIT changed();
    return added;
}

void DesktopShortcutEntry::follow() {
    if (!isOffered())
        return;
    DesktopKeybindings& keybindings = *m_services.keybindings;
    const auto trigger = triggerOf(m_services.registry.getShortcut(m_services.name));
    const auto entry = keybindings.current();
    if (!trigger) {
        if (entry && keybindings.remove())
            m_removedWithShortcut = true;
    } else if (entry) {
        // The user's own name or command there is kept; only the keys follow.
        DesktopKeybindings::Entry changed = *entry;
        changed.trigger = trigger;
        keybindings.update(changed);
    } else if (m_removedWithShortcut) {
        m_removedWithShortcut = false;
        keybindings.add(newEntry(*trigger));
    }
    Q_EMIT changed();
}
