#pragma once

// The memory behind the captured frames, by the address it is mapped at. The compositor
// copies each output into a memfd of ours; the overlay can then show that same memory as
// its buffer, where copying it would cost 33 MB at 4K on every pick. An entry lives as
// long as its mapping: the capture adds it, and the frame's last image removes it as it
// unmaps (on whichever thread lets go of it).

#include <QImage>
#include <QSize>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

class WaylandFrameMemory {
public:
    struct Frame {
        int fd = -1;
        QSize size;
        qsizetype stride = 0;
        std::uint32_t format = 0; // wl_shm's
    };

    WaylandFrameMemory() = default;
    ~WaylandFrameMemory();
    WaylandFrameMemory(const WaylandFrameMemory&) = delete;
    WaylandFrameMemory& operator=(const WaylandFrameMemory&) = delete;

    // The frame's memory is mapped at `pixels`; the entry owns `frame.fd`.
    void add(const void* pixels, Frame frame);
    // The mapping at `pixels` is going: its fd is closed.
    void remove(const void* pixels);
    // The frame whose pixels `image` shows, all of them as they lie in memory, with a
    // duplicate of its fd that the caller closes; none for any other image.
    std::optional<Frame> find(const QImage& image) const;

private:
    mutable std::mutex m_mutex;
    std::map<const void*, Frame> m_frames;
};
