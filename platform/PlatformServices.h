#pragma once

// The services of the system Daubly runs on. The executable's loader picks one backend
// at start-up; models only ever see this interface and the services it hands out.

#include <QString>

class DesktopKeybindings;
class DesktopNotifications;
class FramePresenter;
class HotKeyService;
class KeyboardLayout;
class LoginItemService;
class ScreenCapture;
class Workspace;

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // "x11", "null": for the log.
    virtual QString name() const = 0;
    virtual ScreenCapture& screenCapture() = 0;
    virtual Workspace& workspace() = 0;
    // Null when the backend presents frames the usual way.
    virtual FramePresenter* framePresenter() = 0;
    virtual HotKeyService& hotKeys() = 0;
    virtual const KeyboardLayout& keyboardLayout() = 0;
    // Daubly's own login item (the XDG autostart entry on Linux).
    virtual LoginItemService& loginItems() = 0;
    // The desktop's own list of custom keyboard shortcuts, where Daubly may add its own;
    // null where the desktop keeps none that Daubly can write.
    virtual DesktopKeybindings* desktopKeybindings() { return nullptr; }
    // The desktop's notifications, for messages where no tray shows them; null where
    // there are none.
    virtual DesktopNotifications* notifications() { return nullptr; }
    // Called while Daubly quits, on the main thread: hands the text Daubly copied to
    // whatever keeps it once Daubly is gone. Where nothing can, the copy ends with Daubly.
    virtual void keepClipboardAfterExit() {}
};
