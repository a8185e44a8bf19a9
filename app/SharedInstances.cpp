#include "app/SharedInstances.h"

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "app/ColorHistory.h"
#include "app/OnboardingWindowController.h"
#include "app/PickerController.h"
#include "app/PickerSession.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformServices.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

namespace {
PlatformServices* configuredPlatform = nullptr;
} // namespace

PlatformServices& sharedPlatform() {
    Q_ASSERT_X(configuredPlatform, "sharedPlatform", "configureSharedInstances() runs first");
    return *configuredPlatform;
}

bool isSharedPlatformConfigured() {
    return configuredPlatform != nullptr;
}

void configureSharedInstances(PlatformServices& platform) {
    configuredPlatform = &platform;
    KeyboardShortcuts::configure({platform.hotKeys(), UserDefaults::standard(),
                                  NotificationCenter::defaultCenter(), Scheduler::main(),
                                  platform.keyboardLayout()});
    PickerController::makeShared(
        {platform.screenCapture(), ScreenRecordingPermission::shared(),
         OnboardingWindowController::shared(), UserDefaults::standard(), Scheduler::main(),
         [&platform](std::vector<DisplaySnapshot> snapshots, ColorFormat format) {
             return std::shared_ptr<PickerController::Session>(PickerSession::make(
                 std::move(snapshots), format, platform.workspace(), platform.framePresenter()));
         },
         [](const PickedColor& color) { ColorHistory::shared().add(color); }});
}
