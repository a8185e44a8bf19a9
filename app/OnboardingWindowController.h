#pragma once

// Owns the onboarding window (made once, reused) and its state. Shows it on first
// launch, when a pick finds the screen cannot be read, and when the user asks to see
// the introduction again; finishing or closing it marks onboarding as completed.

#include "app/OnboardingFlow.h"
#include "app/OnboardingView.h"
#include "platform/Logger.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class ScreenRecordingPermission;
class UserDefaults;

class OnboardingWindowController : public QObject {
    Q_OBJECT

public:
    enum class Reason { launch, permissionMissing, replay };
    using Finish = OnboardingView::Finish;

    struct Services {
        UserDefaults& defaults;
        ScreenRecordingPermission& permission;
        // What the setup page's rows work with.
        SetupServices setup;
        // Starts a pick once the delay has passed (the picker controller's start).
        std::function<void(std::chrono::milliseconds after)> startPick;
        // The desktop asks for less motion.
        std::function<bool()> reduceMotion;
        // Moves the window to the current workspace and activates it.
        std::function<void(QWidget& window)> bringForward;
        // The window is on screen after being opened (for timing; may be empty).
        std::function<void()> windowPainted = nullptr;
    };

    static constexpr std::chrono::milliseconds tryItNowDelay{300};

    explicit OnboardingWindowController(Services services, QObject* parent = nullptr);
    ~OnboardingWindowController() override;

    // The application's controller with its window, created on first use (main thread).
    static OnboardingWindowController& shared();

    OnboardingState& state() { return m_state; }
    // None for a controller made without one (a stand-in in tests of its callers).
    OnboardingView* window() const { return m_window.get(); }

    // Chooses the first page for `reason`, then brings the window forward.
    virtual void show(Reason reason);
    // Completes onboarding from the footer: the flag, the window closed, then the pick.
    void finish(Finish finish);

    // The first page for `reason`; `hasRequested`: the permission was asked for before.
    static OnboardingFlow::Page firstPage(Reason reason, bool hasRequested);

protected:
    // A controller without a window: show() does nothing. For stand-ins.
    OnboardingWindowController();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowShouldClose();

    std::optional<Services> m_services;
    OnboardingState m_state;
    std::unique_ptr<OnboardingView> m_window;
    Logger m_logger{"Onboarding"};
};

std::string_view reasonName(OnboardingWindowController::Reason reason);
