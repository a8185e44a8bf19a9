#pragma once

// The backend for a session no other backend fits, and for tests: it captures nothing,
// grabs nothing and knows no keyboard layout, and says so when asked.

#include "platform/PlatformServices.h"

#include <memory>

class NullPlatformServices {
public:
    static std::unique_ptr<PlatformServices> create();
};
