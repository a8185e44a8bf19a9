#include "app/TintwellApp.h"

#include "app/ColorHistory.h"
#include "app/MenuBarContent.h"
#include "app/PickerController.h"
#include "platform/Logger.h"
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

TintwellApp::TintwellApp() {
    m_appDelegate = std::make_unique<AppDelegate>(AppDelegate::Services{
        UserDefaults::standard(), OnboardingWindowController::shared(), Scheduler::main(),
        [this](std::function<void()> handler) { m_pickShortcutHandler = std::move(handler); },
        []() -> PickerController& { return PickerController::shared(); }});

    m_menuBarContent = std::make_unique<MenuBarContent>(
        ColorHistory::shared(), UserDefaults::standard(), m_appDelegate->checkForUpdates(),
        MenuBarContent::Actions{
            // The delay lets the menu close before the screens are captured.
            [] { PickerController::shared().start(150ms); }, [this] { openSettings(); },
            [] { QApplication::quit(); },
            [](const QString& text) {
                QClipboard* clipboard = QGuiApplication::clipboard();
                clipboard->clear();
                auto* data = new QMimeData;
                data->setData(QStringLiteral("text/plain"), text.toUtf8());
                clipboard->setMimeData(data);
            },
            [] { return QKeySequence(Qt::ALT | Qt::Key_C); }});

    showTrayIcon();
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, this, [this] { m_appDelegate->applicationDidFinishLaunching(); });
}

TintwellApp::~TintwellApp() = default;

void TintwellApp::showTrayIcon() {
    m_trayIcon = std::make_unique<QSystemTrayIcon>(QIcon(QStringLiteral(":/icons/eyedropper.svg")));
    m_trayIcon->setToolTip(QStringLiteral("Daubly"));
    m_trayIcon->setContextMenu(m_menuBarContent->menu());
    // A pull-down menu: the left button opens it as well.
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_menuBarContent->menu()->popup(QCursor::pos());
            });
    m_trayIcon->show();
    Logger logger("App");
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        logger.log("Tray icon shown");
    } else {
        logger.error("No system tray found: the Daubly icon appears once a tray runs (a panel "
                     "with a notification area, or trayer); Alt+C picks meanwhile");
    }
}

void TintwellApp::openSettings() {
    // The Settings window is not part of this build yet.
    Logger("Settings").error("Settings window not found after openSettings()");
}
