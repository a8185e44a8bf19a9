#pragma once

// Picks the backend for this session, once, at start-up: X11 when Qt runs on X11, the
// null backend when nothing fits. DAUBLY_PLATFORM=null forces the null backend.

#include "platform/PlatformServices.h"

#include <memory>

std::unique_ptr<PlatformServices> loadPlatform();
