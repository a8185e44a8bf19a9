// The shortcut recorder against a registry with fake services: what each key does while
// recording, the conflict and validation alerts, how recording ends, the pause of global
// dispatch (and the X11 grabs with it), and menu commands bound to a name.

#include "KeyboardShortcuts/MenuItemShortcuts.h"
#include "KeyboardShortcuts/Recorder.h"
#include "KeyboardShortcuts/ViewModifiers.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/ShortcutFakes.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <deque>
#include <gtest/gtest.h>
#include <set>

using namespace KeyboardShortcuts;

namespace {

const Shortcut optionC(Key::c, ModifierFlag::option);
const Shortcut controlShiftK(Key::k, ModifierFlag::control | ModifierFlag::shift);
const Shortcut controlQ(Key::q, ModifierFlag::control);

// The layout the test's key presses are read with.
FakeKeyboardLayout* pressLayout = nullptr;

// A key press with a native code of its own that the layout reads as `key`.
void press(QWidget* target, Key key, Qt::Key qtKey, Qt::KeyboardModifiers modifiers = {}) {
    const quint32 native = 0x1000 + quint32(key.rawValue);
    pressLayout->scanCodes[native] = key.rawValue;
    QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, native, 0, 0);
    QApplication::sendEvent(target, &event);
}

struct Alert {
    QString message;
    std::optional<QString> informativeText;
    QStringList buttons;
};

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        layout.keys[Key::k.rawValue] = QStringLiteral("k");
        layout.keys[Key::q.rawValue] = QStringLiteral("q");
        setKeyboardLayout(&layout);
        pressLayout = &layout;
        registry.addKeyUpHandler(name, [this] { ++picks; });
        quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        quit->setText(QStringLiteral("&Quit Daubly"));

        window.setLayout(new QVBoxLayout);
        recorder = makeRecorder();
        other = new QLineEdit(&window);
        window.layout()->addWidget(other);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        scheduler.advance(std::chrono::milliseconds(0)); // the hot key center
    }
    void TearDown() override {
        delete recorder;
        setKeyboardLayout(nullptr);
    }

    Recorder::Environment environment() {
        Recorder::Environment env;
        env.registry = &registry;
        env.notifications = &notifications;
        env.applicationMenu = [this] { return &menu; };
        env.isTakenBySystem = [this](const Shortcut& s) { return takenBySystem.contains(s); };
        env.beep = [this] { ++beeps; };
        env.presentAlert = [this](QWidget*, const QString& message,
                                  const std::optional<QString>& informative,
                                  const QStringList& buttons) {
            alerts.push_back({message, informative, buttons});
            const int response = responses.empty() ? 0 : responses.front();
            if (!responses.empty())
                responses.pop_front();
            return response;
        };
        return env;
    }
    Recorder* makeRecorder() {
        auto* r = new Recorder(
            name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); }, &window,
            environment());
        window.layout()->addWidget(r);
        return r;
    }
    void startRecording(Recorder* r) {
        settle();
        r->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(r->isRecording());
    }
    // The turn after a focus change, when the end of editing runs.
    static void settle() { QCoreApplication::processEvents(); }
    bool grabbed(const Shortcut& s) const {
        return service.isRegistered(std::uint32_t(s.carbonKeyCode),
                                    std::uint32_t(s.carbonModifiers));
    }

    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + "/defaults.json"};
    FakeHotKeyService service;
    NotificationCenter notifications;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    Registry registry{{service, defaults, notifications, scheduler, layout}};
    Name name = registry.makeName(QStringLiteral("activatePicker"), optionC);
    QMenu menu;
    QAction* quit = menu.addAction(QStringLiteral("Quit"));
    QWidget window;
    Recorder* recorder = nullptr;
    QLineEdit* other = nullptr;
    std::set<Shortcut> takenBySystem;
    std::deque<int> responses;
    std::vector<Alert> alerts;
    std::vector<std::optional<Shortcut>> changes;
    int beeps = 0;
    int picks = 0;
};

TEST_F(RecorderTest, EachKeyIsRecordedRefusedOrIgnoredByItsModifiers) {
    struct Case {
        const char* name;
        Key key;
        Qt::Key qtKey;
        Qt::KeyboardModifiers modifiers;
        std::optional<Shortcut> recorded; // none: refused, recording goes on
        int beeps;
    } cases[] = {
        {"a letter alone beeps", Key::a, Qt::Key_A, {}, std::nullopt, 1},
        {"a letter with Shift beeps", Key::a, Qt::Key_A, Qt::ShiftModifier, std::nullopt, 1},
        {"a modifier pressed alone waits for the key", Key::shift, Qt::Key_Shift, Qt::ShiftModifier,
         std::nullopt, 0},
        {"a function key alone", Key::f5, Qt::Key_F5, {}, Shortcut(Key::f5), 0},
        {"a function key with Shift", Key::f5, Qt::Key_F5, Qt::ShiftModifier,
         Shortcut(Key::f5, ModifierFlag::shift), 0},
        {"Control and Shift with a letter", Key::k, Qt::Key_K,
         Qt::ControlModifier | Qt::ShiftModifier, controlShiftK, 0},
        {"Caps Lock and the keypad do not count", Key::keypad5, Qt::Key_5, Qt::KeypadModifier,
         std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry.setShortcut(optionC, name);
        startRecording(recorder);
        beeps = 0;
        changes.clear();

        press(recorder, c.key, c.qtKey, c.modifiers);
        settle();
        EXPECT_EQ(beeps, c.beeps);
        EXPECT_TRUE(alerts.empty());
        if (c.recorded) {
            EXPECT_EQ(registry.getShortcut(name), c.recorded);
            EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{c.recorded});
            EXPECT_EQ(recorder->text(), c.recorded->description());
            EXPECT_FALSE(recorder->isRecording()) << "accepting ends recording";
            other->setFocus(Qt::MouseFocusReason);
            settle();
        } else {
            EXPECT_EQ(registry.getShortcut(name), optionC);
            EXPECT_TRUE(changes.empty());
            EXPECT_TRUE(recorder->isRecording());
        }
    }
}

TEST_F(RecorderTest, EscapeTabAndDeleteEndOrClear) {
    startRecording(recorder);
    press(recorder, Key::escape, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(registry.getShortcut(name), optionC);

    startRecording(recorder);
    press(recorder, Key::tab, Qt::Key_Tab);
    settle();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(other->hasFocus()) << "Tab moves the focus on";

    for (const auto& [key, qtKey] : {std::pair{Key::deleteKey, Qt::Key_Backspace},
                                     std::pair{Key::deleteForward, Qt::Key_Delete}}) {
        registry.setShortcut(optionC, name);
        recorder->setShortcut(optionC);
        changes.clear();
        startRecording(recorder);
        press(recorder, key, qtKey);
        settle();
        EXPECT_EQ(registry.getShortcut(name), std::nullopt);
        EXPECT_EQ(changes, std::vector<std::optional<Shortcut>>{std::nullopt});
        EXPECT_EQ(recorder->text(), QString());
        EXPECT_FALSE(recorder->clearAction()->isVisible());
        EXPECT_TRUE(recorder->isRecording()) << "recording goes on after clearing";
        other->setFocus(Qt::MouseFocusReason);
        settle();
    }
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderTest, MenuConflictsAreBlockedOrForcedByPolicy) {
    struct Case {
        const char* name;
        ConflictBehavior behavior;
        std::deque<int> responses;
        std::optional<Shortcut> stored;
        QStringList buttons;
    } cases[] = {
        {"blocked by default", ConflictBehavior::block, {}, optionC, {}},
        {"warned and kept", ConflictBehavior::warn, {0}, optionC, {"OK", "Use Anyway"}},
        {"warned and forced", ConflictBehavior::warn, {1}, controlQ, {"OK", "Use Anyway"}},
        {"allowed", ConflictBehavior::allow, {}, controlQ, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry.setShortcut(optionC, name);
        recorder->setConflictPolicy({c.behavior, ConflictBehavior::warn, ConflictBehavior::block});
        responses = c.responses;
        alerts.clear();
        startRecording(recorder);
        press(recorder, Key::q, Qt::Key_Q, Qt::ControlModifier);
        settle();
        EXPECT_EQ(registry.getShortcut(name), c.stored);
        if (c.behavior == ConflictBehavior::allow) {
            EXPECT_TRUE(alerts.empty());
        } else {
            ASSERT_EQ(alerts.size(), 1u);
            EXPECT_TRUE(alerts[0].message.contains(QStringLiteral("\u201cQuit Daubly\u201d")))
                << alerts[0].message.toStdString();
            EXPECT_EQ(alerts[0].buttons, c.buttons);
            EXPECT_EQ(alerts[0].informativeText, std::nullopt);
        }
        // Refused: recording starts again after the alert.
        EXPECT_EQ(recorder->isRecording(), c.stored == optionC);
        other->setFocus(Qt::MouseFocusReason);
        settle();
    }

    // The shortcut already stored is not checked against the menu.
    quit->setShortcut(*optionC.qtShortcut());
    alerts.clear();
    startRecording(recorder);
    press(recorder, Key::c, Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(RecorderTest, SystemConflictsWarnAndValidationRefuses) {
    takenBySystem = {controlShiftK};
    startRecording(recorder);
    press(recorder, Key::k, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    settle();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].buttons, (QStringList{"OK", "Use Anyway"}));
    EXPECT_TRUE(alerts[0].informativeText.has_value());
    EXPECT_EQ(registry.getShortcut(name), optionC);
    EXPECT_TRUE(recorder->isRecording());

    responses = {1};
    press(recorder, Key::k, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    settle();
    EXPECT_EQ(registry.getShortcut(name), controlShiftK);

    alerts.clear();
    recorder->setValidateShortcut([](const Shortcut& s) {
        return s.modifiers() & ModifierFlag::shift
                   ? ValidationResult::disallow(QStringLiteral("No Shift, please."))
                   : ValidationResult::allow();
    });
    startRecording(recorder);
    press(recorder, Key::f5, Qt::Key_F5, Qt::ShiftModifier);
    settle();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, QStringLiteral("No Shift, please."));
    EXPECT_TRUE(alerts[0].buttons.isEmpty());
    EXPECT_EQ(registry.getShortcut(name), controlShiftK);
    EXPECT_TRUE(recorder->isRecording());
}

TEST_F(RecorderTest, AClickEndsRecordingOnlyBeyondThreePointsOutside) {
    const auto releaseAt = [this](QPoint local) {
        const QPointF global = recorder->mapToGlobal(QPointF(local));
        QMouseEvent event(QEvent::MouseButtonRelease, QPointF(local), global, Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
        settle();
    };
    startRecording(recorder);
    releaseAt({recorder->width() + 2, 4});
    EXPECT_TRUE(recorder->isRecording());
    releaseAt({-4, 4});
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(RecorderTest, RecordingPausesDispatchAndReleasesTheGrabUntilTheLastRecorderEnds) {
    std::vector<bool> posted;
    notifications.observe(recorderActiveStatusDidChange, &window,
                          [&](const QVariantMap& info) { posted.push_back(isActiveFlag(info)); });
    ASSERT_TRUE(grabbed(optionC));
    startRecording(recorder);
    EXPECT_TRUE(registry.isPaused());
    // On X11 the grab would take the key from the field: it is let go.
    EXPECT_FALSE(grabbed(optionC));
    EXPECT_EQ(Recorder::activeRecorder(), recorder);

    Recorder* second = makeRecorder();
    startRecording(second);
    settle();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(registry.isPaused()) << "the first one's end leaves the second's pause";
    EXPECT_EQ(Recorder::activeRecorder(), second);

    // Recording the active shortcut itself records it; nothing picks.
    press(second, Key::c, Qt::Key_C, Qt::AltModifier);
    settle();
    EXPECT_FALSE(registry.isPaused());
    EXPECT_TRUE(grabbed(optionC));
    EXPECT_EQ(picks, 0);
    EXPECT_EQ(posted, (std::vector<bool>{true, true, false}));
    delete second;
}

TEST_F(RecorderTest, TheFieldFollowsChangesMadeElsewhere) {
    registry.setShortcut(std::nullopt, name);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->text(), QString());
    registry.resetShortcuts({name});
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->text(), optionC.description());
    EXPECT_TRUE(recorder->clearAction()->isVisible());
    EXPECT_TRUE(changes.empty()) << "only changes made in the field are reported";
}

TEST_F(RecorderTest, ABindingRecorderLeavesTheRegistryAlone) {
    std::optional<Shortcut> bound;
    Recorder binding(
        std::optional<Shortcut>(), [&](const std::optional<Shortcut>& s) { bound = s; }, &window,
        environment());
    window.layout()->addWidget(&binding);
    startRecording(&binding);
    press(&binding, Key::f5, Qt::Key_F5);
    settle();
    EXPECT_EQ(bound, Shortcut(Key::f5));
    EXPECT_EQ(binding.shortcut(), Shortcut(Key::f5));
    EXPECT_EQ(registry.getShortcut(name), optionC);
}

class MenuBindingTest : public RecorderTest {};

TEST_F(MenuBindingTest, ABoundItemFollowsItsNameAndKeepsItsFirstKey) {
    const Name other = registry.makeName(QStringLiteral("other"), std::nullopt);
    QAction item(QStringLiteral("Print"));
    const QKeySequence fallback(Qt::CTRL | Qt::Key_P);
    item.setShortcut(fallback);

    bindShortcut(&item, other, &registry, &notifications);
    EXPECT_EQ(item.shortcut(), fallback) << "a name without a shortcut shows the fallback";
    registry.setShortcut(optionC, other);
    EXPECT_EQ(item.shortcut(), *optionC.qtShortcut());

    // Bound again to another name: Alt+C does not become the fallback.
    bindShortcut(&item, name, &registry, &notifications);
    registry.setShortcut(std::nullopt, name);
    EXPECT_EQ(item.shortcut(), fallback);
    registry.setShortcut(controlShiftK, other);
    EXPECT_EQ(item.shortcut(), fallback) << "the first name no longer counts";

    bindShortcut(&item, std::nullopt, &registry, &notifications);
    EXPECT_EQ(item.shortcut(), fallback);
    registry.setShortcut(optionC, name);
    EXPECT_EQ(item.shortcut(), fallback) << "unbound: no longer follows";

    bindShortcut(&item, name, &registry, &notifications);
    setItemShortcut(&item, controlQ);
    registry.setShortcut(std::nullopt, name);
    EXPECT_EQ(item.shortcut(), *controlQ.qtShortcut()) << "a bare shortcut ends the binding";
}

TEST_F(MenuBindingTest, ACommandShowsNoShortcutWhileARecorderRecords) {
    QAction pick(QStringLiteral("Pick Color"));
    globalKeyboardShortcut(&pick, name, &registry, &notifications);
    EXPECT_EQ(pick.shortcut(), *optionC.qtShortcut());
    startRecording(recorder);
    EXPECT_EQ(pick.shortcut(), QKeySequence());
    press(recorder, Key::k, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    settle();
    EXPECT_EQ(pick.shortcut(), *controlShiftK.qtShortcut());
}

TEST_F(MenuBindingTest, AWidgetGetsKeyEventsOnlyWhileShown) {
    QWidget panel;
    std::vector<EventType> events;
    onGlobalKeyboardShortcut(
        &panel, name, [&](EventType type) { events.push_back(type); }, &registry);
    const auto pressAndRelease = [&] {
        service.pressAndRelease(std::uint32_t(optionC.carbonKeyCode),
                                std::uint32_t(optionC.carbonModifiers));
    };
    registry.removeHandlers(name);
    pressAndRelease();
    EXPECT_TRUE(events.empty());
    panel.show();
    pressAndRelease();
    EXPECT_EQ(events, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    panel.hide();
    EXPECT_FALSE(grabbed(optionC)) << "nothing else uses the hot key";
}

} // namespace
