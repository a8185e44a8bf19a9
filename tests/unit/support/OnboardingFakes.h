#pragma once

// What the onboarding window's setup page works with, all fake: a login item whose
// state the test sets, and a shortcut registry over a fake hot key service. Tests, the
// benchmark and the screenshot tool build their windows on it.

#include "KeyboardShortcuts/Recorder.h"
#include "app/OnboardingPages.h"
#include "platform/ApplicationActivation.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "support/ShortcutFakes.h"

class FakeLoginItems final : public LoginItemService {
public:
    Status status() const override { return current; }
    std::optional<QString> registerItem() override {
        ++registers;
        if (failure)
            return failure;
        current = Status::enabled;
        return std::nullopt;
    }
    std::optional<QString> unregisterItem() override {
        ++unregisters;
        if (failure)
            return failure;
        current = Status::notRegistered;
        return std::nullopt;
    }
    bool openSettings() override {
        ++settingsOpened;
        return true;
    }

    Status current = Status::notRegistered;
    std::optional<QString> failure;
    int registers = 0;
    int unregisters = 0;
    int settingsOpened = 0;
};

struct SetupFakes {
    // Key names come from the fake US layout while it lives.
    explicit SetupFakes(UserDefaults& defaults)
        : defaults(defaults) {
        KeyboardShortcuts::setKeyboardLayout(&layout);
    }
    ~SetupFakes() { KeyboardShortcuts::setKeyboardLayout(nullptr); }
    SetupFakes(const SetupFakes&) = delete;
    SetupFakes& operator=(const SetupFakes&) = delete;

    SetupServices services() {
        KeyboardShortcuts::Recorder::Environment environment;
        environment.registry = &registry;
        environment.notifications = &notifications;
        environment.applicationMenu = [] { return nullptr; };
        environment.isTakenBySystem = [](const KeyboardShortcuts::Shortcut&) { return false; };
        environment.beep = [] {};
        environment.presentAlert = [](QWidget*, const QString&, const std::optional<QString>&,
                                      const QStringList&) { return 0; };
        return {defaults, loginItems, activation, name, environment};
    }

    UserDefaults& defaults;
    FakeLoginItems loginItems;
    ApplicationActivation activation;
    FakeHotKeyService hotKeys;
    NotificationCenter notifications;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    KeyboardShortcuts::Registry registry{{hotKeys, defaults, notifications, scheduler, layout}};
    KeyboardShortcuts::Name name =
        registry.makeName(QStringLiteral("activatePicker"),
                          KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                                      KeyboardShortcuts::ModifierFlag::option));
};
