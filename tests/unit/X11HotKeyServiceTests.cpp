// The X11 hot key service against a real X server (run under Xvfb): keys are typed
// with xdotool, a second X client holds a competing grab.

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "backends/x11/X11HotKeyService.h"
#include "backends/x11/X11KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace std::chrono_literals;

namespace {

constexpr HotKeyService::HotKeyID alpha{0x53534B53, 1};
constexpr std::uint32_t keyC = 8;
constexpr std::uint32_t option = 0x800;
constexpr xcb_keycode_t x11KeyC = 54;

// Runs xdotool while the event loop keeps turning, so our grabs see the keys.
bool xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForStarted())
        return false;
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 5s);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Another X client holding a grab of its own.
class OtherClient {
public:
    OtherClient()
        : m_connection(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }
    bool grab(xcb_keycode_t keycode, std::uint16_t modifiers) {
        auto* error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return error == nullptr;
    }
    void ungrab(xcb_keycode_t keycode, std::uint16_t modifiers) {
        free(xcb_request_check(m_connection,
                               xcb_ungrab_key_checked(m_connection, keycode, m_root, modifiers)));
    }
    std::uint16_t modifierState() {
        auto* reply =
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
        const std::uint16_t mask = reply ? reply->mask : 0;
        free(reply);
        return mask;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
};

class X11HotKeyServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server ($DISPLAY)";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "needs xdotool";
        service = X11HotKeyService::create();
        ASSERT_NE(service, nullptr);
        service->installEventHandler([this](const HotKeyService::Event& event) {
            events.push_back(event);
            return true;
        });
    }

    std::unique_ptr<X11HotKeyService> service;
    std::vector<HotKeyService::Event> events;
};

bool isPressThenRelease(const std::vector<HotKeyService::Event>& events) {
    return events.size() == 2 && events[0].kind == HotKeyService::EventKind::pressed &&
           events[1].kind == HotKeyService::EventKind::released && events[0].hotKeyID == alpha &&
           events[1].hotKeyID == alpha;
}

TEST_F(X11HotKeyServiceTest, AGrabSeesPressAndReleaseAlsoWithNumLockOn) {
    const auto registration = service->registerHotKey({alpha, {}, {keyC, option}});
    ASSERT_TRUE(registration.handle) << registration.error.toStdString();

    ASSERT_TRUE(xdotool({"key", "alt+c"}));
    EXPECT_TRUE(waitUntil([&] { return events.size() >= 2; }));
    EXPECT_TRUE(isPressThenRelease(events));

    // The same keys with Num Lock on still match.
    OtherClient observer;
    ASSERT_TRUE(xdotool({"key", "Num_Lock"}));
    ASSERT_TRUE(observer.modifierState() & service->modifierBits().numLock);
    events.clear();
    ASSERT_TRUE(xdotool({"key", "alt+c"}));
    EXPECT_TRUE(waitUntil([&] { return events.size() >= 2; }));
    EXPECT_TRUE(isPressThenRelease(events));
    ASSERT_TRUE(xdotool({"key", "Num_Lock"}));

    // Other modifiers held make it another combination.
    events.clear();
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+c"}));
    waitUntil([] { return false; }, 300ms);
    EXPECT_TRUE(events.empty());

    service->unregisterHotKey(*registration.handle);
    ASSERT_TRUE(xdotool({"key", "alt+c"}));
    waitUntil([] { return false; }, 300ms);
    EXPECT_TRUE(events.empty());
}

TEST_F(X11HotKeyServiceTest, AHeldKeyIsOnePressAndOneRelease) {
    const auto registration = service->registerHotKey({alpha, {}, {keyC, option}});
    ASSERT_TRUE(registration.handle) << registration.error.toStdString();
    QProcess::execute(QStringLiteral("xset"), {"r", "rate", "100", "30"});
    ASSERT_TRUE(xdotool({"keydown", "alt+c"}));
    waitUntil([] { return false; }, 600ms); // about fifteen repeats
    ASSERT_TRUE(xdotool({"keyup", "c", "alt"}));
    EXPECT_TRUE(waitUntil([&] { return events.size() >= 2; }));
    waitUntil([] { return false; }, 100ms);
    EXPECT_TRUE(isPressThenRelease(events)) << events.size() << " events";
    QProcess::execute(QStringLiteral("xset"), {"r", "rate", "660", "25"});
}

TEST_F(X11HotKeyServiceTest, TheKeysStillCountWhileOurOwnWindowHoldsTheKeyboard) {
    // As during a pick, whose overlay grabs the keyboard: the keys then come to that
    // window, not to the root's grab.
    const auto registration = service->registerHotKey({alpha, {}, {keyC, option}});
    ASSERT_TRUE(registration.handle) << registration.error.toStdString();
    QWindow window;
    window.setGeometry(0, 0, 200, 200);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }));
    ASSERT_TRUE(window.setKeyboardGrabEnabled(true));

    ASSERT_TRUE(xdotool({"key", "alt+c"}));
    EXPECT_TRUE(waitUntil([&] { return events.size() >= 2; }));
    EXPECT_TRUE(isPressThenRelease(events));

    // Other keys under the grab stay the window's.
    events.clear();
    ASSERT_TRUE(xdotool({"key", "c"}));
    waitUntil([] { return false; }, 300ms);
    EXPECT_TRUE(events.empty());
    window.setKeyboardGrabEnabled(false);
}

TEST_F(X11HotKeyServiceTest, AGrabHeldByAnotherClientIsAFailedRegistration) {
    OtherClient other;
    const std::uint16_t alt = service->modifierBits().alt;
    // The other client holds only the Num Lock variant: a partial grab must be undone.
    ASSERT_TRUE(other.grab(x11KeyC, alt | service->modifierBits().numLock));
    const auto refused = service->registerHotKey({alpha, {}, {keyC, option}});
    EXPECT_FALSE(refused.handle);
    EXPECT_TRUE(refused.error.contains(QLatin1String("another application")))
        << refused.error.toStdString();
    // Nothing of ours was left behind: the other client can take the plain variant.
    EXPECT_TRUE(other.grab(x11KeyC, alt));
    other.ungrab(x11KeyC, alt);

    other.ungrab(x11KeyC, alt | service->modifierBits().numLock);
    const auto accepted = service->registerHotKey({alpha, {}, {keyC, option}});
    EXPECT_TRUE(accepted.handle) << accepted.error.toStdString();
}

TEST_F(X11HotKeyServiceTest, KeyRepeatComesFromTheServer) {
    QProcess::execute(QStringLiteral("xset"), {"r", "rate", "300", "20"});
    const HotKeyService::KeyRepeat repeat = service->keyRepeat();
    EXPECT_EQ(repeat.delay, 300ms);
    EXPECT_EQ(repeat.interval, 50ms);
    QProcess::execute(QStringLiteral("xset"), {"r", "rate", "660", "25"});
}

TEST(X11RegistryTest, ThePickerShortcutWorksOnceAnotherClientLetsGo) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server ($DISPLAY)";
    ScopedLogCapture log;
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    NotificationCenter notifications;
    auto service = X11HotKeyService::create();
    auto layout = X11KeyboardLayout::create();
    ASSERT_TRUE(service && layout);
    OtherClient other;
    ASSERT_TRUE(other.grab(x11KeyC, service->modifierBits().alt));

    KeyboardShortcuts::Registry registry(
        {*service, defaults, notifications, Scheduler::main(), *layout});
    const KeyboardShortcuts::Name name =
        registry.makeName(QStringLiteral("activatePicker"),
                          KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                                      KeyboardShortcuts::ModifierFlag::option));
    int keyUps = 0;
    registry.addKeyUpHandler(name, [&] { ++keyUps; });
    EXPECT_FALSE(registry.isShortcutRegistered(name));
    ASSERT_EQ(log.messages("KeyboardShortcuts").size(), 1u);
    EXPECT_EQ(log.messages("KeyboardShortcuts")[0],
              "Could not register the global shortcut Alt+C: another application already uses "
              "this key combination");

    other.ungrab(x11KeyC, service->modifierBits().alt);
    EXPECT_TRUE(waitUntil([&] { return registry.isShortcutRegistered(name); },
                          KeyboardShortcuts::Registry::registrationRetryInterval + 2s));
    ASSERT_TRUE(xdotool({"key", "alt+c"}));
    EXPECT_TRUE(waitUntil([&] { return keyUps == 1; }));
}

TEST(X11KeyboardLayoutTest, KeyNamesFollowTheServerLayout) {
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        QStandardPaths::findExecutable(QStringLiteral("setxkbmap")).isEmpty())
        GTEST_SKIP() << "needs an X server ($DISPLAY) and setxkbmap";
    auto layout = X11KeyboardLayout::create();
    ASSERT_NE(layout, nullptr);
    const KeyboardShortcuts::Shortcut commandY(KeyboardShortcuts::Key::y,
                                               KeyboardShortcuts::ModifierFlag::command);
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {"us"}), 0);
    EXPECT_EQ(commandY.description(*layout), QStringLiteral("Super+Y"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {"de"}), 0);
    EXPECT_EQ(commandY.description(*layout), QStringLiteral("Super+Z"));
    QProcess::execute(QStringLiteral("setxkbmap"), {"us"});
    EXPECT_EQ(layout->text(KeyboardShortcuts::Key::function.rawValue), std::nullopt);
}

} // namespace
