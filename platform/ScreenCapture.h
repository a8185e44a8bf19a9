#pragma once

// Capturing every monitor once: the service the picker controller waits on.

#include "app/DisplaySnapshot.h"

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
};
