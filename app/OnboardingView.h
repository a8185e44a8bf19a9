#pragma once

// The onboarding window's content: the page area over the mesh background and, on
// every page but the welcome page, the footer with Back, the page dots and the way on.
//
// A page change slides the new page in from the trailing edge going forward and from
// the leading edge going back, on a critically damped spring; with reduced motion it
// cross-fades in 0.2 s. Both pages are captured once as images when the change starts
// and the frames only move those images: nothing is laid out while it runs.

#include "app/OnboardingComponents.h"
#include "app/OnboardingFlow.h"
#include "app/OnboardingPages.h"

#include <QWidget>
#include <functional>

class ScreenRecordingPermission;
class QVariantAnimation;
class OnboardingPageArea;

class OnboardingView : public QWidget {
    Q_OBJECT

public:
    enum class Finish { done, tryItNow };

    struct Environment {
        ScreenRecordingPermission& permission;
        SetupServices setup;
        // The desktop asks for less motion (read at each page change).
        std::function<bool()> reduceMotion;
    };

    static constexpr QSize windowSize{720, 600};

    OnboardingView(OnboardingState& state, Environment environment,
                   std::function<void(Finish)> finish, QWidget* parent = nullptr);
    ~OnboardingView() override;

    // The page on screen (the incoming one while a change runs).
    OnboardingPage* currentPage() const;
    bool isFooterShown() const { return m_footerShown; }
    CapsuleButton* backButton() const { return m_back; }
    CapsuleButton* continueButton() const { return m_continue; }
    CapsuleButton* tryItNowButton() const { return m_tryItNow; }
    CapsuleButton* doneButton() const { return m_done; }
    PageDots* pageDots() const { return m_dots; }
    // What Return presses on the current page.
    QAbstractButton* defaultButton() const;

    // The change in progress, if any: its images, and a way to step it by hand.
    bool isTransitioning() const;
    void setTransitionProgress(double progress);
    void finishTransition();
    const OnboardingBackground& background() const { return m_background; }
    // Called once, after the first paint that follows; to time start-up.
    void whenPainted(std::function<void()> painted) { m_painted = std::move(painted); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void navigate(OnboardingFlow::Page to);
    void pageChanged(OnboardingFlow::Page page);
    OnboardingPage* makePage(OnboardingFlow::Page page);
    void buildFooter();
    void updateFooter();
    void setFooterShown(bool shown, bool animated, bool reduceMotion);
    void layoutChildren();

    OnboardingState& m_state;
    Environment m_environment;
    std::function<void(Finish)> m_finish;
    OnboardingBackground m_background;
    OnboardingPageArea* m_area;
    QWidget* m_footer;
    bool m_footerShown = false;
    QVariantAnimation* m_footerFade = nullptr;
    CapsuleButton* m_back;
    PageDots* m_dots;
    CapsuleButton* m_continue;
    CapsuleButton* m_tryItNow;
    CapsuleButton* m_done;
    std::function<void()> m_painted;
};
