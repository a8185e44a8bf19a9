#pragma once

// The services of the system Daubly runs on, chosen once at start-up. Only this
// factory knows which backend runs; models receive the services they need.

class FramePresenter;
class LoginItemService;
class ScreenCapture;
class Workspace;

class PlatformServices {
public:
    virtual ~PlatformServices() = default;
    virtual ScreenCapture& screenCapture() = 0;
    virtual Workspace& workspace() = 0;
    virtual FramePresenter& framePresenter() = 0;
    // Daubly's own login item (the XDG autostart entry on Linux).
    virtual LoginItemService& loginItems() = 0;

    // The running system's services (X11 today), created on first use (main thread,
    // after the application object exists).
    static PlatformServices& current();
};
