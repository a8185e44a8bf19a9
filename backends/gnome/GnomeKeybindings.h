#pragma once

// Daubly's entry among GNOME's custom keyboard shortcuts, through GSettings: the list
// org.gnome.settings-daemon.plugins.media-keys custom-keybindings holds the paths of the
// entries, each an instance of the relocatable schema ...media-keys.custom-keybinding
// (name, command, binding). GNOME's keyboard settings list them under Custom Shortcuts,
// and gnome-settings-daemon runs the command when the keys are pressed. Daubly's entry
// lives at a path of its own, so there is never a second one and the user's entries
// are never touched.

#include "platform/DesktopKeybindings.h"

#include <memory>

struct _GSettings;

class GnomeKeybindings final : public DesktopKeybindings {
public:
    explicit GnomeKeybindings(QString entryPath = standardEntryPath());
    ~GnomeKeybindings() override;
    GnomeKeybindings(const GnomeKeybindings&) = delete;
    GnomeKeybindings& operator=(const GnomeKeybindings&) = delete;

    static QString standardEntryPath();

    bool available() const override;
    QString desktopName() const override { return QStringLiteral("GNOME"); }
    std::optional<Entry> current() const override;
    bool add(const Entry& entry) override;
    bool update(const Entry& entry) override;
    bool remove() override;

    // GTK's accelerator text for a trigger ("<Alt>c", "<Shift><Control>F5"); none for a
    // key without a keysym name or with the Function modifier, which GTK cannot name.
    static std::optional<QString> accelerator(const Trigger& trigger);
    static std::optional<Trigger> parseAccelerator(const QString& text);
    // The command as one line, each argument quoted for the shell, which is how GNOME
    // splits it again; and back.
    static QString commandLine(const QStringList& command);
    static QStringList parseCommandLine(const QString& line);

private:
    struct Unref {
        void operator()(_GSettings* settings) const;
    };
    using Settings = std::unique_ptr<_GSettings, Unref>;

    QStringList entryPaths() const;
    bool setEntryPaths(const QStringList& paths);
    bool write(const Entry& entry);

    QString m_entryPath;
    Settings m_list;  // null where the schemas are not installed
    Settings m_entry; // Daubly's entry
};
