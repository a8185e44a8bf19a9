#pragma once

// The onboarding pages and the state the window's view follows: which page is on
// screen and which way the last change went (the push comes from that side).

#include <QObject>
#include <array>
#include <optional>
#include <string_view>

namespace OnboardingFlow {

// Raw values order the pages; "Back" goes to the one whose raw value is one less.
enum class Page { welcome = 0, permission = 1, setup = 2 };

inline constexpr std::array<Page, 3> allPages{Page::welcome, Page::permission, Page::setup};

// None outside 0...2.
std::optional<Page> pageFromRawValue(int rawValue);
constexpr int rawValue(Page page) {
    return static_cast<int>(page);
}
// The text form used in the log ("welcome", "permission", "setup").
std::string_view pageName(Page page);

} // namespace OnboardingFlow

class OnboardingState : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    OnboardingFlow::Page page() const { return m_page; }
    bool isMovingForward() const { return m_isMovingForward; }

    // Forward when the target is not before the current page (the same page counts as
    // forward); each field notifies only when it really changes.
    void go(OnboardingFlow::Page to);

Q_SIGNALS:
    void isMovingForwardChanged(bool isMovingForward);
    void pageChanged(OnboardingFlow::Page page);

private:
    OnboardingFlow::Page m_page = OnboardingFlow::Page::welcome;
    bool m_isMovingForward = true;
};
