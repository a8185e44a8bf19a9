#pragma once

// Capturing every monitor once: the service the picker controller waits on.

#include "platform/DisplaySnapshot.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

struct CaptureResult {
    // One per monitor that could be matched and captured, primary first.
    std::vector<DisplaySnapshot> snapshots;
    // Set when the capture failed; then `snapshots` is empty.
    std::optional<QString> error;
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Slow work runs off the main thread; `completion` is always called once, on the main
    // thread, and never from inside this call.
    virtual void captureAllDisplays(std::function<void(CaptureResult)> completion) = 0;
    // A capture is likely soon (the pick's shortcut is down, or a menu closes first): ready
    // what it will need, off the main thread, so that it does not wait for that then. What
    // is readied holds nothing of the screen and goes again when no capture follows soon.
    virtual void prepare() {}

    // Whether the screen may be read now without asking the user; none while the desktop
    // has not answered in this run (it may remember an earlier answer). X11 never asks.
    virtual std::optional<bool> preflight() const { return true; }
    // Lets the desktop ask the user, where it does; the answer shows in preflight() later.
    virtual bool requestAccess() { return true; }
    // Opens the desktop's settings where the user allows screenshots; false where none is
    // known.
    virtual bool openPermissionSettings() { return false; }
};
