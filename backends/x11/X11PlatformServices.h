#pragma once

// The X11 backend: capture, desktop, hot keys and keyboard layout over Qt's xcb platform.

#include "platform/PlatformServices.h"

#include <memory>

class X11PlatformServices {
public:
    // Null unless Qt runs on X11.
    static std::unique_ptr<PlatformServices> create();
};
