#pragma once

// The pick shortcut as an entry of the desktop's own keyboard shortcuts, for desktops
// that let no application bind a global shortcut but keep a list Daubly can write
// (GNOME). The rows offer it; the user's click is the consent. From then on the entry
// follows the stored shortcut: a new one rewrites it (never a second entry), clearing the
// shortcut removes it, and recording one again in the same run brings it back. An entry
// the user removed in the desktop's settings stays removed.

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "platform/DesktopKeybindings.h"

#include <QObject>
#include <QStringList>
#include <functional>

class NotificationCenter;

class DesktopShortcutEntry : public QObject {
    Q_OBJECT

public:
    struct Services {
        // Null where the desktop keeps no list Daubly can write.
        DesktopKeybindings* keybindings;
        // Whether the desktop binds global shortcuts for applications itself (a portal,
        // X11): then there is no entry to offer.
        std::function<bool()> desktopBindsShortcuts;
        KeyboardShortcuts::Registry& registry;
        NotificationCenter& notifications;
        KeyboardShortcuts::Name name;
        // What the entry runs: this program's absolute path and its pick option.
        QStringList command;
    };

    explicit DesktopShortcutEntry(Services services, QObject* parent = nullptr);

    // The application's, over the platform's keybindings (main thread, after start-up).
    static DesktopShortcutEntry& shared();
    // `executable` --pick.
    static QStringList pickCommand(const QString& executable);

    // The rows show the offer at all.
    bool isOffered() const;
    // Daubly's entry is in the desktop's list now.
    bool isAdded() const;
    // There is a shortcut to add.
    bool canAdd() const;
    QString buttonText() const;
    QString addedText() const;

    // The user's click: adds the entry with the stored shortcut; false when there is none
    // or the desktop's settings could not be written.
    bool add();

Q_SIGNALS:
    // The offer or the entry changed.
    void changed();

private:
    void follow();
    DesktopKeybindings::Entry newEntry(const DesktopKeybindings::Trigger& trigger) const;

    Services m_services;
    // The entry went because the shortcut was cleared: a new shortcut brings it back.
    bool m_removedWithShortcut = false;
};
