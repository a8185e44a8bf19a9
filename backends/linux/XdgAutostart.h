#pragma once

// The login item as the XDG autostart standard has it: our entry
// $XDG_CONFIG_HOME/autostart/app.daubly.Daubly.desktop. Present and on = enabled;
// present but turned off in the desktop's own autostart settings (Hidden=true, or
// X-GNOME-Autostart-enabled=false) = waiting for the user there; absent = not
// registered. A file at that path that does not start Daubly is someone else's: it is
// reported as not found and never replaced or removed.

#include "platform/LoginItemService.h"

#include <QString>
#include <QStringList>
#include <functional>

class XdgAutostart final : public LoginItemService {
public:
    // Starts a program with arguments, detached; false when it could not start.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // `executable` is the absolute path the entry starts.
    XdgAutostart(QString entryPath, QString executable, Launcher launcher = {});
    // This program's own entry, in the standard place.
    XdgAutostart();

    // $XDG_CONFIG_HOME/autostart/app.daubly.Daubly.desktop.
    static QString standardEntryPath();

    Status status() const override;
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;
    bool openSettings() override;

    // The entry's text for `executable`.
    static QByteArray entryText(const QString& executable);
    // One argument of an Exec line, quoted by the Desktop Entry rules, then escaped as
    // a string value.
    static QString quotedExecArgument(const QString& argument);
    // The program an Exec value starts (its first argument, unquoted).
    static QString execProgram(const QString& exec);
    // The autostart settings tool of the desktops in XDG_CURRENT_DESKTOP's form
    // ("GNOME", "KDE", "ubuntu:GNOME"): program and arguments, or empty.
    static QStringList settingsCommand(const QString& currentDesktop);

private:
    QString m_entryPath;
    QString m_executable;
    Launcher m_launcher;
};
