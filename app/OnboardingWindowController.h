#pragma once

// Shows the onboarding window: on first launch, when the screen cannot be read, and
// when the user asks to see the introduction again.

#include <string_view>

class OnboardingWindowController {
public:
    enum class Reason { launch, permissionMissing, replay };

    virtual ~OnboardingWindowController() = default;
    virtual void show(Reason reason) = 0;

    // The application's controller, created on first use (main thread).
    static OnboardingWindowController& shared();
};

std::string_view reasonName(OnboardingWindowController::Reason reason);
