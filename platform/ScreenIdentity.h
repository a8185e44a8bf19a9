#pragma once

// A display id for a screen known only by its name (Wayland has no output ids that
// outlive the connection): the same name gives the same id in every run and backend.

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
