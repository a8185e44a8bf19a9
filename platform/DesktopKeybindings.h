#pragma once

// The desktop's own list of custom keyboard shortcuts, each running a command, where
// Daubly may keep one entry of its own (GNOME's custom keybindings). For desktops that
// let no application bind a global shortcut: the entry is listed, changed and removed in
// the desktop's keyboard settings like any the user made there. Daubly writes it only
// after the user asked for it.

#include "platform/HotKeyService.h"

#include <QString>
#include <QStringList>
#include <optional>

class DesktopKeybindings {
public:
    using Trigger = HotKeyService::Trigger;

    struct Entry {
        // As the desktop's keyboard settings list it.
        QString name;
        // The program and its arguments.
        QStringList command;
        // None: the entry holds keys that have no stored form here (or none at all).
        std::optional<Trigger> trigger;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    virtual ~DesktopKeybindings() = default;

    // Whether this desktop keeps such a list and Daubly can write it.
    virtual bool available() const = 0;
    // The desktop's name, for the button that adds the entry ("GNOME").
    virtual QString desktopName() const = 0;
    // Daubly's entry as the desktop has it now; none while there is none (the user may
    // have removed it in the desktop's settings).
    virtual std::optional<Entry> current() const = 0;
    // Adds Daubly's entry, or rewrites it where there is one already: never a second one.
    // Each answers false when the desktop's settings could not be written (logged).
    virtual bool add(const Entry& entry) = 0;
    // Rewrites the entry; false when there is none.
    virtual bool update(const Entry& entry) = 0;
    // Removes the entry; true when there is none afterwards.
    virtual bool remove() = 0;
};
