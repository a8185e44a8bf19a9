#include "backends/wayland/WaylandFrameMemory.h"

#include <fcntl.h>
#include <unistd.h>

WaylandFrameMemory::~WaylandFrameMemory() {
    for (const auto& [pixels, frame] : m_frames)
        close(frame.fd);
}

void WaylandFrameMemory::add(const void* pixels, Frame frame) {
    const std::lock_guard lock(m_mutex);
    const auto [it, added] = m_frames.try_emplace(pixels, frame);
    if (!added) {
        // A mapping at the same address means the old one went unannounced.
        close(it->second.fd);
        it->second = frame;
    }
}

void WaylandFrameMemory::remove(const void* pixels) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_frames.find(pixels);
    if (it == m_frames.end())
        return;
    close(it->second.fd);
    m_frames.erase(it);
}

std::optional<WaylandFrameMemory::Frame> WaylandFrameMemory::find(const QImage& image) const {
    if (image.isNull())
        return std::nullopt;
    const std::lock_guard lock(m_mutex);
    const auto it = m_frames.find(image.constBits());
    if (it == m_frames.end() || it->second.size != image.size() ||
        it->second.stride != image.bytesPerLine() || image.depth() != 32)
        return std::nullopt;
    Frame frame = it->second;
    frame.fd = fcntl(frame.fd, F_DUPFD_CLOEXEC, 0);
    if (frame.fd < 0)
        return std::nullopt;
    return frame;
}
