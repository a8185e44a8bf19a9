#include "app/AppDelegate.h"

#include "app/PickerController.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QPointer>

AppDelegate::AppDelegate(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_updaterController(m_userDriverDelegate, m_services.defaults)
    , m_checkForUpdates(m_updaterController.updater()) {}

void AppDelegate::pickTrigger(PickerController& controller) {
    if (controller.phase() == PickerController::Phase::idle)
        controller.start(std::chrono::milliseconds(0));
    else
        controller.cancel();
}

void AppDelegate::applicationDidFinishLaunching() {
    m_services.addPickShortcutKeyUpHandler(
        [resolve = m_services.pickerController] { pickTrigger(resolve()); });

    if (m_services.defaults.boolValue(QStringLiteral("hasCompletedOnboarding")))
        return;
    // Shown just after launching has finished, not inside it.
    QPointer<AppDelegate> self(this);
    m_services.scheduler.schedule(std::chrono::milliseconds(0), [self] {
        if (self)
            self->m_services.onboarding.show(OnboardingWindowController::Reason::launch);
    });
}
