#include "app/OnboardingWindowController.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/UserDefaults.h"
#include "support/FakeScheduler.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Phase = PickerController::Phase;
using Reason = OnboardingWindowController::Reason;

namespace {

class FakeCapture final : public ScreenCapture {
public:
    void captureAllDisplays(std::function<void(CaptureResult)> completion) override {
        pending.push_back(std::move(completion));
    }
    void prepare() override { ++prepared; }
    std::vector<std::function<void(CaptureResult)>> pending;
    int prepared = 0;
};

class FakeOnboarding final : public OnboardingWindowController {
public:
    void show(Reason reason) override { shown.push_back(reason); }
    std::vector<Reason> shown;
};

class FakeSession final : public PickerController::Session {
public:
    FakeSession(std::vector<DisplaySnapshot> snapshots, ColorFormat format)
        : snapshots(std::move(snapshots))
        , format(format) {}
    void setOnFinish(std::function<void(const Outcome&)> f) override { onFinish = std::move(f); }
    void begin() override { ++beginCount; }
    void cancel() override {
        ++cancelCount;
        end(Cancelled{});
    }
    bool isFinished() const override { return finished; }
    void setOnLoupePainted(std::function<void()> f) override { onLoupePainted = std::move(f); }
    void end(const Outcome& outcome) {
        if (finished)
            return;
        finished = true;
        onFinish(outcome);
    }

    std::vector<DisplaySnapshot> snapshots;
    ColorFormat format;
    std::function<void(const Outcome&)> onFinish;
    std::function<void()> onLoupePainted;
    int beginCount = 0;
    int cancelCount = 0;
    bool finished = false;
};

std::vector<DisplaySnapshot> screens(int count) {
    std::vector<DisplaySnapshot> result;
    for (int i = 0; i < count; ++i)
        result.push_back({std::uint32_t(i + 1),
                          QImage(4, 4, QImage::Format_RGB32),
                          QRectF(4.0 * i, 0, 4, 4),
                          {}});
    return result;
}

const PickedColor teal{{0.0, 0.5, 0.5}};

// A controller over fakes, with one method per event of the state table.
struct Harness {
    Harness()
        : defaults(dir.path() + "/defaults.json")
        , permission(
              defaults, [this] { return granted; }, [] { return false; }, [](const QUrl&) {})
        , controller({capture, permission, onboarding, defaults, scheduler,
                      [this](std::vector<DisplaySnapshot> s, ColorFormat f) {
                          auto session = std::make_shared<FakeSession>(std::move(s), f);
                          sessions.push_back(session);
                          return session;
                      },
                      [this](const PickedColor& c) { history.push_back(c); }}) {}

    void completeCapture(std::size_t index, CaptureResult result) {
        auto completion = std::move(capture.pending.at(index));
        completion(std::move(result));
    }
    FakeSession& lastSession() { return *sessions.back(); }

    QTemporaryDir dir;
    UserDefaults defaults;
    bool granted = true;
    ScreenRecordingPermission permission;
    FakeCapture capture;
    FakeOnboarding onboarding;
    FakeScheduler scheduler;
    std::vector<std::shared_ptr<FakeSession>> sessions;
    std::vector<PickedColor> history;
    PickerController controller;
};

struct Expected {
    Phase phase;
    std::int64_t attempt;
    std::vector<std::string> log;
    std::size_t captures = 0;
    std::size_t sessions = 0;
    std::vector<Reason> onboarding = {};
    std::size_t historyCount = 0;
};

struct StateCase {
    const char* name;
    std::function<void(Harness&)> events;
    Expected expected;
};

const std::string started = "Color picker started";
const std::string cancelledDuringCapture = "Color picker cancelled during capture";
const std::string cancelled = "Color picker cancelled";
const std::string permissionMissing = "Screen Recording permission missing";

const StateCase stateCases[] = {
    {"idle, cancel: ignored", [](Harness& h) { h.controller.cancel(); }, {Phase::idle, 0, {}}},
    {"idle, start: capturing, the capture waits for the task",
     [](Harness& h) { h.controller.start(0ms); },
     {Phase::capturing, 1, {started}}},
    {"the delay runs on the clock",
     [](Harness& h) {
         h.controller.start(150ms);
         h.scheduler.advance(149ms);
     },
     {Phase::capturing, 1, {started}, 0}},
    {"after the delay the capture starts",
     [](Harness& h) {
         h.controller.start(150ms);
         h.scheduler.advance(150ms);
     },
     {Phase::capturing, 1, {started}, 1}},
    {"capturing, start: ignored",
     [](Harness& h) {
         h.controller.start(0ms);
         h.controller.start(0ms);
         h.scheduler.runDue();
     },
     {Phase::capturing, 1, {started}, 1}},
    {"capturing, cancel: idle and the attempt moves on",
     [](Harness& h) {
         h.controller.start(0ms);
         h.controller.cancel();
         h.scheduler.runDue();
     },
     {Phase::idle, 2, {started, cancelledDuringCapture}, 0}},
    {"cancel during the delay, start again: only the second pick captures",
     [](Harness& h) {
         h.controller.start(150ms);
         h.scheduler.advance(50ms);
         h.controller.cancel();
         h.controller.start(150ms);
         h.scheduler.advance(300ms);
     },
     {Phase::capturing, 3, {started, cancelledDuringCapture, started}, 1}},
    {"permission missing: idle, onboarding on the permission page, no capture",
     [](Harness& h) {
         h.granted = false;
         h.controller.start(0ms);
         h.scheduler.runDue();
     },
     {Phase::idle,
      1,
      {started, permissionMissing, "Screen Recording permission is now notRequested"},
      0,
      0,
      {Reason::permissionMissing}}},
    {"capture fails: idle, logged; permission still granted so no onboarding",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {{}, QStringLiteral("monitor DUMMY1 disappeared")});
     },
     {Phase::idle, 1, {started, "Screen capture failed: monitor DUMMY1 disappeared"}, 1}},
    {"capture fails and the permission is gone meanwhile: onboarding",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.granted = false;
         h.completeCapture(0, {{}, QStringLiteral("denied")});
     },
     {Phase::idle,
      1,
      {started, "Screen capture failed: denied", "Screen Recording permission is now notRequested"},
      1,
      0,
      {Reason::permissionMissing}}},
    {"capture returns no screen: idle",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {});
     },
     {Phase::idle, 1, {started, "Screen capture returned no screen"}, 1}},
    {"capture succeeds: picking, the session begun, the time logged",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.scheduler.advance(17ms);
         h.completeCapture(0, {screens(2), std::nullopt});
         EXPECT_EQ(h.lastSession().beginCount, 1);
         EXPECT_EQ(h.controller.session(), &h.lastSession());
     },
     {Phase::picking,
      1,
      {started, "Magnifier shown 17 ms after capture started, 2 screen(s)"},
      1,
      1}},
    {"the first painted loupe is timed from the trigger, the delay included",
     [](Harness& h) {
         h.controller.start(150ms);
         h.scheduler.advance(150ms);
         h.scheduler.advance(20ms);
         h.completeCapture(0, {screens(1), std::nullopt});
         h.scheduler.advance(9ms);
         h.lastSession().onLoupePainted();
     },
     {Phase::picking,
      1,
      {started, "Magnifier shown 20 ms after capture started, 1 screen(s)",
       "Loupe painted 179 ms after the pick was triggered"},
      1,
      1}},
    {"a loupe painted after the pick was cancelled is not logged",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {screens(1), std::nullopt});
         auto painted = h.lastSession().onLoupePainted;
         h.controller.cancel();
         h.controller.start(0ms);
         painted();
     },
     {Phase::capturing,
      2,
      {started, "Magnifier shown 0 ms after capture started, 1 screen(s)", cancelled, started},
      1,
      1}},
    {"picking, start: ignored",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {screens(1), std::nullopt});
         h.controller.start(0ms);
         h.scheduler.runDue();
     },
     {Phase::picking,
      1,
      {started, "Magnifier shown 0 ms after capture started, 1 screen(s)"},
      1,
      1}},
    {"picking, cancel: the session cancels and the controller is idle",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {screens(1), std::nullopt});
         h.controller.cancel();
         EXPECT_EQ(h.lastSession().cancelCount, 1);
         EXPECT_EQ(h.controller.session(), nullptr);
         h.controller.cancel();
         EXPECT_EQ(h.lastSession().cancelCount, 1);
     },
     {Phase::idle,
      1,
      {started, "Magnifier shown 0 ms after capture started, 1 screen(s)", cancelled},
      1,
      1}},
    {"picking, copied: one history entry, the session's format logged",
     [](Harness& h) {
         h.defaults.setValue("copyFormat", "hex");
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {screens(1), std::nullopt});
         h.defaults.setValue("copyFormat", "rgba"); // changed during the pick
         h.lastSession().end(PickerController::Session::Copied{teal, ColorFormat::hex});
         EXPECT_EQ(h.history.at(0), teal);
     },
     {Phase::idle,
      1,
      {started, "Magnifier shown 0 ms after capture started, 1 screen(s)", "Copied color as hex"},
      1,
      1,
      {},
      1}},
    {"a success after a cancel is dropped",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.controller.cancel();
         h.completeCapture(0, {screens(1), std::nullopt});
     },
     {Phase::idle, 2, {started, cancelledDuringCapture}, 1, 0}},
    {"a failure after a cancel is only logged",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.controller.cancel();
         h.granted = false;
         h.completeCapture(0, {{}, QStringLiteral("late")});
     },
     {Phase::idle, 2, {started, cancelledDuringCapture, "Screen capture failed: late"}, 1, 0}},
    {"a success after a newer start is dropped; the newer one still picks",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.controller.cancel();
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.completeCapture(0, {screens(1), std::nullopt});
         EXPECT_EQ(h.controller.phase(), Phase::capturing);
         h.completeCapture(1, {screens(1), std::nullopt});
     },
     {Phase::picking,
      3,
      {started, cancelledDuringCapture, started,
       "Magnifier shown 0 ms after capture started, 1 screen(s)"},
      2,
      1}},
    {"an empty result after a newer start changes nothing",
     [](Harness& h) {
         h.controller.start(0ms);
         h.scheduler.runDue();
         h.controller.cancel();
         h.controller.start(0ms);
         h.completeCapture(0, {});
     },
     {Phase::capturing, 3, {started, cancelledDuringCapture, started}, 1, 0}},
};

class PickerControllerStateTest : public ::testing::TestWithParam<StateCase> {};

TEST_P(PickerControllerStateTest, FollowsTheStateTable) {
    ScopedLogCapture log;
    Harness h;
    GetParam().events(h);
    QCoreApplication::processEvents(); // releases finished sessions

    const Expected& e = GetParam().expected;
    EXPECT_EQ(h.controller.phase(), e.phase);
    EXPECT_EQ(h.controller.attempt(), e.attempt);
    std::vector<std::string> lines = log.messages("Picker");
    for (const std::string& line : log.messages("Permission"))
        lines.push_back(line);
    EXPECT_EQ(lines, e.log);
    EXPECT_EQ(h.capture.pending.size(), e.captures);
    EXPECT_EQ(h.sessions.size(), e.sessions);
    EXPECT_EQ(h.onboarding.shown, e.onboarding);
    EXPECT_EQ(h.history.size(), e.historyCount);
}

INSTANTIATE_TEST_SUITE_P(Cases, PickerControllerStateTest, ::testing::ValuesIn(stateCases),
                         [](const auto& info) {
                             std::string name;
                             for (char c : std::string(info.param.name))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(PickerControllerTest, LogLinesHaveTheirLevels) {
    ScopedLogCapture log;
    Harness h;
    h.controller.start(0ms);
    h.scheduler.runDue();
    h.completeCapture(0, {{}, QStringLiteral("x")});
    h.controller.start(0ms);
    h.scheduler.runDue();
    h.completeCapture(1, {});

    std::vector<std::pair<std::string, LogLevel>> levels;
    for (const LogRecord& r : log.sink().records())
        levels.emplace_back(r.message, r.level);
    const std::vector<std::pair<std::string, LogLevel>> expected = {
        {started, LogLevel::normal},
        {"Screen capture failed: x", LogLevel::error},
        {started, LogLevel::normal},
        {"Screen capture returned no screen", LogLevel::error}};
    EXPECT_EQ(levels, expected);
    EXPECT_EQ(log.sink().records().front().subsystem, "app.daubly.Daubly");
}

TEST(PickerControllerTest, PhaseSignalFiresOnlyOnARealChange) {
    Harness h;
    QSignalSpy spy(&h.controller, &PickerController::phaseChanged);
    h.controller.cancel();
    h.controller.start(0ms);
    h.controller.start(0ms);
    h.scheduler.runDue();
    h.completeCapture(0, {screens(1), std::nullopt});
    h.controller.cancel();
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy[0][0].value<Phase>(), Phase::capturing);
    EXPECT_EQ(spy[1][0].value<Phase>(), Phase::picking);
    EXPECT_EQ(spy[2][0].value<Phase>(), Phase::idle);
}

TEST(PickerControllerTest, SessionsTakeTheStoredCopyFormat) {
    struct Case {
        const char* name;
        QJsonValue stored;
        ColorFormat expected;
    };
    const Case cases[] = {{"missing", QJsonValue::Undefined, ColorFormat::oklch},
                          {"wrong case", "OKLCH", ColorFormat::oklch},
                          {"empty", "", ColorFormat::oklch},
                          {"not a string", 3, ColorFormat::oklch},
                          {"hex", "hex", ColorFormat::hex},
                          {"displayP3", "displayP3", ColorFormat::displayP3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.defaults.setValue("copyFormat", c.stored);
        h.controller.start(0ms);
        h.scheduler.runDue();
        h.completeCapture(0, {screens(1), std::nullopt});
        ASSERT_EQ(h.sessions.size(), 1u);
        EXPECT_EQ(h.lastSession().format, c.expected);
    }
}

TEST(PickerControllerTest, AFinishedSessionOutlivesTheCallThatFinishedIt) {
    Harness h;
    h.controller.start(0ms);
    h.scheduler.runDue();
    h.completeCapture(0, {screens(1), std::nullopt});
    std::weak_ptr<FakeSession> session = h.sessions.back();
    h.sessions.clear();
    // The session reports from inside one of its own calls, as a real one does.
    session.lock()->end(PickerController::Session::Cancelled{});
    EXPECT_FALSE(session.expired());
    QCoreApplication::processEvents();
    EXPECT_TRUE(session.expired());
}

TEST(PickerControllerTest, ACaptureFinishingAfterTheControllerIsGoneIsHarmless) {
    FakeCapture capture;
    {
        Harness h;
        h.controller.start(0ms);
        h.scheduler.runDue();
        capture.pending = std::move(h.capture.pending);
    }
    capture.pending.at(0)({screens(1), std::nullopt});
}

// Without a word the user would be left with a shortcut that does nothing.
TEST(PickerControllerTest, APickThatCannotCaptureSaysWhy) {
    struct Case {
        const char* name;
        CaptureResult result;
        bool cancelledFirst;
        std::optional<QString> told;
    };
    const Case cases[] = {
        {"capture fails",
         {{}, QStringLiteral("Cannot connect to the X server")},
         false,
         QStringLiteral("Cannot connect to the X server")},
        {"no screen", {}, false, QStringLiteral("No screen could be captured.")},
        {"fails after a cancel", {{}, QStringLiteral("late")}, true, std::nullopt},
        {"succeeds", {screens(1), std::nullopt}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        QSignalSpy told(&h.controller, &PickerController::captureFailed);
        h.controller.start(0ms);
        h.scheduler.runDue();
        if (c.cancelledFirst)
            h.controller.cancel();
        h.completeCapture(0, c.result);
        ASSERT_EQ(told.count(), c.told ? 1 : 0);
        if (c.told) {
            EXPECT_EQ(told[0][0].toString(), *c.told);
        }
    }
}

} // namespace

// Readying the capture costs memory: only where a capture can follow, and never in the way
// of a running pick.
TEST(PickerControllerTest, TheCaptureGetsReadyOnlyWhereAPickCanFollow) {
    struct Case {
        const char* name;
        std::function<void(Harness&)> events;
        int prepared;
    };
    const Case cases[] = {
        {"shortcut down while idle", [](Harness& h) { h.controller.prepare(); }, 1},
        {"shortcut down without the permission",
         [](Harness& h) {
             h.granted = false;
             h.permission.refresh();
             h.controller.prepare();
         },
         0},
        {"shortcut down during a capture",
         [](Harness& h) {
             h.controller.start(0ms);
             h.controller.prepare();
         },
         0},
        {"shortcut down during a pick",
         [](Harness& h) {
             h.controller.start(0ms);
             h.scheduler.runDue();
             h.completeCapture(0, {screens(1), std::nullopt});
             h.controller.prepare();
         },
         0},
        {"a start after a menu's delay", [](Harness& h) { h.controller.start(150ms); }, 1},
        {"a start at once", [](Harness& h) { h.controller.start(0ms); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.events(h);
        EXPECT_EQ(h.capture.prepared, c.prepared);
    }
}
