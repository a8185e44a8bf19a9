#include "app/OnboardingFlow.h"

namespace OnboardingFlow {

std::optional<Page> pageFromRawValue(int rawValue) {
    for (Page page : allPages) {
        if (OnboardingFlow::rawValue(page) == rawValue)
            return page;
    }
    return std::nullopt;
}

std::string_view pageName(Page page) {
    switch (page) {
    case Page::welcome:
        return "welcome";
    case Page::permission:
        return "permission";
    case Page::setup:
        return "setup";
    }
    return "welcome";
}

} // namespace OnboardingFlow

void OnboardingState::go(OnboardingFlow::Page to) {
    // The direction is set first so that whoever follows the page already knows it.
    const bool forward = to >= m_page;
    if (forward != m_isMovingForward) {
        m_isMovingForward = forward;
        Q_EMIT isMovingForwardChanged(forward);
    }
    if (to != m_page) {
        m_page = to;
        Q_EMIT pageChanged(to);
    }
}
