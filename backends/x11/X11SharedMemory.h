#pragma once

// Memory shared with the X server (MIT-SHM): single segments, and the two strips the
// capture keeps from one pick to the next, one filling while the other is copied.

#include "backends/x11/X11Connection.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>
#include <xcb/shm.h>

struct X11Segment {
    xcb_shm_seg_t id = 0;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool sysV = false;
};

namespace X11SharedMemory {

// A segment shared with the server: a memfd passed over the socket where possible, else
// System V shared memory (removed at once, so it goes when both sides detach). The error
// is a refusal when the server would not attach it.
std::variant<X11Segment, X11Error> attach(X11Connection& connection, std::size_t size,
                                          bool populate);
// Tells the server to let go, then unmaps.
void detach(X11Connection& connection, X11Segment& segment);
// Unmaps only: for a connection already closed, or a segment the server never attached.
void unmap(X11Segment& segment);

} // namespace X11SharedMemory

class X11Strips {
public:
    // `minimumBytes`: the smallest strip ever attached; `keep`: stay attached (and zeroed)
    // between uses rather than released.
    X11Strips(std::size_t minimumBytes, bool keep)
        : m_minimumBytes(minimumBytes)
        , m_keep(keep) {}

    // Both strips attached and at least `bytes` large.
    std::optional<X11Error> ensure(X11Connection& connection, std::size_t bytes);
    // No pixel of the screen stays behind: zeroed, or released when not kept.
    void clear(X11Connection& connection);
    // Gives the pages back while staying attached: between picks the strips cost no
    // memory, and the next pick faults in a few hundred pages (about a millisecond) rather
    // than waiting on the server for new attachments.
    void freePages();
    void release(X11Connection& connection);

    X11Segment& operator[](std::size_t index) { return m_strips[index]; }

private:
    const std::size_t m_minimumBytes;
    const bool m_keep;
    std::array<X11Segment, 2> m_strips{};
};
