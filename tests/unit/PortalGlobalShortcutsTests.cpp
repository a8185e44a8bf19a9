#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "backends/linux/PortalGlobalShortcuts.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/VirtualKeys.h"
#include "support/PrivateBus.h"
#include "support/ShortcutFakes.h"

#include <QDBusArgument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Trigger = HotKeyService::Trigger;
using EventKind = HotKeyService::EventKind;

namespace {

constexpr std::uint32_t signature = 0x53534B53;
const Trigger altC{std::uint32_t(VirtualKey::c), std::uint32_t(CarbonModifier::option)};
const Trigger ctrlShiftK{std::uint32_t(VirtualKey::k),
                         std::uint32_t(CarbonModifier::control | CarbonModifier::shift)};

// --- The portal's shortcut texts -----------------------------------------------------

struct TextCase {
    const char* name;
    Trigger trigger;
    std::optional<QString> text;
};

class TriggerTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TriggerTextTest, namesTheKeysAsThePortalReadsThem) {
    EXPECT_EQ(PortalGlobalShortcuts::triggerText(GetParam().trigger), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, TriggerTextTest,
    ::testing::Values(
        TextCase{"altC", altC, QStringLiteral("ALT+c")},
        TextCase{"ctrlShiftK", ctrlShiftK, QStringLiteral("CTRL+SHIFT+k")},
        TextCase{"allFourInOrder",
                 {std::uint32_t(VirtualKey::one),
                  std::uint32_t(CarbonModifier::command | CarbonModifier::shift |
                                CarbonModifier::option | CarbonModifier::control)},
                 QStringLiteral("CTRL+ALT+SHIFT+LOGO+1")},
        TextCase{"superF5",
                 {std::uint32_t(VirtualKey::f5), std::uint32_t(CarbonModifier::command)},
                 QStringLiteral("LOGO+F5")},
        TextCase{"punctuationByKeysym",
                 {std::uint32_t(VirtualKey::equal), std::uint32_t(CarbonModifier::control)},
                 QStringLiteral("CTRL+equal")},
        TextCase{"keypad", {std::uint32_t(VirtualKey::keypad5), 0}, QStringLiteral("KP_5")},
        TextCase{"pageUp", {std::uint32_t(VirtualKey::pageUp), 0}, QStringLiteral("Page_Up")},
        TextCase{"functionModifierHasNoName",
                 {std::uint32_t(VirtualKey::a), std::uint32_t(CarbonModifier::function)},
                 std::nullopt},
        TextCase{"unnamedKey", {std::uint32_t(VirtualKey::function), 0}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ParseCase {
    const char* name;
    QString text;
    std::optional<Trigger> trigger;
};

class ParseTriggerTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTriggerTest, readsThePortalsAndTheDesktopsTexts) {
    EXPECT_EQ(PortalGlobalShortcuts::parseTrigger(GetParam().text), GetParam().trigger);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTriggerTest,
    ::testing::Values(ParseCase{"portalForm", QStringLiteral("CTRL+SHIFT+k"), ctrlShiftK},
                      ParseCase{"desktopForm", QStringLiteral("Alt+C"), altC},
                      ParseCase{"metaAndQtKeyName", QStringLiteral("Meta+PgUp"),
                                Trigger{std::uint32_t(VirtualKey::pageUp),
                                        std::uint32_t(CarbonModifier::command)}},
                      ParseCase{"spacedKeyName", QStringLiteral("Ctrl+Page Down"),
                                Trigger{std::uint32_t(VirtualKey::pageDown),
                                        std::uint32_t(CarbonModifier::control)}},
                      ParseCase{"unknownModifier", QStringLiteral("Hyper+x"), std::nullopt},
                      ParseCase{"unknownKey", QStringLiteral("ALT+Menu"), std::nullopt},
                      ParseCase{"noKey", QStringLiteral("CTRL+"), std::nullopt},
                      ParseCase{"empty", QString(), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TriggerText, everyNamedKeyReadsBackAsItself) {
    for (std::uint32_t keyCode = 0; keyCode < 128; ++keyCode) {
        const Trigger trigger{keyCode, std::uint32_t(CarbonModifier::option)};
        const auto text = PortalGlobalShortcuts::triggerText(trigger);
        if (text) {
            EXPECT_EQ(PortalGlobalShortcuts::parseTrigger(*text), trigger) << text->toStdString();
        }
    }
}

// --- The service against the mock portal ---------------------------------------------

struct SeenEvent {
    std::uint32_t id;
    EventKind kind;
    std::optional<Trigger> trigger;
    friend bool operator==(const SeenEvent&, const SeenEvent&) = default;
};

class PortalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.isConnected()) << "dbus-daemon did not start"; }

    void makeService() {
        service = std::make_unique<PortalGlobalShortcuts>(bus.connection(),
                                                          PortalGlobalShortcuts::Options{5000ms});
        service->installEventHandler([this](const HotKeyService::Event& event) {
            events.push_back({event.hotKeyID.id, event.kind, event.trigger});
            return true;
        });
    }
    HotKeyService::Registration registerAltC(std::uint32_t id = 1) {
        return service->registerHotKey({{signature, id}, QStringLiteral("activatePicker"), altC});
    }
    // What the mock was asked to bind, and how many times.
    std::pair<std::map<QString, QString>, std::uint32_t> bound() {
        const QDBusMessage reply = bus.control(QStringLiteral("Bound"));
        std::map<QString, QString> map;
        if (reply.arguments().size() != 2)
            return {map, 0};
        const QDBusArgument argument = reply.arguments()[0].value<QDBusArgument>();
        argument.beginMap();
        while (!argument.atEnd()) {
            QString key, value;
            argument.beginMapEntry();
            argument >> key >> value;
            argument.endMapEntry();
            map[key] = value;
        }
        argument.endMap();
        return {map, reply.arguments()[1].toUInt()};
    }
    bool waitForEvents(std::size_t count) {
        return waitUntil([&] { return events.size() >= count; });
    }

    PrivateBus bus;
    std::unique_ptr<PortalGlobalShortcuts> service;
    std::vector<SeenEvent> events;
    ScopedLogCapture log;
};

TEST_F(PortalShortcutsTest, bindsThePreferredTriggerAndReportsPressesAndReleases) {
    ASSERT_TRUE(bus.startPortal({}));
    makeService();
    const auto registration = registerAltC();
    ASSERT_TRUE(registration.handle);
    EXPECT_TRUE(registration.error.isEmpty());

    // The desktop's answer: bound as asked.
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events[0], (SeenEvent{1, EventKind::rebound, altC}));
    EXPECT_EQ(bound().first, (std::map<QString, QString>{{"activatePicker", "ALT+c"}}));

    // A held key reported twice is one key down.
    bus.control(QStringLiteral("Press"), {QStringLiteral("activatePicker")});
    bus.control(QStringLiteral("Press"), {QStringLiteral("activatePicker")});
    bus.control(QStringLiteral("Release"), {QStringLiteral("activatePicker")});
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[1], (SeenEvent{1, EventKind::pressed, std::nullopt}));
    EXPECT_EQ(events[2], (SeenEvent{1, EventKind::released, std::nullopt}));

    // The user changes the keys in the desktop's settings, then to something unreadable.
    bus.control(QStringLiteral("Rebind"),
                {QStringLiteral("activatePicker"), QStringLiteral("CTRL+SHIFT+k")});
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events[3], (SeenEvent{1, EventKind::rebound, ctrlShiftK}));
    bus.control(QStringLiteral("Rebind"),
                {QStringLiteral("activatePicker"), QStringLiteral("Two-finger tap")});
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_EQ(events[4], (SeenEvent{1, EventKind::rebound, std::nullopt}));
    EXPECT_EQ(events.size(), 5u);
}

TEST_F(PortalShortcutsTest, registeringAgainAroundAMenuDoesNotAskTheDesktopAgain) {
    // The hot key center unregisters and registers again around every open menu; each
    // binding may show the desktop's dialog.
    ASSERT_TRUE(bus.startPortal({}));
    makeService();
    const auto first = registerAltC();
    ASSERT_TRUE(waitForEvents(1));
    service->unregisterHotKey(*first.handle);
    const auto again = registerAltC(2);
    ASSERT_TRUE(again.handle);
    EXPECT_EQ(again.boundTrigger, altC);

    // A new trigger is a new question (in a new session), asked once too.
    const auto registerCtrlShiftK = [&](std::uint32_t id) {
        return service->registerHotKey(
            {{signature, id}, QStringLiteral("activatePicker"), ctrlShiftK});
    };
    service->unregisterHotKey(*again.handle);
    const auto changed = registerCtrlShiftK(3);
    ASSERT_TRUE(changed.handle);
    ASSERT_TRUE(waitUntil([&] { return bound().second == 2; }));
    EXPECT_EQ(bound().first.at("activatePicker"), "CTRL+SHIFT+k");
    ASSERT_TRUE(waitUntil([&] { return events.back().trigger == ctrlShiftK; }));
    service->unregisterHotKey(*changed.handle);
    EXPECT_EQ(registerCtrlShiftK(4).boundTrigger, ctrlShiftK);

    // The probe: the desktop still reaches the last registration, and was asked twice.
    bus.control(QStringLiteral("Press"), {QStringLiteral("activatePicker")});
    ASSERT_TRUE(waitUntil([&] { return events.back().kind == EventKind::pressed; }));
    EXPECT_EQ(events.back().id, 4u);
    EXPECT_EQ(bound().second, 2u);
}

TEST_F(PortalShortcutsTest, aRestartedPortalGetsTheShortcutsAgain) {
    ASSERT_TRUE(bus.startPortal({}));
    makeService();
    ASSERT_TRUE(registerAltC().handle);
    ASSERT_TRUE(waitForEvents(1));

    // Gone: unbound. Back (a new process that knows nothing): bound again.
    bus.stopPortal();
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events[1], (SeenEvent{1, EventKind::rebound, std::nullopt}));
    ASSERT_TRUE(bus.startPortal({}));
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[2], (SeenEvent{1, EventKind::rebound, altC}));
    bus.control(QStringLiteral("Press"), {QStringLiteral("activatePicker")});
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events[3], (SeenEvent{1, EventKind::pressed, std::nullopt}));
}

TEST_F(PortalShortcutsTest, aRefusalUnbindsAndIsLogged) {
    ASSERT_TRUE(bus.startPortal({QStringLiteral("--shortcuts"), QStringLiteral("refuse")}));
    makeService();
    ASSERT_TRUE(registerAltC().handle);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events[0], (SeenEvent{1, EventKind::rebound, std::nullopt}));
    const auto lines = log.messages("KeyboardShortcuts");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("did not bind the global shortcut activatePicker"), std::string::npos);
}

class MissingPortalTest : public PortalShortcutsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MissingPortalTest, registrationFailsWithAdviceAndOneLogLine) {
    // Either no portal service at all, or one without the global shortcuts interface.
    const bool portalRuns = GetParam();
    if (portalRuns) {
        ASSERT_TRUE(bus.startPortal({QStringLiteral("--shortcuts"), QStringLiteral("absent")}));
    }
    makeService();
    EXPECT_FALSE(service->isAvailable());
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto registration = registerAltC();
        EXPECT_FALSE(registration.handle);
        EXPECT_TRUE(registration.error.contains(QStringLiteral("daubly --pick")));
    }
    EXPECT_EQ(log.messages("KeyboardShortcuts").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Portal, MissingPortalTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "withoutTheInterface" : "noPortal";
                         });

// --- Through the shortcut registry: what the application sees ------------------------

class PortalRegistryTest : public PortalShortcutsTest {
protected:
    void makeRegistry() {
        service = std::make_unique<PortalGlobalShortcuts>(bus.connection(),
                                                          PortalGlobalShortcuts::Options{5000ms});
        defaults = std::make_unique<UserDefaults>(dir.path() + "/defaults.json");
        registry =
            std::make_unique<KeyboardShortcuts::Registry>(KeyboardShortcuts::Registry::Services{
                *service, *defaults, notifications, scheduler, layout});
        const KeyboardShortcuts::Name name = registry->makeName(
            QStringLiteral("activatePicker"),
            KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                        KeyboardShortcuts::ModifierFlag::option));
        registry->addKeyUpHandler(name, [this] { ++picks; });
        scheduler.runDue();
    }

    QTemporaryDir dir;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    NotificationCenter notifications;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KeyboardShortcuts::Registry> registry;
    int picks = 0;
};

TEST_F(PortalRegistryTest, theDesktopsKeyUpStartsAPick) {
    ASSERT_TRUE(bus.startPortal({}));
    makeRegistry();
    ASSERT_TRUE(waitUntil([&] { return bound().second == 1; }));
    bus.control(QStringLiteral("Press"), {QStringLiteral("activatePicker")});
    bus.control(QStringLiteral("Release"), {QStringLiteral("activatePicker")});
    ASSERT_TRUE(waitUntil([&] { return picks == 1; }));
}

TEST_F(PortalRegistryTest, withoutAPortalRetriesAddNoLogLines) {
    makeRegistry();
    const std::size_t afterStart = log.messages("KeyboardShortcuts").size();
    EXPECT_GE(afterStart, 1u);
    scheduler.advance(KeyboardShortcuts::Registry::registrationRetryInterval * 3);
    EXPECT_EQ(log.messages("KeyboardShortcuts").size(), afterStart);
    EXPECT_FALSE(registry->isShortcutRegistered(
        registry->makeName(QStringLiteral("activatePicker"), std::nullopt)));
}

} // namespace
