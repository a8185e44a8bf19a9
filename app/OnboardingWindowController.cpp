#include "app/OnboardingWindowController.h"

#include "app/DesktopShortcutEntry.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "app/SettingsWindow.h"
#include "app/SharedInstances.h"
#include "app/TintwellApp.h"
#include "platform/ApplicationActivation.h"
#include "platform/DesktopSettings.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessClock.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWindow>

namespace {
const QString completedKey = QStringLiteral("hasCompletedOnboarding");
}

std::string_view reasonName(OnboardingWindowController::Reason reason) {
    switch (reason) {
    case OnboardingWindowController::Reason::launch:
        return "launch";
    case OnboardingWindowController::Reason::permissionMissing:
        return "permissionMissing";
    case OnboardingWindowController::Reason::replay:
        return "replay";
    }
    return "launch";
}

OnboardingWindowController::OnboardingWindowController() = default;

OnboardingWindowController::OnboardingWindowController(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services)) {
    // The view holds the controller weakly: once it is gone, finishing does nothing.
    QPointer<OnboardingWindowController> self(this);
    m_window = std::make_unique<OnboardingView>(
        m_state,
        OnboardingView::Environment{m_services->permission, m_services->setup,
                                    m_services->reduceMotion},
        [self](Finish finish) {
            if (self)
                self->finish(finish);
        });
    m_window->setWindowTitle(tr("Welcome to Daubly"));
    // Titled and closable; no minimise or maximise button, and a fixed size.
    m_window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint);
    m_window->setFixedSize(OnboardingView::windowSize);
    m_window->installEventFilter(this);
}

OnboardingWindowController::~OnboardingWindowController() = default;

OnboardingWindowController& OnboardingWindowController::shared() {
    PlatformServices& platform = sharedPlatform();
    // Never destroyed: the window outlives every caller, to the end of the process.
    static OnboardingWindowController* controller = new OnboardingWindowController(Services{
        UserDefaults::standard(), ScreenRecordingPermission::shared(),
        SetupServices{UserDefaults::standard(), platform.loginItems(),
                      ApplicationActivation::shared(), activatePicker(),
                      KeyboardShortcuts::Recorder::defaultEnvironment(),
                      &DesktopShortcutEntry::shared()},
        [](std::chrono::milliseconds after) { PickerController::shared().start(after); },
        [] { return DesktopSettings::reduceMotion(); },
        [&platform](QWidget& window) { bringWindowForward(&window, platform.workspace()); },
        [&platform] {
            // Start-up as the user feels it: from the process start to the window on
            // screen.
            platform.workspace().waitForDisplay();
            if (const auto elapsed = ProcessClock::sinceProcessStart()) {
                Logger("Onboarding")
                    .log("Welcome window painted %ld ms after the process started",
                         static_cast<long>(elapsed->count()));
            }
        }});
    return *controller;
}

OnboardingFlow::Page OnboardingWindowController::firstPage(Reason reason, bool hasRequested) {
    switch (reason) {
    case Reason::launch:
        return hasRequested ? OnboardingFlow::Page::permission : OnboardingFlow::Page::welcome;
    case Reason::permissionMissing:
        return OnboardingFlow::Page::permission;
    case Reason::replay:
        return OnboardingFlow::Page::welcome;
    }
    return OnboardingFlow::Page::welcome;
}

void OnboardingWindowController::show(Reason reason) {
    if (!m_window || !m_services)
        return;
    const OnboardingFlow::Page page = firstPage(reason, m_services->permission.hasRequested());
    m_state.go(page);
    m_logger.log("Welcome window shown on page %{public}s", OnboardingFlow::pageName(page));

    if (!m_window->isVisible()) {
        // Centred on the screen the user is working on; a visible window stays put.
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(), OnboardingView::windowSize);
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    // No dock here: the window shows in the task bar like any other.
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    if (!m_window->isVisible() && m_services->windowPainted) {
        m_window->whenPainted([this] {
            if (m_services && m_services->windowPainted)
                m_services->windowPainted();
        });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (m_services->bringForward)
        m_services->bringForward(*m_window);
}

void OnboardingWindowController::finish(Finish finish) {
    if (!m_services)
        return;
    m_services->defaults.setValue(completedKey, true);
    if (m_window)
        m_window->close();
    if (finish == Finish::tryItNow && m_services->startPick)
        m_services->startPick(tryItNowDelay);
}

void OnboardingWindowController::windowShouldClose() {
    // However the user closes the window, onboarding counts as done.
    m_services->defaults.setValue(completedKey, true);
}

bool OnboardingWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (m_window && watched == m_window.get() && event->type() == QEvent::Close)
        windowShouldClose();
    return QObject::eventFilter(watched, event);
}
