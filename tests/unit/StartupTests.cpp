// Start-up on a session no backend fits: the loader falls back to the null backend, and
// the shared instances are wired to it, so everything fails cleanly and says why.

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "app/PickerController.h"
#include "app/SharedInstances.h"
#include "backends/PlatformLoader.h"
#include "platform/Logger.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

bool contains(const std::vector<std::string>& messages, std::string_view text) {
    return std::any_of(messages.begin(), messages.end(), [&](const std::string& message) {
        return message.find(text) != std::string::npos;
    });
}

} // namespace

TEST(StartupTest, WithoutABackendEveryServiceRefusesAndSaysWhy) {
    ScopedLogCapture log;
    // The unit tests run offscreen: no X11.
    PlatformServices* platform = loadPlatform().release();
    EXPECT_EQ(platform->name(), QStringLiteral("null"));
    EXPECT_TRUE(contains(log.messages("App"), "No backend fits this session"));

    ASSERT_FALSE(KeyboardShortcuts::isConfigured());
    configureSharedInstances(*platform);
    EXPECT_TRUE(KeyboardShortcuts::isConfigured());

    const KeyboardShortcuts::Name name(
        QStringLiteral("startupTest"),
        KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                    KeyboardShortcuts::ModifierFlag::option));
    KeyboardShortcuts::addKeyUpHandler(name, [] {});
    // Named although no layout service answers.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return contains(log.messages("KeyboardShortcuts"),
                        "Could not register the global shortcut Alt+C: this desktop offers no "
                        "global shortcuts");
    }));
    EXPECT_FALSE(KeyboardShortcuts::isShortcutRegistered(name));

    PickerController& picker = PickerController::shared();
    picker.start(0ms);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return contains(log.messages("Picker"), "Screen capture failed: this desktop offers no "
                                                "screen capture");
    }));
    EXPECT_EQ(picker.phase(), PickerController::Phase::idle);
}
