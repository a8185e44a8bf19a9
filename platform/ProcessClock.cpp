#include "platform/ProcessClock.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace ProcessClock {

std::optional<std::chrono::milliseconds> sinceProcessStart() {
    // Field 22 of /proc/self/stat is the start time in clock ticks after boot; the
    // command name (field 2) may hold spaces, so fields are counted after its ')'.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line))
        return std::nullopt;
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 22) {
            startTicks = std::stoull(field);
            break;
        }
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec now{};
    if (startTicks == 0 || ticksPerSecond <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return std::nullopt;
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    const double startMs = double(startTicks) * 1000.0 / double(ticksPerSecond);
    return std::chrono::milliseconds(static_cast<long long>(nowMs - startMs));
}

} // namespace ProcessClock
