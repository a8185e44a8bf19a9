// The onboarding flow: pages and their order, the direction rule, the first page per
// reason, where every footer control leads, and how finishing or closing the window
// completes onboarding. The window is real (offscreen); the permission, the clock and
// the picker's services are fakes.

#include "app/OnboardingWindowController.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"
#include "support/FakeScheduler.h"
#include "support/OnboardingFakes.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using OnboardingFlow::Page;
using Reason = OnboardingWindowController::Reason;
using Status = ScreenRecordingPermission::Status;

namespace {

const QString completedKey = QStringLiteral("hasCompletedOnboarding");

struct Harness {
    explicit Harness(Status status = Status::granted)
        : defaults(dir.path() + "/defaults.json")
        , permission(
              defaults, [this] { return granted; }, [] { return false; }, [](const QUrl&) {})
        , setup(defaults) {
        setStatus(status);
        controller =
            std::make_unique<OnboardingWindowController>(OnboardingWindowController::Services{
                defaults, permission, setup.services(),
                [this](std::chrono::milliseconds after) { picks.push_back(after); },
                [this] { return reduceMotion; }, [this](QWidget&) { ++broughtForward; }});
    }

    void setStatus(Status status) {
        granted = status == Status::granted;
        if (status == Status::denied)
            defaults.setValue(QStringLiteral("didRequestScreenCapture"), true);
        permission.refresh();
    }

    OnboardingView& view() { return *controller->window(); }
    // Shows the window on `page` and lets the change settle.
    void openOn(Page page) {
        controller->show(Reason::replay);
        controller->state().go(page);
        view().finishTransition();
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    bool granted = true;
    bool reduceMotion = false;
    ScreenRecordingPermission permission;
    SetupFakes setup;
    std::vector<std::chrono::milliseconds> picks;
    int broughtForward = 0;
    std::unique_ptr<OnboardingWindowController> controller;
};

} // namespace

TEST(OnboardingPageTest, RawValuesOrderThePagesAndNothingOutsideNamesOne) {
    EXPECT_EQ(OnboardingFlow::allPages.size(), 3u);
    EXPECT_LT(Page::welcome, Page::permission);
    EXPECT_LT(Page::permission, Page::setup);
    const struct {
        int raw;
        std::optional<Page> page;
        const char* name;
    } cases[] = {{-1, std::nullopt, ""},
                 {0, Page::welcome, "welcome"},
                 {1, Page::permission, "permission"},
                 {2, Page::setup, "setup"},
                 {3, std::nullopt, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(OnboardingFlow::pageFromRawValue(c.raw), c.page);
        if (c.page) {
            EXPECT_EQ(OnboardingFlow::pageName(*c.page), c.name);
        }
    }
}

TEST(OnboardingStateTest, GoSetsTheDirectionFirstAndNotifiesOnlyRealChanges) {
    // `from` is reached going forward, or going back from setup when `cameBack`.
    const struct {
        const char* name;
        Page from;
        bool cameBack;
        Page to;
        bool forward;
        int pageSignals;
        int directionSignals;
    } cases[] = {
        {"forward one", Page::welcome, false, Page::permission, true, 1, 0},
        {"forward two", Page::welcome, false, Page::setup, true, 1, 0},
        {"back one", Page::setup, false, Page::permission, false, 1, 1},
        {"back after back", Page::permission, true, Page::welcome, false, 1, 0},
        {"forward after back", Page::permission, true, Page::setup, true, 1, 1},
        {"same page: forward, page unchanged", Page::permission, true, Page::permission, true, 0,
         1},
        {"same page when already forward: nothing", Page::setup, false, Page::setup, true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OnboardingState state;
        if (c.cameBack)
            state.go(Page::setup);
        state.go(c.from);
        ASSERT_EQ(state.isMovingForward(), !c.cameBack);

        std::vector<bool> directionSeenByPageSignal;
        QObject::connect(&state, &OnboardingState::pageChanged,
                         [&] { directionSeenByPageSignal.push_back(state.isMovingForward()); });
        QSignalSpy pages(&state, &OnboardingState::pageChanged);
        QSignalSpy directions(&state, &OnboardingState::isMovingForwardChanged);
        state.go(c.to);
        EXPECT_EQ(state.page(), c.to);
        EXPECT_EQ(state.isMovingForward(), c.forward);
        EXPECT_EQ(pages.count(), c.pageSignals);
        EXPECT_EQ(directions.count(), c.directionSignals);
        for (bool seen : directionSeenByPageSignal) {
            EXPECT_EQ(seen, c.forward) << "the page signal sees the new direction";
        }
    }
}

TEST(OnboardingWindowControllerTest, ShowOpensOnTheFirstPageOfItsReason) {
    const struct {
        const char* name;
        Reason reason;
        bool requestedBefore;
        Page page;
    } cases[] = {
        {"launch, never asked", Reason::launch, false, Page::welcome},
        {"launch after the request", Reason::launch, true, Page::permission},
        {"permission missing", Reason::permissionMissing, false, Page::permission},
        {"replay", Reason::replay, true, Page::welcome},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(Status::notRequested);
        if (c.requestedBefore)
            h.defaults.setValue(QStringLiteral("didRequestScreenCapture"), true);
        ScopedLogCapture log;
        h.controller->show(c.reason);
        EXPECT_EQ(h.controller->state().page(), c.page);
        EXPECT_TRUE(h.view().isVisible());
        EXPECT_EQ(h.broughtForward, 1);
        EXPECT_FALSE(h.view().isTransitioning()) << "a closed window opens on its page";
        EXPECT_EQ(h.view().isFooterShown(), c.page != Page::welcome);
        EXPECT_EQ(log.messages("Onboarding"),
                  std::vector<std::string>{"Welcome window shown on page " +
                                           std::string(OnboardingFlow::pageName(c.page))});
        EXPECT_FALSE(h.defaults.contains(completedKey));
    }
}

TEST(OnboardingWindowControllerTest, ShownAgainWhileOpenJumpsBackInPlace) {
    Harness h;
    h.openOn(Page::setup);
    h.view().move(40, 50);
    const QPoint before = h.view().pos();
    h.controller->show(Reason::permissionMissing);
    EXPECT_EQ(h.controller->state().page(), Page::permission);
    EXPECT_FALSE(h.controller->state().isMovingForward()) << "pushed from the leading edge";
    EXPECT_TRUE(h.view().isTransitioning()) << "an open window animates the change";
    EXPECT_EQ(h.view().pos(), before);
}

TEST(OnboardingWindowControllerTest, EveryFooterControlLeadsWhereItShould) {
    enum class Control { getStarted, back, next, tryItNow, done };
    const struct {
        const char* name;
        Page from;
        Control control;
        std::optional<Page> to; // none: the window closed
        std::vector<std::chrono::milliseconds> picks;
    } cases[] = {
        {"Get Started", Page::welcome, Control::getStarted, Page::permission, {}},
        {"Back from permission", Page::permission, Control::back, Page::welcome, {}},
        {"Back from setup", Page::setup, Control::back, Page::permission, {}},
        {"Continue", Page::permission, Control::next, Page::setup, {}},
        {"Try It Now", Page::setup, Control::tryItNow, std::nullopt, {300ms}},
        {"Done", Page::setup, Control::done, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.openOn(c.from);
        OnboardingView& view = h.view();
        QAbstractButton* button = nullptr;
        switch (c.control) {
        case Control::getStarted:
            button = view.currentPage()->defaultButton();
            break;
        case Control::back:
            button = view.backButton();
            break;
        case Control::next:
            button = view.continueButton();
            break;
        case Control::tryItNow:
            button = view.tryItNowButton();
            break;
        case Control::done:
            button = view.doneButton();
            break;
        }
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisibleTo(&view));
        ASSERT_TRUE(button->isEnabled());
        button->click();
        if (c.to) {
            EXPECT_EQ(h.controller->state().page(), *c.to);
            EXPECT_TRUE(view.isVisible());
            EXPECT_FALSE(h.defaults.contains(completedKey));
        } else {
            EXPECT_FALSE(view.isVisible());
            EXPECT_EQ(h.controller->state().page(), Page::setup) << "the state keeps its page";
            EXPECT_TRUE(h.defaults.boolValue(completedKey));
        }
        EXPECT_EQ(h.picks, c.picks);
    }
}

TEST(OnboardingWindowControllerTest, ReturnPressesTheDefaultButtonOfEachPage) {
    const struct {
        Page page;
        std::optional<Page> to;
    } cases[] = {{Page::welcome, Page::permission},
                 {Page::permission, Page::setup},
                 {Page::setup, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(OnboardingFlow::pageName(c.page).data());
        Harness h;
        h.openOn(c.page);
        QTest::keyClick(&h.view(), Qt::Key_Return);
        if (c.to) {
            EXPECT_EQ(h.controller->state().page(), *c.to);
        } else {
            EXPECT_FALSE(h.view().isVisible());
        }
    }
}

TEST(OnboardingWindowControllerTest, FooterFollowsThePermission) {
    const struct {
        Status status;
        const char* next;
        bool tryItNow;
        const char* tooltip;
    } cases[] = {
        {Status::notRequested, "Set Up Later", false, "Allow Screen Recording first"},
        {Status::denied, "Set Up Later", false, "Allow Screen Recording first"},
        {Status::granted, "Continue", true, "Close this window and pick a color"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.next);
        Harness h(Status::notRequested);
        h.openOn(Page::setup);
        // The footer follows a change that arrives while the window is open.
        h.setStatus(c.status);
        EXPECT_EQ(h.view().tryItNowButton()->isEnabled(), c.tryItNow);
        EXPECT_EQ(h.view().tryItNowButton()->toolTip(), c.tooltip);
        h.controller->state().go(Page::permission);
        EXPECT_EQ(h.view().continueButton()->text(), c.next);
        EXPECT_TRUE(h.view().continueButton()->isEnabled());
    }
}

TEST(OnboardingWindowControllerTest, FooterOnlyOffTheWelcomePageWithTheRightButtons) {
    Harness h;
    h.openOn(Page::welcome);
    EXPECT_FALSE(h.view().isFooterShown());
    h.controller->state().go(Page::permission);
    EXPECT_TRUE(h.view().isFooterShown());
    EXPECT_EQ(h.view().pageDots()->accessibleName(), "Page 2 of 3");
    EXPECT_TRUE(h.view().continueButton()->isVisibleTo(&h.view()));
    EXPECT_FALSE(h.view().doneButton()->isVisibleTo(&h.view()));
    h.controller->state().go(Page::setup);
    EXPECT_EQ(h.view().pageDots()->accessibleName(), "Page 3 of 3");
    EXPECT_FALSE(h.view().continueButton()->isVisibleTo(&h.view()));
    EXPECT_TRUE(h.view().doneButton()->isVisibleTo(&h.view()));
    EXPECT_TRUE(h.view().tryItNowButton()->isVisibleTo(&h.view()));
}

TEST(OnboardingWindowControllerTest, EveryWayOfClosingCompletesOnboarding) {
    const struct {
        const char* name;
        std::function<void(Harness&)> close;
    } cases[] = {
        {"Done",
         [](Harness& h) { h.controller->finish(OnboardingWindowController::Finish::done); }},
        {"close button", [](Harness& h) { h.view().close(); }},
        {"Escape", [](Harness& h) { QTest::keyClick(&h.view(), Qt::Key_Escape); }},
        {"Ctrl+W", [](Harness& h) { QTest::keyClick(&h.view(), Qt::Key_W, Qt::ControlModifier); }},
    };
    for (Page page : OnboardingFlow::allPages) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " on " +
                         std::string(OnboardingFlow::pageName(page)));
            Harness h;
            h.openOn(page);
            c.close(h);
            EXPECT_FALSE(h.view().isVisible());
            EXPECT_TRUE(h.defaults.boolValue(completedKey));
            EXPECT_TRUE(h.picks.empty());
        }
    }
}

TEST(OnboardingWindowControllerTest, ReplayAfterCompletionReusesTheWindowAndRewritesTheFlag) {
    Harness h;
    h.openOn(Page::setup);
    OnboardingView* window = h.controller->window();
    h.controller->finish(OnboardingWindowController::Finish::done);
    h.defaults.removeValue(completedKey);
    h.controller->show(Reason::replay);
    EXPECT_EQ(h.controller->window(), window);
    EXPECT_EQ(h.controller->state().page(), Page::welcome);
    EXPECT_FALSE(h.view().isFooterShown());
    h.controller->finish(OnboardingWindowController::Finish::done);
    EXPECT_TRUE(h.defaults.boolValue(completedKey));
}

TEST(OnboardingWindowControllerTest, TryItNowPicksThreeHundredMillisecondsAfterClosing) {
    // The real picker controller over a fake clock and capture.
    struct Capture final : ScreenCapture {
        void captureAllDisplays(std::function<void(CaptureResult)>) override { ++requests; }
        int requests = 0;
    } capture;
    struct NoOnboarding final : OnboardingWindowController {
        void show(Reason) override {}
    } noOnboarding;
    Harness h;
    FakeScheduler scheduler;
    PickerController picker({capture, h.permission, noOnboarding, h.defaults, scheduler,
                             [](std::vector<DisplaySnapshot>, ColorFormat) {
                                 return std::shared_ptr<PickerController::Session>();
                             },
                             [](const PickedColor&) {}});
    OnboardingWindowController controller(
        {h.defaults, h.permission, h.setup.services(),
         [&](std::chrono::milliseconds after) { picker.start(after); }, [] { return false; },
         nullptr});
    controller.show(Reason::replay);
    controller.state().go(Page::setup);
    controller.window()->finishTransition();

    controller.window()->tryItNowButton()->click();
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_TRUE(h.defaults.boolValue(completedKey));
    EXPECT_EQ(picker.phase(), PickerController::Phase::capturing);
    scheduler.advance(299ms);
    EXPECT_EQ(capture.requests, 0);
    scheduler.advance(1ms);
    EXPECT_EQ(capture.requests, 1);
}

TEST(OnboardingWindowControllerTest, AControllerWithoutAWindowShowsNothing) {
    struct Bare final : OnboardingWindowController {
        using OnboardingWindowController::show;
    } bare;
    ScopedLogCapture log;
    bare.show(Reason::launch);
    EXPECT_EQ(bare.window(), nullptr);
    EXPECT_TRUE(log.messages("Onboarding").empty());
}

TEST(OnboardingViewTest, PageChangesMoveCachedImagesAndTheBackgroundIsRenderedOnce) {
    const struct {
        const char* name;
        bool reduceMotion;
    } cases[] = {{"push", false}, {"cross-fade", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.reduceMotion = c.reduceMotion;
        h.openOn(Page::permission);
        OnboardingView& view = h.view();
        view.grab();
        const int renders = view.background().renderCount();
        EXPECT_EQ(renders, 1);
        OnboardingPage* before = view.currentPage();
        view.continueButton()->click();
        ASSERT_TRUE(view.isTransitioning());
        EXPECT_NE(view.currentPage(), before) << "the new page replaces the old one";
        EXPECT_FALSE(view.currentPage()->isVisible()) << "the frames paint its image";
        for (double p : {0.0, 0.25, 0.5, 0.75, 1.0}) {
            view.setTransitionProgress(p);
            view.grab();
        }
        view.finishTransition();
        EXPECT_TRUE(view.currentPage()->isVisible());
        EXPECT_EQ(view.background().renderCount(), renders);
    }
}

TEST(OnboardingViewTest, BackgroundIsRenderedAgainOnlyForAnotherSchemeOrSize) {
    OnboardingBackground background;
    using Scheme = OnboardingBackground::ColorScheme;
    background.pixmap({720, 600}, 1.0, Scheme::light);
    background.pixmap({720, 600}, 1.0, Scheme::light);
    EXPECT_EQ(background.renderCount(), 1);
    background.pixmap({720, 600}, 1.0, Scheme::dark);
    EXPECT_EQ(background.renderCount(), 2);
    background.pixmap({1440, 1200}, 2.0, Scheme::dark);
    EXPECT_EQ(background.renderCount(), 3);
    // The dark scheme's gradient is stronger (0.22 against 0.16) where it is coloured.
    const QImage light = OnboardingBackground::renderGradient({720, 600}, 1.0, Scheme::light);
    const QImage dark = OnboardingBackground::renderGradient({720, 600}, 1.0, Scheme::dark);
    const QPoint topLeft(90, 60);
    EXPECT_GT(qAlpha(dark.pixel(topLeft)), qAlpha(light.pixel(topLeft)));
    EXPECT_GT(qAlpha(light.pixel(topLeft)), 0);
    // The clear points leave the lower right untouched.
    EXPECT_EQ(qAlpha(light.pixel(700, 590)), 0);
}
