#pragma once

// The application: the tray item with its menu, and the delegate. Stays alive with no
// window open.

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class MenuBarContent;
class SettingsWindow;
class QIcon;
namespace KeyboardShortcuts {
class Name;
}

// The application's one named global shortcut: it starts and cancels a pick.
const KeyboardShortcuts::Name& activatePicker();

class TintwellApp : public QObject {
    Q_OBJECT

public:
    TintwellApp();
    ~TintwellApp() override;

    AppDelegate& appDelegate() { return *m_appDelegate; }
    // What "Settings…" and a second start of Daubly do.
    void openSettings();
    // What "Quit Daubly" does, and a signal or Quit() on the bus: ends the event loop.
    // On the way out (the session manager's end takes the same way) the pick stops, its
    // overlays and grabs go, and the global shortcut is released. Settings are already
    // on disk: they are written on every change.
    void quit();
    // A command from another start of daubly or from the session bus.
    void perform(RemoteCommand command);

    // The icons by their installed names, the bundled drawings where no theme has them.
    static QIcon applicationIcon();
    static QIcon trayIcon();

private:
    void showTrayIcon();
    // A message in the tray, or where there is none, through the desktop's notifications.
    void tellUser(const QString& title, const QString& message, QSystemTrayIcon::MessageIcon icon);
    SettingsView::Services settingsServices();
    void releaseForQuit();

    std::unique_ptr<AppDelegate> m_appDelegate;
    std::unique_ptr<MenuBarContent> m_menuBarContent;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    QPointer<SettingsWindow> m_settingsWindow;
};
