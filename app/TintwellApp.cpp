#include "app/TintwellApp.h"

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Recorder.h"
#include "KeyboardShortcuts/ViewModifiers.h"
#include "app/ColorHistory.h"
#include "app/DesktopShortcutEntry.h"
#include "app/MenuBarContent.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "app/SettingsWindow.h"
#include "app/SharedInstances.h"
#include "platform/ApplicationActivation.h"
#include "platform/DesktopNotifications.h"
#include "platform/Logger.h"
#include "platform/PlatformServices.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QClipboard>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace std::chrono_literals;

namespace {
// Lets a menu close before the screens are captured.
constexpr std::chrono::milliseconds menuCloseDelay = 150ms;
} // namespace

const KeyboardShortcuts::Name& activatePicker() {
    // Option-C, Alt+C here, unless the user records another.
    static const KeyboardShortcuts::Name name{
        QStringLiteral("activatePicker"),
        KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                    KeyboardShortcuts::ModifierFlag::option)};
    return name;
}

TintwellApp::TintwellApp() {
    m_appDelegate = std::make_unique<AppDelegate>(AppDelegate::Services{
        UserDefaults::standard(), OnboardingWindowController::shared(), Scheduler::main(),
        [](std::function<void()> handler) {
            // The pick starts when the key comes up; the capture gets ready while it is down.
            KeyboardShortcuts::addKeyDownHandler(activatePicker(),
                                                 [] { PickerController::shared().prepare(); });
            KeyboardShortcuts::addKeyUpHandler(activatePicker(), [handler] {
                // Typed while the tray menu is open: as with "Pick Color", the menu goes
                // first, or the capture would freeze it on screen.
                if (!QApplication::activePopupWidget()) {
                    handler();
                    return;
                }
                while (QWidget* popup = QApplication::activePopupWidget()) {
                    if (!popup->close())
                        break;
                }
                Scheduler::main().schedule(menuCloseDelay, handler);
            });
        },
        []() -> PickerController& { return PickerController::shared(); }});

    m_menuBarContent = std::make_unique<MenuBarContent>(
        ColorHistory::shared(), UserDefaults::standard(), m_appDelegate->checkForUpdates(),
        MenuBarContent::Actions{[] { PickerController::shared().start(menuCloseDelay); },
                                [this] { openSettings(); }, [this] { quit(); },
                                [](const QString& text) {
                                    QClipboard* clipboard = QGuiApplication::clipboard();
                                    clipboard->clear();
                                    auto* data = new QMimeData;
                                    data->setData(QStringLiteral("text/plain"), text.toUtf8());
                                    clipboard->setMimeData(data);
                                },
                                [](QAction* pick) {
                                    KeyboardShortcuts::globalKeyboardShortcut(pick,
                                                                              activatePicker());
                                }});
    // A shortcut the tray menu already shows cannot be recorded for the picker.
    KeyboardShortcuts::Recorder::defaultEnvironment().applicationMenu = [this] {
        return static_cast<const QMenu*>(m_menuBarContent->menu());
    };

    showTrayIcon();
    // A pick that cannot capture would otherwise end with nothing on screen at all.
    connect(&PickerController::shared(), &PickerController::captureFailed, this,
            [this](const QString& reason) {
                tellUser(tr("Daubly could not capture the screen"), reason,
                         QSystemTrayIcon::Warning);
            });
    // Settings that are not being saved: said where the user looks, as well as in the log.
    const auto showSettingsNotice = [this] {
        if (const auto& notice = UserDefaults::standard().notice())
            m_trayIcon->showMessage(QStringLiteral("Daubly"), *notice, QSystemTrayIcon::Warning);
    };
    connect(&UserDefaults::standard(), &UserDefaults::noticeChanged, this, showSettingsNotice);
    showSettingsNotice();
    // A scheduled check that finds a new version says so gently, in the tray.
    m_appDelegate->updaterController().userDriver().setNotify(
        [this](const QString& title, const QString& message) {
            tellUser(title, message, QSystemTrayIcon::Information);
        });
    // Every way out (the menu, a signal, the session manager's Quit event) ends here.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &TintwellApp::releaseForQuit);
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, this, [this] { m_appDelegate->applicationDidFinishLaunching(); });
}

TintwellApp::~TintwellApp() = default;

void TintwellApp::showTrayIcon() {
    m_trayIcon = std::make_unique<QSystemTrayIcon>(trayIcon());
    m_trayIcon->setToolTip(QStringLiteral("Daubly"));
    m_trayIcon->setContextMenu(m_menuBarContent->menu());
    // A pull-down menu: the left button opens it as well. A click soon after the menu
    // closed (Escape) reaches the icon as the second press of a double click.
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    m_menuBarContent->menu()->popup(QCursor::pos());
            });
    m_trayIcon->show();
    Logger logger("App");
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        logger.log("Tray icon shown");
    } else {
        // Stock GNOME has none: the shortcut and the command line still reach Daubly.
        logger.error("No system tray found: the Daubly icon appears once a tray runs (a panel "
                     "with a notification area or status icons); meanwhile the pick shortcut, "
                     "'daubly --pick' and 'daubly --settings' reach Daubly");
    }
}

void TintwellApp::tellUser(const QString& title, const QString& message,
                           QSystemTrayIcon::MessageIcon icon) {
    // Without a tray (stock GNOME) a tray message shows nowhere.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon->showMessage(title, message, icon);
    } else if (DesktopNotifications* notifications = sharedPlatform().notifications()) {
        notifications->notify(title, message);
    } else {
        Logger("App").error("No tray and no notifications to show \"%{public}s\"", title);
    }
}

void TintwellApp::openSettings() {
    openSettingsWindow(
        {Scheduler::main(),
         [this, asked = std::chrono::steady_clock::now()] {
             if (!m_settingsWindow)
                 m_settingsWindow = new SettingsWindow(settingsServices());
             if (!m_settingsWindow->isVisible())
                 m_settingsWindow->markRequested(asked);
             else
                 Logger("Settings").log("Settings window brought forward");
             m_settingsWindow->show();
         },
         findSettingsWindow,
         [](QWidget* window) { bringWindowForward(window, sharedPlatform().workspace()); }});
}

SettingsView::Services TintwellApp::settingsServices() {
    return {UserDefaults::standard(),
            ScreenRecordingPermission::shared(),
            m_appDelegate->checkForUpdates(),
            sharedPlatform().loginItems(),
            ApplicationActivation::shared(),
            activatePicker(),
            KeyboardShortcuts::Recorder::defaultEnvironment(),
            [] {
                OnboardingWindowController::shared().show(
                    OnboardingWindowController::Reason::replay);
            },
            &DesktopShortcutEntry::shared()};
}

void TintwellApp::quit() {
    QApplication::quit();
}

void TintwellApp::releaseForQuit() {
    Logger("App").log("Quitting");
    PickerController::shared().cancel();
    KeyboardShortcuts::removeAllHandlers();
}

void TintwellApp::perform(RemoteCommand command) {
    switch (command) {
    case RemoteCommand::pick:
        // As from the menu, less the wait for a menu to close; ignored while a pick runs.
        PickerController::shared().start(std::chrono::milliseconds(0));
        return;
    case RemoteCommand::showSettings:
        openSettings();
        return;
    case RemoteCommand::quit:
        quit();
        return;
    }
}

QIcon TintwellApp::applicationIcon() {
    return QIcon::fromTheme(QStringLiteral("app.daubly.Daubly"),
                            QIcon(QStringLiteral(":/icons/app.daubly.Daubly.svg")));
}

QIcon TintwellApp::trayIcon() {
    return QIcon::fromTheme(QStringLiteral("app.daubly.Daubly-symbolic"),
                            QIcon(QStringLiteral(":/icons/eyedropper.svg")));
}
