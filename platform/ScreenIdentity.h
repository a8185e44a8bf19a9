#pragma once

// Where the display server gives monitors no numbers of its own (Wayland), a monitor's
// display id is derived from its name: the same name gives the same id in the capture
// and in the workspace, and from one pick to the next.

#include <QString>
#include <cstdint>

// FNV-1a over the name's UTF-8 bytes.
inline std::uint32_t displayIDForScreenName(const QString& name) {
    std::uint32_t hash = 2166136261u;
    for (const char byte : name.toUtf8()) {
        hash ^= static_cast<std::uint8_t>(byte);
        hash *= 16777619u;
    }
    return hash;
}
