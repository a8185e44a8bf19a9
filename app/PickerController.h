#pragma once

// The single owner of the running pick. Every trigger calls start() or cancel(); the
// controller checks the permission, has every monitor captured, turns the capture
// into a session that shows the overlays, and records a copied colour. Capture
// results that arrive after a cancel or a newer start are dropped: the attempt
// number, checked after every wait, is what makes that safe without locks.

#include "colors/ColorFormat.h"
#include "platform/DisplaySnapshot.h"
#include "platform/Logger.h"
#include "platform/Scheduler.h"
#include "platform/ScreenCapture.h"

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

class OnboardingWindowController;
class ScreenRecordingPermission;
class UserDefaults;

class PickerController : public QObject {
    Q_OBJECT

public:
    enum class Phase { idle, capturing, picking };
    Q_ENUM(Phase)

    // What the controller needs of a pick session (PickerSession is the real one).
    class Session {
    public:
        struct Copied {
            PickedColor color;
            ColorFormat format;
        };
        struct Cancelled {};
        using Outcome = std::variant<Copied, Cancelled>;

        virtual ~Session() = default;
        // Called exactly once, when the session ends.
        virtual void setOnFinish(std::function<void(const Outcome&)> onFinish) = 0;
        virtual void begin() = 0;
        virtual void cancel() = 0;
        virtual bool isFinished() const = 0;
        // Called once, when the loupe of this pick is first on screen; sessions that
        // cannot tell never call it.
        virtual void setOnLoupePainted(std::function<void()> onLoupePainted) {
            static_cast<void>(onLoupePainted);
        }
    };
    // Shared so that a session can keep itself alive after it has finished (the fade
    // after a copy outlives the controller's hold on it).
    using SessionFactory =
        std::function<std::shared_ptr<Session>(std::vector<DisplaySnapshot>, ColorFormat)>;

    struct Services {
        ScreenCapture& capture;
        ScreenRecordingPermission& permission;
        OnboardingWindowController& onboarding;
        UserDefaults& defaults;
        Scheduler& scheduler;
        SessionFactory makeSession;
        std::function<void(const PickedColor&)> addToHistory;
    };

    explicit PickerController(Services services, QObject* parent = nullptr);
    ~PickerController() override;

    // The application's controller. Start-up makes it once with the platform's services
    // (configureSharedInstances); asking for it before then is a programming error.
    static void makeShared(Services services);
    static PickerController& shared();

    Phase phase() const { return m_phase; }
    std::int64_t attempt() const { return m_attempt; }
    Session* session() const { return m_session.get(); }

    // Begins a pick once `after` has passed; ignored unless idle.
    void start(std::chrono::milliseconds after);
    // A start is likely soon (the pick's shortcut is down): the capture may get ready.
    // Ignored unless idle with the permission granted.
    void prepare();
    // Stops whatever runs; ignored when idle.
    void cancel();

Q_SIGNALS:
    void phaseChanged(PickerController::Phase phase);
    // The running pick could not capture the screens; `reason` says why, for the user.
    void captureFailed(const QString& reason);

private:
    void setPhase(Phase phase);
    void runCapture(std::int64_t attempt);
    void captureFinished(std::int64_t attempt, Scheduler::Clock::time_point started,
                         CaptureResult result);
    void finish(const Session::Outcome& outcome);
    void showPermissionOnboardingIfNeeded();

    Services m_services;
    Phase m_phase = Phase::idle;
    std::shared_ptr<Session> m_session;
    std::int64_t m_attempt = 0;
    // When the running pick was asked for: its first painted loupe is timed from here.
    Scheduler::Clock::time_point m_triggered;
    Logger m_logger{"Picker"};
};
