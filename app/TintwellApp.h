#pragma once

// The application: the tray item with its menu, and the delegate. Stays alive with no
// window open.

#include "app/AppDelegate.h"
#include "app/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class MenuBarContent;
class SettingsWindow;
class QSystemTrayIcon;
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

private:
    void showTrayIcon();
    SettingsView::Services settingsServices();

    std::unique_ptr<AppDelegate> m_appDelegate;
    std::unique_ptr<MenuBarContent> m_menuBarContent;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    QPointer<SettingsWindow> m_settingsWindow;
};
