#include "app/OnboardingWindowController.h"

#include "platform/Logger.h"

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

namespace {

// The onboarding window is not built yet; until it is, a request is logged so that
// it is visible (and testable) that one was made.
class PendingOnboardingWindowController final : public OnboardingWindowController {
public:
    void show(Reason reason) override {
        m_logger.log("Onboarding requested (%{public}s); the onboarding window is not available "
                     "in this build",
                     reasonName(reason));
    }

private:
    Logger m_logger{"Onboarding"};
};

} // namespace

OnboardingWindowController& OnboardingWindowController::shared() {
    static PendingOnboardingWindowController controller;
    return controller;
}
