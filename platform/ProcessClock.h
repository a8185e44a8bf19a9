#pragma once

// How long ago this process was started, as the kernel counts it (so the loading of
// the program and its libraries is included). Used to time start-up.

#include <chrono>
#include <optional>

namespace ProcessClock {

// None where the kernel does not say; resolution of the kernel's clock tick (10 ms).
std::optional<std::chrono::milliseconds> sinceProcessStart();

} // namespace ProcessClock
