#include "app/PickerSession.h"
#include "support/FakeScheduler.h"

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>

namespace {

using namespace std::chrono_literals;

class FakeWorkspace final : public Workspace {
public:
    std::optional<WindowID> activeWindow() const override { return previousWindow; }
    void activateWindow(WindowID window) override {
        calls.push_back("activate " + std::to_string(window));
    }
    std::vector<WorkspaceScreen> screens() const override { return screenList; }
    QPointF mouseLocation() const override { return mouse; }
    void hideCursor() override { calls.push_back("hideCursor"); }
    void showCursor() override { calls.push_back("showCursor"); }
    void setClipboardText(const QString& text) override { clipboard.push_back(text); }
    bool grabInput(QWindow*) override {
        calls.push_back("grab");
        return grabSucceeds;
    }
    void releaseInput() override { calls.push_back("release"); }
    void installKeyMonitor(std::function<void(int)> handler) override {
        calls.push_back("installKeyMonitor");
        keyHandler = std::move(handler);
    }
    void removeKeyMonitor() override {
        calls.push_back("removeKeyMonitor");
        keyHandler = nullptr;
    }
    void waitForDisplay() override { ++displayWaits; }
    bool canFadeWindows() const override { return fades; }

    void press(int keyCode) {
        if (keyHandler) {
            keyHandler(keyCode);
        }
    }
    int count(const std::string& call) const {
        return int(std::count(calls.begin(), calls.end(), call));
    }

    std::optional<WindowID> previousWindow = 77;
    std::vector<WorkspaceScreen> screenList;
    QPointF mouse;
    bool grabSucceeds = true;
    bool fades = true;
    std::vector<QString> clipboard;
    std::vector<std::string> calls;
    std::function<void(int)> keyHandler;
    int displayWaits = 0;
};

struct OverlayRecord {
    std::uint32_t displayID = 0;
    std::vector<std::string> calls;
    bool loupeShown = false;
    QString label;
    QPointF point;
    std::optional<QImage> patch;
    bool closed = false;
    bool throwOnShowLoupe = false;
    bool throwOnClose = false;
};

class FakeOverlay final : public PickerOverlay {
public:
    explicit FakeOverlay(std::shared_ptr<OverlayRecord> record)
        : m_record(std::move(record)) {}
    void setDelegate(OverlayViewDelegate*) override { m_record->calls.push_back("setDelegate"); }
    void orderFront() override { m_record->calls.push_back("orderFront"); }
    void makeKey() override { m_record->calls.push_back("makeKey"); }
    QWindow* window() const override { return nullptr; }
    void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const PickedColor&) override {
        if (m_record->throwOnShowLoupe) {
            throw std::runtime_error("loupe broke");
        }
        m_record->loupeShown = true;
        m_record->label = text;
        m_record->point = point;
        m_record->patch = patch;
    }
    void hideLoupe() override { m_record->loupeShown = false; }
    void showCopied() override { m_record->calls.push_back("showCopied"); }
    void showArrowCursor() override { m_record->calls.push_back("showArrowCursor"); }
    void fadeOut(std::chrono::milliseconds) override { m_record->calls.push_back("fadeOut"); }
    void close() override {
        if (m_record->throwOnClose) {
            throw std::runtime_error("close broke");
        }
        m_record->calls.push_back("close");
        m_record->closed = true;
    }

private:
    std::shared_ptr<OverlayRecord> m_record;
};

// An image whose every pixel has its own colour: red = column, green = row.
QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x % 256, y % 256, 128));
        }
    }
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

// Two monitors side by side: A (id 1) 100 x 80 points at scale 1, B (id 2) 100 x 80
// points at scale 2, right of A.
class PickerSessionTest : public ::testing::Test {
public:
    PickerSessionTest() {
        snapshots.push_back({1, gradient(100, 80), QRectF(0, 0, 100, 80), "A"});
        snapshots.push_back({2, gradient(200, 160), QRectF(100, 0, 100, 80), "B"});
        workspace.screenList = {{1, QRectF(0, 0, 100, 80), nullptr},
                                {2, QRectF(100, 0, 100, 80), nullptr}};
    }

    void start(QPointF mouse) {
        workspace.mouse = mouse;
        session = std::make_unique<PickerSession>(
            snapshots, ColorFormat::hex, workspace, scheduler,
            [this](const DisplaySnapshot& snapshot, const WorkspaceScreen&) {
                auto record = std::make_shared<OverlayRecord>();
                record->displayID = snapshot.displayID;
                overlays.push_back(record);
                return std::make_unique<FakeOverlay>(record);
            });
        session->setOnFinish(
            [this](const PickerSession::Outcome& outcome) { outcomes.push_back(outcome); });
        session->begin();
    }
    void move(QPointF mouse) {
        workspace.mouse = mouse;
        session->overlayViewDidMoveMouse(nullptr);
    }
    PixelPoint selected() const { return session->selection().value().pixel; }
    bool allClosed() const {
        return std::all_of(overlays.begin(), overlays.end(),
                           [](const auto& o) { return o->closed; });
    }

    std::vector<DisplaySnapshot> snapshots;
    FakeWorkspace workspace;
    FakeScheduler scheduler;
    std::vector<std::shared_ptr<OverlayRecord>> overlays;
    std::vector<PickerSession::Outcome> outcomes;
    std::unique_ptr<PickerSession> session;
};

TEST_F(PickerSessionTest, CoversMatchedMonitorsAndFollowsTheMouse) {
    snapshots.push_back({9, gradient(10, 10), QRectF(0, 80, 10, 10), "C"}); // no such screen
    start({150.25, 70.5});

    ASSERT_EQ(overlays.size(), 2u);
    EXPECT_EQ(session->overlayCount(), 2u);
    // The key overlay is the one under the mouse, and it holds the grab.
    EXPECT_EQ(overlays[0]->calls, (std::vector<std::string>{"setDelegate", "orderFront"}));
    EXPECT_EQ(overlays[1]->calls,
              (std::vector<std::string>{"setDelegate", "orderFront", "makeKey"}));
    EXPECT_EQ(workspace.calls,
              (std::vector<std::string>{"grab", "hideCursor", "installKeyMonitor"}));

    // Scale 2: the point (50.25, 9.5) into B is column 100, row 19; only B shows a loupe,
    // centred on the mouse in B's view coordinates.
    EXPECT_EQ(selected(), (PixelPoint{100, 19}));
    EXPECT_EQ(session->selection()->overlayIndex, 1);
    EXPECT_FALSE(overlays[0]->loupeShown);
    EXPECT_TRUE(overlays[1]->loupeShown);
    EXPECT_EQ(overlays[1]->point, QPointF(50.25, 70.5));
    EXPECT_EQ(overlays[1]->label,
              QString::fromStdString(text(session->selection()->color, ColorFormat::hex)));
    ASSERT_TRUE(overlays[1]->patch);
    EXPECT_EQ(overlays[1]->patch->size(), QSize(17, 17));

    move({20, 30});
    EXPECT_TRUE(overlays[0]->loupeShown);
    EXPECT_FALSE(overlays[1]->loupeShown);
    EXPECT_EQ(selected(), (PixelPoint{20, 50}));
}

struct KeyCase {
    const char* name;
    int keyCode;
    PickerSession::Nudge nudge;
    enum { running, copied, cancelled } ends;
};

class KeyTable : public PickerSessionTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTable, EachKeyDoesItsOneThing) {
    const KeyCase& key = GetParam();
    start({50.5, 40.5}); // pixel (50, 39) of A, far from every edge
    const QString label = overlays[0]->label;
    workspace.press(key.keyCode);

    EXPECT_EQ(session->nudge(), key.nudge);
    switch (key.ends) {
    case KeyCase::running:
        EXPECT_EQ(selected(), (PixelPoint{50 + key.nudge.x, 39 + key.nudge.y}));
        EXPECT_TRUE(outcomes.empty());
        EXPECT_FALSE(session->isFinished());
        EXPECT_TRUE(workspace.clipboard.empty());
        break;
    case KeyCase::copied:
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_TRUE(std::holds_alternative<PickerSession::Session::Copied>(outcomes[0]));
        EXPECT_EQ(workspace.clipboard, std::vector<QString>{label});
        break;
    case KeyCase::cancelled:
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_TRUE(std::holds_alternative<PickerSession::Session::Cancelled>(outcomes[0]));
        EXPECT_TRUE(workspace.clipboard.empty());
        EXPECT_TRUE(allClosed());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTable,
                         ::testing::Values(KeyCase{"Return", 36, {0, 0}, KeyCase::copied},
                                           KeyCase{"KeypadEnter", 76, {0, 0}, KeyCase::copied},
                                           KeyCase{"Escape", 53, {0, 0}, KeyCase::cancelled},
                                           KeyCase{"Left", 123, {-1, 0}, KeyCase::running},
                                           KeyCase{"Right", 124, {1, 0}, KeyCase::running},
                                           KeyCase{"Down", 125, {0, 1}, KeyCase::running},
                                           KeyCase{"Up", 126, {0, -1}, KeyCase::running},
                                           KeyCase{"LetterC", 8, {0, 0}, KeyCase::running},
                                           KeyCase{"Unmapped", -1, {0, 0}, KeyCase::running}),
                         [](const auto& info) { return std::string(info.param.name); });

struct EdgeCase {
    const char* name;
    QPointF mouse; // on monitor A, 100 x 80
    int keyCode;
    PixelPoint pixel;
};

class EdgeTable : public PickerSessionTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeTable, AnArrowAtTheEdgeChangesNothing) {
    const EdgeCase& edge = GetParam();
    start(edge.mouse);
    ASSERT_EQ(selected(), edge.pixel);
    const QString label = overlays[0]->label;
    workspace.press(edge.keyCode);
    workspace.press(edge.keyCode);
    EXPECT_EQ(session->nudge(), (PickerSession::Nudge{0, 0}));
    EXPECT_EQ(selected(), edge.pixel);
    EXPECT_EQ(overlays[0]->label, label);
}

INSTANTIATE_TEST_SUITE_P(Edges, EdgeTable,
                         ::testing::Values(EdgeCase{"Right", {99.5, 40.5}, 124, {99, 39}},
                                           EdgeCase{"Left", {0.5, 40.5}, 123, {0, 39}},
                                           EdgeCase{"Top", {50.5, 79.5}, 126, {50, 0}},
                                           EdgeCase{"Bottom", {50.5, 0.5}, 125, {50, 79}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PickerSessionTest, TheNudgeStaysInsideAndTheMouseResetsIt) {
    start({97.5, 40.5}); // pixel (97, 39): two columns from the right edge
    for (int i = 0; i < 3; ++i) {
        workspace.press(124);
    }
    // The third press would leave the image: clamped to the last column.
    EXPECT_EQ(session->nudge(), (PickerSession::Nudge{2, 0}));
    EXPECT_EQ(selected(), (PixelPoint{99, 39}));
    workspace.press(123);
    EXPECT_EQ(selected(), (PixelPoint{98, 39}));

    // A motion report that moves nothing keeps the offset.
    move({97.5, 40.5});
    EXPECT_EQ(selected(), (PixelPoint{98, 39}));

    move({96.5, 40.5});
    EXPECT_EQ(session->nudge(), (PickerSession::Nudge{0, 0}));
    EXPECT_EQ(selected(), (PixelPoint{96, 39}));
}

TEST_F(PickerSessionTest, OnAScaleTwoMonitorAnArrowMovesOnePixel) {
    start({150.25, 40.25});
    const PixelPoint before = selected();
    workspace.press(124);
    EXPECT_EQ(selected(), (PixelPoint{before.x + 1, before.y}));
    // The loupe stays under the mouse; only its content follows the pixel.
    EXPECT_EQ(overlays[1]->point, QPointF(50.25, 40.25));
}

TEST_F(PickerSessionTest, OutsideEveryMonitorThereIsNothingToCopy) {
    start({50, 40});
    move({250, 40});
    EXPECT_FALSE(session->selection());
    EXPECT_FALSE(overlays[0]->loupeShown);
    EXPECT_FALSE(overlays[1]->loupeShown);

    session->overlayViewDidClick(nullptr);
    workspace.press(36);
    EXPECT_TRUE(workspace.clipboard.empty());
    EXPECT_TRUE(outcomes.empty());
    EXPECT_FALSE(session->isFinished());
}

TEST_F(PickerSessionTest, ACopyPutsTheLabelOnTheClipboardThenFadesAndCloses) {
    start({20.5, 30.5});
    const QString label = overlays[0]->label;
    const PickedColor color = session->selection()->color;
    session->overlayViewDidClick(nullptr);

    ASSERT_EQ(workspace.clipboard, std::vector<QString>{label});
    ASSERT_EQ(outcomes.size(), 1u);
    const auto& copied = std::get<PickerSession::Session::Copied>(outcomes[0]);
    EXPECT_EQ(copied.color, color);
    EXPECT_EQ(copied.format, ColorFormat::hex);
    EXPECT_EQ(overlays[0]->calls.back(), "showCopied");
    EXPECT_EQ(overlays[1]->calls.back(), "showArrowCursor");
    // Input is given back at once; the overlays stay while the confirmation shows.
    EXPECT_EQ(workspace.count("removeKeyMonitor"), 1);
    EXPECT_EQ(workspace.count("showCursor"), 1);
    EXPECT_EQ(workspace.count("release"), 1);
    EXPECT_FALSE(workspace.keyHandler);

    // The controller lets go of the session as soon as it hears the outcome.
    session.reset();
    scheduler.advance(399ms);
    EXPECT_EQ(overlays[0]->calls.back(), "showCopied");
    scheduler.advance(1ms);
    EXPECT_EQ(overlays[0]->calls.back(), "fadeOut");
    EXPECT_EQ(overlays[1]->calls.back(), "fadeOut");
    scheduler.advance(149ms);
    EXPECT_FALSE(overlays[0]->closed);
    EXPECT_EQ(workspace.count("activate 77"), 0);
    scheduler.advance(1ms);
    EXPECT_TRUE(allClosed());
    EXPECT_EQ(workspace.calls.back(), "activate 77");
}

// Where windows cannot fade, the overlays keep the confirmation for the fade's time too.
TEST_F(PickerSessionTest, WithoutFadingTheOverlaysCloseAfterTheSameTime) {
    workspace.fades = false;
    start({20.5, 30.5});
    session->overlayViewDidClick(nullptr);
    session.reset();
    scheduler.advance(549ms);
    EXPECT_EQ(overlays[0]->calls.back(), "showCopied");
    EXPECT_FALSE(overlays[0]->closed);
    scheduler.advance(1ms);
    EXPECT_TRUE(allClosed());
    for (const auto& overlay : overlays)
        EXPECT_EQ(std::count(overlay->calls.begin(), overlay->calls.end(), "fadeOut"), 0);
}

// The next pick may begin while the copied one fades: the old pick's clean-up must not
// give the focus away from it, or the new pick would cancel as having lost its input.
TEST_F(PickerSessionTest, ACopiedPickFadingUnderANewOneLeavesTheFocusToIt) {
    start({20.5, 30.5});
    session->overlayViewDidClick(nullptr);
    auto copied = std::move(session);
    const auto firstOverlays = overlays;
    scheduler.advance(300ms);
    start({20.5, 30.5});
    scheduler.advance(250ms);
    EXPECT_TRUE(std::all_of(firstOverlays.begin(), firstOverlays.end(),
                            [](const auto& o) { return o->closed; }));
    EXPECT_EQ(workspace.count("activate 77"), 0);
    EXPECT_FALSE(session->isFinished());

    // The new pick gives the focus back when it ends.
    session->cancel();
    EXPECT_EQ(workspace.count("activate 77"), 1);
}

TEST_F(PickerSessionTest, ACancelClosesAtOnceAndGivesTheFocusBackBeforeReporting) {
    start({20.5, 30.5});
    session->setOnFinish([this](const PickerSession::Outcome& outcome) {
        EXPECT_TRUE(allClosed());
        EXPECT_EQ(workspace.calls.back(), "activate 77");
        outcomes.push_back(outcome);
    });
    session->overlayViewDidRequestCancel(nullptr);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(session->overlayCount(), 0u);
    for (const auto& overlay : overlays) {
        EXPECT_EQ(std::count(overlay->calls.begin(), overlay->calls.end(), "fadeOut"), 0);
    }
    // Input comes back in the reverse order it was taken.
    EXPECT_EQ(workspace.calls, (std::vector<std::string>{"grab", "hideCursor", "installKeyMonitor",
                                                         "removeKeyMonitor", "showCursor",
                                                         "release", "activate 77"}));
}

TEST_F(PickerSessionTest, NoPreviousWindowNothingToActivate) {
    workspace.previousWindow.reset();
    start({20.5, 30.5});
    session->cancel();
    EXPECT_EQ(std::count_if(workspace.calls.begin(), workspace.calls.end(),
                            [](const std::string& c) { return c.starts_with("activate"); }),
              0);
}

// Every way a pick can end, followed by everything else that could still arrive.
// The first loupe on screen is reported once, after the server has drawn it; a loupe
// painted after the pick ended is not.
TEST_F(PickerSessionTest, TheFirstPaintedLoupeIsReportedOnceOnceDrawn) {
    int reports = 0;
    int waitsAtReport = -1;
    start({20, 30});
    session->setOnLoupePainted([&] {
        ++reports;
        waitsAtReport = workspace.displayWaits;
    });
    session->overlayViewDidPaintLoupe(nullptr);
    session->overlayViewDidPaintLoupe(nullptr);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(waitsAtReport, 1);

    start({20, 30});
    session->setOnLoupePainted([&] { ++reports; });
    session->cancel();
    session->overlayViewDidPaintLoupe(nullptr);
    EXPECT_EQ(reports, 1);
}

TEST_F(PickerSessionTest, OnFinishRunsOnceWhateverTheSequence) {
    const std::vector<std::pair<const char*, std::function<void(PickerSessionTest&)>>> steps = {
        {"click", [](PickerSessionTest& t) { t.session->overlayViewDidClick(nullptr); }},
        {"return", [](PickerSessionTest& t) { t.workspace.press(36); }},
        {"escape", [](PickerSessionTest& t) { t.workspace.press(53); }},
        {"rightClick",
         [](PickerSessionTest& t) { t.session->overlayViewDidRequestCancel(nullptr); }},
        {"cancel", [](PickerSessionTest& t) { t.session->cancel(); }},
        {"screensChanged", [](PickerSessionTest& t) { Q_EMIT t.workspace.screensChanged(); }},
        {"inputLost", [](PickerSessionTest& t) { Q_EMIT t.workspace.inputLost(); }},
        {"move",
         [](PickerSessionTest& t) {
             t.move({30.5, 30.5});
         }},
    };
    for (const auto& [first, firstStep] : steps) {
        for (const auto& [second, secondStep] : steps) {
            SCOPED_TRACE(std::string(first) + " then " + second);
            overlays.clear();
            outcomes.clear();
            workspace.keyHandler = nullptr;
            start({20.5, 30.5});
            firstStep(*this);
            secondStep(*this);
            firstStep(*this);
            scheduler.advance(1s);
            const bool anyEnds = std::string(first) != "move" || std::string(second) != "move";
            EXPECT_EQ(outcomes.size(), anyEnds ? 1u : 0u);
            if (anyEnds) {
                EXPECT_TRUE(allClosed());
            }
            session.reset();
        }
    }
}

TEST_F(PickerSessionTest, MonitorChangesAndLostInputCancel) {
    for (bool screens : {true, false}) {
        outcomes.clear();
        start({20.5, 30.5});
        if (screens) {
            Q_EMIT workspace.screensChanged();
        } else {
            Q_EMIT workspace.inputLost();
        }
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_TRUE(std::holds_alternative<PickerSession::Session::Cancelled>(outcomes[0]));
        EXPECT_TRUE(allClosed());
    }
}

TEST_F(PickerSessionTest, AFailureInsideThePickLeavesNoOverlayBehind) {
    ScopedLogCapture log;
    start({20.5, 30.5});
    overlays[1]->throwOnShowLoupe = true;
    move({150.5, 30.5});

    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<PickerSession::Session::Cancelled>(outcomes[0]));
    EXPECT_TRUE(allClosed());
    EXPECT_EQ(workspace.count("release"), 1);
    EXPECT_EQ(workspace.count("showCursor"), 1);
    EXPECT_EQ(log.messages("Picker"),
              std::vector<std::string>{"Color picker failed in mouseMoved: loupe broke"});
}

TEST_F(PickerSessionTest, AFailingStepOfTheTearDownIsLoggedAndTheOthersStillRun) {
    ScopedLogCapture log;
    start({20.5, 30.5});
    overlays[0]->throwOnClose = true;
    overlays[1]->throwOnShowLoupe = true;
    move({150.5, 30.5});

    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(overlays[1]->closed);
    EXPECT_EQ(workspace.count("release"), 1);
    EXPECT_EQ(log.messages("Picker"),
              (std::vector<std::string>{"Color picker failed in mouseMoved: loupe broke",
                                        "Color picker failed in closeOverlays: close broke"}));
}

TEST_F(PickerSessionTest, ASessionDroppedWhileRunningClosesItsOverlaysSilently) {
    start({20.5, 30.5});
    session.reset();
    EXPECT_TRUE(allClosed());
    EXPECT_EQ(workspace.count("release"), 1);
    EXPECT_TRUE(outcomes.empty());
}

} // namespace
