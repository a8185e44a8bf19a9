#include "app/PickerController.h"

#include "app/ColorFormatSetting.h"
#include "app/ColorHistory.h"
#include "app/OnboardingWindowController.h"
#include "app/PickerSession.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/UserDefaults.h"

#include <QPointer>

PickerController::PickerController(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services)) {}

PickerController::~PickerController() = default;

void PickerController::setPhase(Phase phase) {
    if (phase == m_phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged(phase);
}

void PickerController::start(std::chrono::milliseconds after) {
    if (m_phase != Phase::idle)
        return;
    setPhase(Phase::capturing);
    const std::int64_t attempt = ++m_attempt;
    m_triggered = m_services.scheduler.now();
    m_logger.log("Color picker started");
    if (after.count() > 0)
        m_services.capture.prepare(); // while the delay runs

    // The task holds the controller weakly: a controller that is gone captures nothing.
    QPointer<PickerController> self(this);
    m_services.scheduler.schedule(std::max(after, std::chrono::milliseconds(0)), [self, attempt] {
        if (self)
            self->runCapture(attempt);
    });
}

void PickerController::prepare() {
    if (m_phase == Phase::idle &&
        m_services.permission.status() == ScreenRecordingPermission::Status::granted)
        m_services.capture.prepare();
}

void PickerController::runCapture(std::int64_t attempt) {
    // Cancelled, and perhaps restarted, during the delay.
    if (attempt != m_attempt || m_phase != Phase::capturing)
        return;

    m_services.permission.refresh();
    if (m_services.permission.status() != ScreenRecordingPermission::Status::granted) {
        m_logger.log("Screen Recording permission missing");
        setPhase(Phase::idle);
        m_services.onboarding.show(OnboardingWindowController::Reason::permissionMissing);
        return;
    }

    const Scheduler::Clock::time_point started = m_services.scheduler.now();
    QPointer<PickerController> self(this);
    m_services.capture.captureAllDisplays([self, attempt, started](CaptureResult result) {
        if (self)
            self->captureFinished(attempt, started, std::move(result));
    });
}

void PickerController::captureFinished(std::int64_t attempt, Scheduler::Clock::time_point started,
                                       CaptureResult result) {
    if (result.error) {
        // Logged even when stale: a failing capture is worth knowing about regardless.
        m_logger.error("Screen capture failed: %{public}s", *result.error);
        if (attempt == m_attempt) {
            setPhase(Phase::idle);
            showPermissionOnboardingIfNeeded();
            Q_EMIT captureFailed(*result.error);
        }
        return;
    }
    if (attempt != m_attempt || m_phase != Phase::capturing)
        return;
    if (result.snapshots.empty()) {
        m_logger.error("Screen capture returned no screen");
        setPhase(Phase::idle);
        Q_EMIT captureFailed(tr("No screen could be captured."));
        return;
    }

    const ColorFormat format = storedCopyFormat(m_services.defaults);
    const std::size_t screenCount = result.snapshots.size();
    std::shared_ptr<Session> session = m_services.makeSession(std::move(result.snapshots), format);
    QPointer<PickerController> self(this);
    session->setOnFinish([self](const Session::Outcome& outcome) {
        if (self)
            self->finish(outcome);
    });
    // The figure the user feels: from the trigger (the delay included) to the loupe.
    session->setOnLoupePainted([self, attempt] {
        if (!self || attempt != self->m_attempt)
            return;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            self->m_services.scheduler.now() - self->m_triggered);
        self->m_logger.log("Loupe painted %ld ms after the pick was triggered",
                           static_cast<long>(elapsed.count()));
    });
    m_session = std::move(session);
    setPhase(Phase::picking);
    m_session->begin();

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_services.scheduler.now() - started);
    m_logger.log("Magnifier shown %ld ms after capture started, %ld screen(s)",
                 static_cast<long>(elapsed.count()), static_cast<long>(screenCount));
}

void PickerController::finish(const Session::Outcome& outcome) {
    // The session is usually the caller: let go of it, but release it only once this
    // call has returned.
    if (std::shared_ptr<Session> finished = std::move(m_session)) {
        QMetaObject::invokeMethod(
            this, [finished] {}, Qt::QueuedConnection);
    }
    setPhase(Phase::idle);
    if (const auto* copied = std::get_if<Session::Copied>(&outcome)) {
        m_services.addToHistory(copied->color);
        m_logger.log("Copied color as %{public}s", std::string(rawValue(copied->format)));
    } else {
        m_logger.log("Color picker cancelled");
    }
}

void PickerController::cancel() {
    switch (m_phase) {
    case Phase::idle:
        return;
    case Phase::capturing:
        ++m_attempt;
        setPhase(Phase::idle);
        m_logger.log("Color picker cancelled during capture");
        return;
    case Phase::picking:
        if (m_session && !m_session->isFinished())
            m_session->cancel();
        return;
    }
}

void PickerController::showPermissionOnboardingIfNeeded() {
    m_services.permission.refresh();
    if (m_services.permission.status() != ScreenRecordingPermission::Status::granted)
        m_services.onboarding.show(OnboardingWindowController::Reason::permissionMissing);
}

namespace {
PickerController*& sharedController() {
    // Never destroyed: the platform services it holds outlive main().
    static PickerController* controller = nullptr;
    return controller;
}
} // namespace

void PickerController::makeShared(Services services) {
    Q_ASSERT_X(!sharedController(), "PickerController::makeShared", "called twice");
    if (!sharedController())
        sharedController() = new PickerController(std::move(services));
}

PickerController& PickerController::shared() {
    if (!sharedController())
        qFatal("PickerController::shared() before start-up made it");
    return *sharedController();
}
