#pragma once

// The application's delegate: owns the update objects and, once launching has
// finished, installs the pick trigger and decides whether onboarding is shown.

#include "app/OnboardingWindowController.h"
#include "app/Updates.h"

#include <QObject>
#include <functional>

class PickerController;
class Scheduler;
class UserDefaults;

class AppDelegate : public QObject {
    Q_OBJECT

public:
    struct Services {
        UserDefaults& defaults;
        OnboardingWindowController& onboarding;
        Scheduler& scheduler;
        // Registers a key-up handler for the "activatePicker" shortcut.
        std::function<void(std::function<void()>)> addPickShortcutKeyUpHandler;
        // The controller the trigger drives; resolved when the trigger fires, so the
        // controller is created on first use.
        std::function<PickerController&()> pickerController;
    };

    explicit AppDelegate(Services services, QObject* parent = nullptr);

    void applicationDidFinishLaunching();

    CheckForUpdatesViewModel& checkForUpdates() { return m_checkForUpdates; }
    StandardUpdaterController& updaterController() { return m_updaterController; }

    // The shortcut's action: idle starts a pick at once, otherwise the pick is cancelled.
    static void pickTrigger(PickerController& controller);

private:
    Services m_services;
    UpdaterUserDriverDelegate m_userDriverDelegate;
    StandardUpdaterController m_updaterController;
    CheckForUpdatesViewModel m_checkForUpdates;
};
