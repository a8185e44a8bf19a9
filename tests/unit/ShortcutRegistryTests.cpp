#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/ShortcutFakes.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

using namespace KeyboardShortcuts;
using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;

namespace {

const Shortcut optionC(Key::c, ModifierFlag::option);
const Shortcut commandS(Key::s, ModifierFlag::command);

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { restart(); }

    QString path() const { return m_dir.path() + "/defaults.json"; }
    QByteArray fileBytes() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes) {
        registry.reset();
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    // A new launch over the same settings file.
    void restart() {
        registry.reset();
        defaults = std::make_unique<UserDefaults>(path());
        registry = std::make_unique<Registry>(
            Registry::Services{service, *defaults, notifications, scheduler, layout});
        changes.clear();
        notifications.disconnect();
        notifications.observe(shortcutByNameDidChange, &notifications,
                              [this](const QVariantMap& info) {
                                  const auto name = changedName(info);
                                  changes.push_back(name ? name->rawValue() : QString());
                              });
    }
    bool serviceHas(const Shortcut& shortcut) const {
        return service.isRegistered(std::uint32_t(shortcut.carbonKeyCode),
                                    std::uint32_t(shortcut.carbonModifiers));
    }
    bool press(const Shortcut& s) {
        return service.press(std::uint32_t(s.carbonKeyCode), std::uint32_t(s.carbonModifiers));
    }
    bool release(const Shortcut& s) {
        return service.release(std::uint32_t(s.carbonKeyCode), std::uint32_t(s.carbonModifiers));
    }
    void refuse(const Shortcut& s, bool refused = true) {
        const std::pair key(std::uint32_t(s.carbonKeyCode), std::uint32_t(s.carbonModifiers));
        if (refused)
            service.refused.insert(key);
        else
            service.refused.erase(key);
    }

    QTemporaryDir m_dir;
    FakeHotKeyService service;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    NotificationCenter notifications;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<Registry> registry;
    std::vector<QString> changes;
};

// Storage

TEST_F(RegistryTest, StoredValueFormsReadAsTheirShortcutOrNone) {
    const Name name = Name::fromRawValue(QStringLiteral("pick"));
    struct Case {
        const char* label;
        QJsonValue stored;
        std::optional<Shortcut> expected;
    };
    const Case cases[] = {
        {"shortcut JSON", QStringLiteral(R"({"carbonKeyCode":8,"carbonModifiers":2048})"), optionC},
        {"members swapped", QStringLiteral(R"({"carbonModifiers":2048,"carbonKeyCode":8})"),
         optionC},
        {"false", false, std::nullopt},
        {"true", true, std::nullopt},
        {"a number", 8, std::nullopt},
        {"an object, not a string", QJsonObject{{"carbonKeyCode", 8}, {"carbonModifiers", 2048}},
         std::nullopt},
        {"a string that is no JSON", QStringLiteral("Option-C"), std::nullopt},
        {"nothing", QJsonValue(QJsonValue::Undefined), std::nullopt},
    };
    for (const Case& c : cases) {
        defaults->setValue(QStringLiteral("KeyboardShortcuts_pick"), c.stored);
        EXPECT_EQ(registry->getShortcut(name), c.expected) << c.label;
    }
    EXPECT_EQ(Registry::storageKey(name), QStringLiteral("KeyboardShortcuts_pick"));
}

TEST_F(RegistryTest, AHandWrittenShortcutIsHonoured) {
    writeFile(
        R"({"KeyboardShortcuts_activatePicker": "{\"carbonKeyCode\":8,\"carbonModifiers\":2304}"})");
    restart();
    const QByteArray before = fileBytes();
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    const Shortcut optionCommandC(Key::c, ModifierFlag::option | ModifierFlag::command);
    EXPECT_EQ(registry->getShortcut(name), optionCommandC);
    EXPECT_EQ(optionCommandC.description(layout), u"Alt+Super+C"_s);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });
    EXPECT_TRUE(serviceHas(optionCommandC));
    EXPECT_FALSE(serviceHas(optionC));
    press(optionCommandC);
    release(optionCommandC);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(RegistryTest, AMalformedShortcutReadsAsNoneAndStaysInTheFile) {
    writeFile(R"({"KeyboardShortcuts_activatePicker": "{\"carbonKeyCode\":8,"})");
    restart();
    const QByteArray before = fileBytes();
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    registry->addKeyUpHandler(name, [] {});
    scheduler.runDue();
    EXPECT_EQ(registry->getShortcut(name), std::nullopt);
    EXPECT_TRUE(service.registered.empty());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(fileBytes(), before);
    // The next store replaces it.
    registry->setShortcut(commandS, name);
    EXPECT_EQ(registry->getShortcut(name), commandS);
    EXPECT_TRUE(serviceHas(commandS));
}

TEST_F(RegistryTest, AStoredValueThatIsNoShortcutIsReportedOnce) {
    struct Case {
        const char* label;
        QByteArray stored; // the JSON of the value in the file
        bool reported;
    };
    const Case cases[] = {
        {"a word", R"("abc")", true},
        {"truncated shortcut JSON", R"("{\"carbonKeyCode\":8,")", true},
        {"fields of the wrong type", R"("{\"carbonKeyCode\":\"8\",\"carbonModifiers\":2048}")",
         true},
        {"an object, not a string", R"({"carbonKeyCode": 8, "carbonModifiers": 2048})", true},
        {"a number", "8", true},
        {"true", "true", true},
        {"false: removed by the user", "false", false},
        {"a shortcut", R"("{\"carbonKeyCode\":8,\"carbonModifiers\":2048}")", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        writeFile("{\"KeyboardShortcuts_activatePicker\": " + c.stored + "}");
        ScopedLogCapture log;
        restart();
        const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
        registry->addKeyUpHandler(name, [] {});
        scheduler.runDue();
        registry->getShortcut(name);
        const auto lines = log.messages("KeyboardShortcuts");
        const auto ignored = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("Ignored the stored shortcut KeyboardShortcuts_activatePicker") !=
                   std::string::npos;
        });
        EXPECT_EQ(ignored, c.reported ? 1 : 0) << testing::PrintToString(lines);
    }
}

TEST_F(RegistryTest, AShortcutChangedInTheFileByHandMovesTheHotKey) {
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    registry->addKeyUpHandler(name, [] {});
    scheduler.runDue();
    ASSERT_TRUE(serviceHas(optionC));
    changes.clear();

    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(
        R"({"KeyboardShortcuts_activatePicker": "{\"carbonKeyCode\":1,\"carbonModifiers\":256}"})");
    file.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !changes.empty(); }, 5000));
    EXPECT_EQ(changes, std::vector<QString>{"activatePicker"});
    EXPECT_TRUE(serviceHas(commandS));
    EXPECT_FALSE(serviceHas(optionC));
}

TEST_F(RegistryTest, ANewNameStoresItsInitialShortcutOnlyWhenNothingIsStored) {
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    EXPECT_EQ(defaults->stringValue(QStringLiteral("KeyboardShortcuts_activatePicker")),
              QStringLiteral(R"({"carbonKeyCode":8,"carbonModifiers":2048})"));
    EXPECT_TRUE(changes.empty());

    registry->setShortcut(std::nullopt, name);
    EXPECT_EQ(defaults->value(QStringLiteral("KeyboardShortcuts_activatePicker")),
              QJsonValue(false));
    restart();
    const Name again = registry->makeName(QStringLiteral("activatePicker"), commandS);
    EXPECT_EQ(registry->getShortcut(again), std::nullopt);
    EXPECT_EQ(defaults->value(QStringLiteral("KeyboardShortcuts_activatePicker")),
              QJsonValue(false));
    // Equal by raw value, whatever their initial shortcuts.
    EXPECT_EQ(name, again);
    EXPECT_EQ(name, Name::fromRawValue(QStringLiteral("activatePicker")));
}

TEST_F(RegistryTest, TheHotKeyCenterIsCreatedOnceAfterTheCurrentWork) {
    registry->makeName(QStringLiteral("one"), optionC);
    registry->makeName(QStringLiteral("two"), std::nullopt);
    EXPECT_FALSE(registry->hasHotKeyCenter());
    EXPECT_EQ(scheduler.pendingCount(), 1u);
    scheduler.runDue();
    EXPECT_TRUE(registry->hasHotKeyCenter());
}

TEST_F(RegistryTest, EachRealChangePostsOnce) {
    const Name withInitial = registry->makeName(QStringLiteral("withInitial"), optionC);
    const Name plain = registry->makeName(QStringLiteral("plain"), std::nullopt);

    registry->setShortcut(std::nullopt, withInitial);
    registry->setShortcut(std::nullopt, withInitial); // already false
    registry->setShortcut(std::nullopt, plain);       // nothing stored
    EXPECT_EQ(changes, std::vector<QString>{"withInitial"});

    changes.clear();
    registry->setShortcut(commandS, plain);
    registry->setShortcut(commandS, plain); // stored again: still a change for observers
    registry->setShortcut(std::nullopt, plain);
    EXPECT_EQ(changes, (std::vector<QString>{"plain", "plain", "plain"}));
    EXPECT_FALSE(defaults->contains(QStringLiteral("KeyboardShortcuts_plain")));

    changes.clear();
    registry->resetShortcuts({withInitial, plain}); // plain has nothing stored: skipped
    registry->resetShortcuts({withInitial});        // equal already: posts anyway
    EXPECT_EQ(changes, (std::vector<QString>{"withInitial", "withInitial"}));
    EXPECT_EQ(registry->getShortcut(withInitial), optionC);
}

TEST_F(RegistryTest, RemovingAllClearsEveryPrefixedKey) {
    const Name known = registry->makeName(QStringLiteral("known"), optionC);
    defaults->setValue(QStringLiteral("KeyboardShortcuts_foreign"), false);
    defaults->setValue(QStringLiteral("copyFormat"), QStringLiteral("hex"));
    int keyUps = 0;
    registry->addKeyUpHandler(known, [&] { ++keyUps; });
    ASSERT_TRUE(serviceHas(optionC));

    EXPECT_EQ(registry->storedNames(),
              (std::set<Name>{Name::fromRawValue("known"), Name::fromRawValue("foreign")}));
    registry->removeAllShortcuts();
    EXPECT_EQ(changes.size(), 2u);
    EXPECT_TRUE(registry->storedNames().empty());
    EXPECT_EQ(defaults->stringValue(QStringLiteral("copyFormat")), QStringLiteral("hex"));
    EXPECT_FALSE(serviceHas(optionC));
    // The next launch writes the initial shortcut back.
    restart();
    EXPECT_EQ(registry->getShortcut(registry->makeName(QStringLiteral("known"), optionC)), optionC);
}

TEST_F(RegistryTest, NotificationPayloadsAreReadSafely) {
    const Name name = Name::fromRawValue(QStringLiteral("n"));
    EXPECT_EQ(changedName({{QStringLiteral("name"), QVariant::fromValue(name)}}), name);
    EXPECT_EQ(changedName({{QStringLiteral("name"), QStringLiteral("n")}}), std::nullopt);
    EXPECT_EQ(changedName({}), std::nullopt);
    EXPECT_TRUE(isActiveFlag({{QStringLiteral("isActive"), true}}));
    EXPECT_FALSE(isActiveFlag({{QStringLiteral("isActive"), 1}}));
    EXPECT_FALSE(isActiveFlag({}));
}

// Handlers and hot keys

TEST_F(RegistryTest, HandlersOfANameShareOneHotKeyAndKeyUpRunsOnlyKeyUps) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    std::vector<std::string> calls;
    registry->addKeyUpHandler(name, [&] { calls.push_back("up 1"); });
    registry->addKeyUpHandler(name, [&] { calls.push_back("up 2"); });
    EXPECT_EQ(service.registered.size(), 1u);
    EXPECT_EQ(registry->registeredHotKeyCount(), 1u);
    EXPECT_TRUE(registry->isShortcutRegistered(name));

    EXPECT_TRUE(press(optionC));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(release(optionC));
    EXPECT_EQ(calls, (std::vector<std::string>{"up 1", "up 2"}));
}

TEST_F(RegistryTest, TwoNamesWithOneShortcutShareItsHotKey) {
    const Name first = registry->makeName(QStringLiteral("first"), optionC);
    const Name second = registry->makeName(QStringLiteral("second"), optionC);
    int firstDowns = 0, secondDowns = 0;
    registry->addKeyDownHandler(first, [&] { ++firstDowns; });
    registry->addKeyDownHandler(second, [&] { ++secondDowns; });
    EXPECT_EQ(service.registered.size(), 1u);
    press(optionC);
    EXPECT_EQ(std::pair(firstDowns, secondDowns), std::pair(1, 1));

    registry->removeHandlers(first);
    EXPECT_TRUE(serviceHas(optionC));
    press(optionC);
    EXPECT_EQ(std::pair(firstDowns, secondDowns), std::pair(1, 2));
    registry->removeHandlers(second);
    EXPECT_TRUE(service.registered.empty());
}

TEST_F(RegistryTest, ChangingTheStoredShortcutMovesTheHotKey) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });
    registry->setShortcut(commandS, name);
    EXPECT_FALSE(serviceHas(optionC));
    EXPECT_TRUE(serviceHas(commandS));
    press(commandS);
    release(commandS);
    EXPECT_EQ(keyUps, 1);
    registry->setShortcut(std::nullopt, name);
    EXPECT_TRUE(service.registered.empty());
}

TEST_F(RegistryTest, DisablingANameReleasesItsHotKeyAndSilencesIt) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    const Name other = registry->makeName(QStringLiteral("other"), optionC);
    int nameUps = 0, otherUps = 0;
    registry->addKeyUpHandler(name, [&] { ++nameUps; });
    registry->disableNames({name});
    registry->disableNames({name});
    EXPECT_TRUE(service.registered.empty());
    EXPECT_FALSE(registry->isShortcutRegistered(name));

    // Another name keeps the hot key, and only it hears the key.
    registry->addKeyUpHandler(other, [&] { ++otherUps; });
    press(optionC);
    release(optionC);
    EXPECT_EQ(std::pair(nameUps, otherUps), std::pair(0, 1));

    registry->enableNames({name});
    EXPECT_TRUE(registry->isShortcutRegistered(name));
    press(optionC);
    release(optionC);
    EXPECT_EQ(std::pair(nameUps, otherUps), std::pair(1, 2));
}

TEST_F(RegistryTest, DisabledAndPausedStatesKeepHotKeysButNotTheirGrabs) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });

    registry->setEnabled(false);
    EXPECT_TRUE(service.registered.empty());
    EXPECT_EQ(registry->registeredHotKeyCount(), 1u);
    EXPECT_FALSE(registry->isShortcutRegistered(name));
    registry->setEnabled(true);
    EXPECT_TRUE(serviceHas(optionC));
    EXPECT_TRUE(registry->isShortcutRegistered(name));

    registry->setPaused(true);
    EXPECT_TRUE(service.registered.empty());
    EXPECT_EQ(registry->hotKeyCenter().mode(), HotKeyCenter::Mode::disabled);
    registry->setPaused(false);
    EXPECT_TRUE(serviceHas(optionC));

    // A hot key added while disabled waits in the center without a grab.
    registry->setEnabled(false);
    const Name later = registry->makeName(QStringLiteral("later"), commandS);
    registry->addKeyUpHandler(later, [] {});
    EXPECT_TRUE(service.registered.empty());
    registry->setEnabled(true);
    EXPECT_TRUE(serviceHas(optionC));
    EXPECT_TRUE(serviceHas(commandS));
}

TEST_F(RegistryTest, NothingIsDispatchedWhilePaused) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });
    auto stream = registry->keyEvents(name);
    // The paused flag alone must stop dispatch, even for an event already on its way.
    const auto hotKey = registry->registeredHotKey(optionC);
    registry->setPaused(true);
    hotKey->onKeyUp();
    EXPECT_EQ(keyUps, 0);
    EXPECT_TRUE(stream.takePending().empty());
}

TEST_F(RegistryTest, TheRegistryLearnsTheKeysTheDesktopBound) {
    ScopedLogCapture log;
    // A desktop that binds Command-S when asked for Option-C, under the name's description.
    service
        .rebinds[{std::uint32_t(optionC.carbonKeyCode), std::uint32_t(optionC.carbonModifiers)}] = {
        std::uint32_t(commandS.carbonKeyCode), std::uint32_t(commandS.carbonModifiers)};
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });
    ASSERT_TRUE(registry->isShortcutRegistered(name));
    EXPECT_EQ(service.descriptions.back(), QStringLiteral("activatePicker"));
    EXPECT_EQ(registry->getShortcut(name), optionC);
    EXPECT_EQ(registry->boundShortcut(name), commandS);
    EXPECT_EQ(log.messages("KeyboardShortcuts"),
              std::vector<std::string>{"The desktop bound the global shortcut Alt+C to Super+S"});
    // The keys the desktop bound are the ones that fire.
    press(commandS);
    release(commandS);
    EXPECT_EQ(keyUps, 1);

    // Later the user gives it other keys in the desktop's settings, then none.
    const HotKeyService::HotKeyID id = service.registered.begin()->second.id;
    ASSERT_TRUE(service.handler);
    EXPECT_TRUE(service.handler({id, HotKeyService::EventKind::rebound,
                                 HotKeyService::Trigger{std::uint32_t(Key::f5.rawValue), 0}}));
    EXPECT_EQ(registry->boundShortcut(name), Shortcut(Key::f5));
    service.handler({id, HotKeyService::EventKind::rebound, std::nullopt});
    EXPECT_EQ(registry->boundShortcut(name), std::nullopt);
}

TEST_F(RegistryTest, ARefusedRegistrationIsLoggedAndRetried) {
    ScopedLogCapture log;
    refuse(optionC);
    const Name name = registry->makeName(QStringLiteral("activatePicker"), optionC);
    int keyUps = 0;
    registry->addKeyUpHandler(name, [&] { ++keyUps; });
    EXPECT_FALSE(registry->isShortcutRegistered(name));
    EXPECT_EQ(log.messages("KeyboardShortcuts"),
              std::vector<std::string>{"Could not register the global shortcut Alt+C: another "
                                       "application already uses it"});

    // Still taken: tried again without a second line.
    scheduler.advance(Registry::registrationRetryInterval);
    EXPECT_FALSE(registry->isShortcutRegistered(name));
    EXPECT_EQ(log.messages("KeyboardShortcuts").size(), 1u);

    refuse(optionC, false);
    scheduler.advance(Registry::registrationRetryInterval);
    EXPECT_TRUE(registry->isShortcutRegistered(name));
    press(optionC);
    release(optionC);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(log.messages("KeyboardShortcuts").back(), "Registered the global shortcut Alt+C");

    // Nothing left to retry once the name no longer needs it.
    refuse(commandS);
    registry->setShortcut(commandS, name);
    registry->removeHandlers(name);
    const int calls = service.registerCalls;
    scheduler.advance(Registry::registrationRetryInterval * 3);
    EXPECT_EQ(service.registerCalls, calls);
}

TEST_F(RegistryTest, AFailedReregistrationDropsTheHotKey) {
    ScopedLogCapture log;
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    registry->addKeyUpHandler(name, [] {});
    registry->setEnabled(false);
    refuse(optionC);
    registry->setEnabled(true);
    EXPECT_EQ(registry->registeredHotKeyCount(), 0u);
    EXPECT_FALSE(registry->isShortcutRegistered(name));
    EXPECT_EQ(log.messages("KeyboardShortcuts").size(), 1u);
    refuse(optionC, false);
    scheduler.advance(Registry::registrationRetryInterval);
    EXPECT_TRUE(registry->isShortcutRegistered(name));
}

TEST_F(RegistryTest, ForeignAndStaleHotKeyEventsAreNotHandled) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    registry->addKeyUpHandler(name, [] {});
    const std::uint32_t id = registry->registeredHotKey(optionC)->id;
    HotKeyCenter& center = registry->hotKeyCenter();
    EXPECT_TRUE(center.handleHotKeyEvent({{HotKeyCenter::signature, id}, {}}));
    EXPECT_FALSE(center.handleHotKeyEvent({{0x41424344, id}, {}}));
    registry->removeHandlers(name); // destroys the hot key
    EXPECT_EQ(center.hotKey(id), nullptr);
    EXPECT_FALSE(center.handleHotKeyEvent({{HotKeyCenter::signature, id}, {}}));
}

TEST_F(RegistryTest, StateChangesFromAnotherThreadHappenOnTheMainThread) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    registry->addKeyUpHandler(name, [] {});
    HotKeyCenter& center = registry->hotKeyCenter();
    std::optional<KeyEventStream> stream = registry->keyEvents(commandS);
    ASSERT_TRUE(serviceHas(commandS));

    std::thread([&] {
        center.setMenuOpen(true);
        stream.reset(); // ends the stream
    }).join();
    // Nothing was written from the other thread...
    EXPECT_FALSE(center.isMenuOpen());
    EXPECT_EQ(center.mode(), HotKeyCenter::Mode::normal);
    EXPECT_TRUE(serviceHas(commandS));
    // ...the main thread carries the changes out.
    QCoreApplication::processEvents();
    EXPECT_TRUE(center.isMenuOpen());
    EXPECT_EQ(center.mode(), HotKeyCenter::Mode::menuOpen);
    std::thread([&] { center.setMenuOpen(false); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(center.mode(), HotKeyCenter::Mode::normal);
    EXPECT_TRUE(serviceHas(optionC));
    EXPECT_FALSE(serviceHas(commandS));
}

TEST_F(RegistryTest, WhileAMenuIsOpenTheKeysAreMatchedInTheApplication) {
    const Name name = registry->makeName(QStringLiteral("pick"), optionC);
    int downs = 0, ups = 0;
    registry->addKeyDownHandler(name, [&] { ++downs; });
    registry->addKeyUpHandler(name, [&] { ++ups; });

    QMenu menu;
    menu.addAction(QStringLiteral("Pick Color"));
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(menu.isVisible());
    EXPECT_EQ(registry->hotKeyCenter().mode(), HotKeyCenter::Mode::menuOpen);
    EXPECT_TRUE(service.registered.empty());

    const auto send = [&](QEvent::Type type, Qt::KeyboardModifiers modifiers, bool repeat,
                          int key = Qt::Key_C, quint32 scanCode = 54) {
        // X11 keycode 54 is the C key, 64 the left Alt, 37 the left Control.
        QKeyEvent event(type, key, modifiers, scanCode, 0, 0, QString(), repeat);
        QApplication::sendEvent(&menu, &event);
        return event.isAccepted();
    };
    // Alt alone would close the menu, and the rest of the shortcut would go elsewhere.
    send(QEvent::KeyPress, Qt::NoModifier, false, Qt::Key_Alt, 64);
    EXPECT_TRUE(menu.isVisible());
    send(QEvent::KeyPress, Qt::AltModifier | Qt::KeypadModifier, false);
    send(QEvent::KeyPress, Qt::AltModifier, true); // auto-repeat: ignored
    // Alt let go of first: the release of C still ends the shortcut.
    send(QEvent::KeyRelease, Qt::NoModifier, false);
    send(QEvent::KeyRelease, Qt::NoModifier, false);                    // no press before it
    send(QEvent::KeyPress, Qt::AltModifier | Qt::ShiftModifier, false); // not the shortcut
    EXPECT_EQ(std::pair(downs, ups), std::pair(1, 1));
    EXPECT_TRUE(menu.isVisible()); // the matches were swallowed, the menu never saw them

    // A modifier that no hot key needs is the menu's.
    QKeyEvent control(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier, 37, 0, 0);
    EXPECT_FALSE(registry->hotKeyCenter().handleKeyEvent(control));

    menu.hide();
    EXPECT_EQ(registry->hotKeyCenter().mode(), HotKeyCenter::Mode::normal);
    EXPECT_TRUE(serviceHas(optionC));
}

// Streams

TEST_F(RegistryTest, ANameStreamRegistersWhenAShortcutIsStoredAndReleasesWhenDropped) {
    const Name name = registry->makeName(QStringLiteral("pick"), std::nullopt);
    std::vector<EventType> events;
    {
        auto stream = registry->keyEvents(name);
        EXPECT_TRUE(service.registered.empty());
        registry->setShortcut(optionC, name);
        EXPECT_TRUE(serviceHas(optionC));
        press(optionC);
        release(optionC);
        EXPECT_EQ(stream.takePending(), (std::vector{EventType::keyDown, EventType::keyUp}));
        auto upsOnly = registry->keyEvents(EventType::keyUp, name);
        upsOnly.setHandler([&](EventType type) { events.push_back(type); });
        press(optionC);
        release(optionC);
    }
    EXPECT_EQ(events, std::vector{EventType::keyUp});
    EXPECT_TRUE(service.registered.empty());
    EXPECT_EQ(registry->registeredHotKeyCount(), 0u);
}

TEST_F(RegistryTest, AShortcutStreamNeedsNoName) {
    std::optional<KeyEventStream> stream = registry->keyEvents(EventType::keyDown, commandS);
    EXPECT_TRUE(serviceHas(commandS));
    press(commandS);
    release(commandS);
    EXPECT_EQ(stream->takePending(), std::vector{EventType::keyDown});
    stream.reset();
    EXPECT_TRUE(service.registered.empty());
}

TEST_F(RegistryTest, RemovingAllHandlersKeepsWhatStreamsNeed) {
    const Name handled = registry->makeName(QStringLiteral("handled"), commandS);
    const Name streamed = registry->makeName(QStringLiteral("streamed"), optionC);
    registry->addKeyUpHandler(handled, [] {});
    registry->addKeyUpHandler(streamed, [] {});
    auto stream = registry->keyEvents(streamed);
    registry->removeAllHandlers();
    EXPECT_FALSE(serviceHas(commandS));
    EXPECT_TRUE(serviceHas(optionC));
    press(optionC);
    EXPECT_EQ(stream.takePending(), std::vector{EventType::keyDown});
}

TEST_F(RegistryTest, ARepeatingStreamFollowsTheKeyRepeatTiming) {
    service.repeat = {500ms, 50ms};
    const Name name = registry->makeName(QStringLiteral("nudge"), optionC);
    std::vector<std::chrono::milliseconds> times;
    const auto start = scheduler.now();
    auto stream = registry->repeatingKeyDownEvents(name);
    stream.setHandler([&] {
        times.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(scheduler.now() - start));
    });
    scheduler.runDue();

    press(optionC);
    scheduler.advance(620ms);
    release(optionC);
    scheduler.advance(1s);
    EXPECT_EQ(times, (std::vector<std::chrono::milliseconds>{0ms, 500ms, 550ms, 600ms}));

    // Changing the name's shortcut while held ends the repeats.
    times.clear();
    press(optionC);
    scheduler.advance(520ms);
    registry->setShortcut(commandS, name);
    scheduler.advance(1s);
    EXPECT_EQ(times.size(), 2u);
    release(optionC); // no longer registered
    press(commandS);
    registry->setPaused(true);
    scheduler.advance(1s);
    EXPECT_EQ(times.size(), 3u); // the key down only
}

TEST_F(RegistryTest, ARepeatingStreamKeepsOnlyTheNewestElement) {
    service.repeat = {100ms, 10ms};
    auto stream = registry->repeatingKeyDownEvents(optionC);
    press(optionC);
    scheduler.advance(200ms); // eleven elements, none taken
    EXPECT_TRUE(stream.takePending());
    EXPECT_FALSE(stream.takePending());
    release(optionC);
    scheduler.advance(200ms);
    EXPECT_FALSE(stream.takePending());
    registry->setEnabled(false);
    EXPECT_TRUE(service.registered.empty());
}

} // namespace

namespace {

// The process-wide registry as the application wires it: a name declared before
// start-up, configure() once, then the namespace functions.
TEST(SharedRegistryTest, NamesMadeBeforeConfigureGetTheirSideEffectsThen) {
    ASSERT_FALSE(isConfigured());
    static QTemporaryDir dir;
    static FakeHotKeyService service;
    static FakeScheduler scheduler;
    static FakeKeyboardLayout layout = usLayout();
    static NotificationCenter notifications;
    static UserDefaults defaults(dir.path() + "/defaults.json");

    const Name activatePicker{QStringLiteral("activatePicker"), optionC};
    EXPECT_FALSE(defaults.contains(QStringLiteral("KeyboardShortcuts_activatePicker")));
    configure({service, defaults, notifications, scheduler, layout});
    EXPECT_EQ(getShortcut(activatePicker), optionC);
    EXPECT_EQ(activatePicker.shortcut(), optionC);

    int keyUps = 0;
    addKeyUpHandler(activatePicker, [&] { ++keyUps; });
    EXPECT_TRUE(isShortcutRegistered(activatePicker));
    service.pressAndRelease(8, 0x800);
    EXPECT_EQ(keyUps, 1);
    // The display text uses the configured layout.
    EXPECT_EQ(optionC.description(), u"Alt+C"_s);
    removeAllHandlers();
    EXPECT_TRUE(service.registered.empty());
}

} // namespace
