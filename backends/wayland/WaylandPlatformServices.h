#pragma once

// The Wayland backend: capture, desktop and keyboard over Qt's wayland platform.

#include "platform/PlatformServices.h"

#include <memory>

class WaylandPlatformServices {
public:
    // Null unless Qt runs as a Wayland client.
    static std::unique_ptr<PlatformServices> create();
};
