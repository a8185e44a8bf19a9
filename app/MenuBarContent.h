#pragma once

// The tray menu: "Pick Color", the recent colours, the update check, "Settings…" and
// "Quit Daubly". Rebuilt each time it opens, so it always shows the current history
// in the current copy format.

#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class CheckForUpdatesViewModel;
class QAction;
class ColorHistory;
class QMenu;
class UserDefaults;

class MenuBarContent : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> pickColor;
        std::function<void()> openSettings;
        std::function<void()> quit;
        // Clears the clipboard and puts one plain-text item on it.
        std::function<void(const QString&)> copyText;
        // Makes "Pick Color" show the global shortcut of "activatePicker".
        std::function<void(QAction*)> bindPickShortcut;
    };

    MenuBarContent(ColorHistory& history, UserDefaults& defaults,
                   CheckForUpdatesViewModel& checkForUpdates, Actions actions,
                   QObject* parent = nullptr);
    ~MenuBarContent() override;

    QMenu* menu() const { return m_menu.get(); }
    // Fills the menu from the current state; runs whenever the menu is about to show.
    void rebuild();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ColorHistory& m_history;
    UserDefaults& m_defaults;
    CheckForUpdatesViewModel& m_checkForUpdates;
    Actions m_actions;
    std::unique_ptr<QMenu> m_menu;
};
