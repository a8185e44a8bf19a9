#pragma once

// Keeps the pointer out of screencopy frames. wlroots draws the cursor into the output's
// pixels wherever it has no cursor plane (WLR_NO_HARDWARE_CURSORS=1, many GPUs and VMs,
// every headless output), and screencopy then copies the arrow whatever overlay_cursor
// says. The shield is a transparent surface of ours on the overlay layer of each output,
// taking the pointer but never the keyboard; once the pointer is over it, the cursor is
// set to none. The compositor handles requests in order and screencopy copies the next
// frame it draws, so a capture asked for after that is drawn without the cursor.
//
// The shield takes every pointer event while it is up: it goes just before the pick's
// overlays map, so that the compositor gives them the pointer as they do, or when the
// capture fails. Lives on the capture's connection and thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class WaylandConnection;
struct WaylandOutput;
struct wl_buffer;
struct wl_surface;
struct wp_viewport;
struct wl_shm_pool;
struct zwlr_layer_surface_v1;

class WaylandCursorShield {
public:
    // How long the compositor may take to put the pointer on the shield: where it moves the
    // pointer focus only when the pointer moves, the capture goes on without waiting more.
    static constexpr std::chrono::milliseconds pointerWait{50};

    explicit WaylandCursorShield(WaylandConnection& connection);
    ~WaylandCursorShield();
    WaylandCursorShield(const WaylandCursorShield&) = delete;
    WaylandCursorShield& operator=(const WaylandCursorShield&) = delete;

    enum class Result {
        cursorHidden,
        noPointer,   // the seat has no pointer device: there is no cursor to hide
        pointerAway, // the compositor put the pointer on no shield in time
        unavailable, // no layer shell (not wlroots), or the shield could not go up
    };
    // Covers `outputs`, and hides the cursor once the pointer is over one of them. Returns
    // when the next frame the compositor draws is free of the cursor, or as far as it got.
    Result raise(const std::vector<const WaylandOutput*>& outputs);
    // Takes the shield away (nothing when none is up).
    void lower();
    bool isRaised() const { return !m_surfaces.empty(); }

private:
    struct Surface {
        wl_surface* surface = nullptr;
        zwlr_layer_surface_v1* layer = nullptr;
        wp_viewport* viewport = nullptr; // stretches the buffer over the output
        wl_buffer* buffer = nullptr;
        std::int32_t scale = 1;  // the output's
        std::uint32_t width = 0; // as configured
        std::uint32_t height = 0;
        std::uint32_t serial = 0;
        bool configured = false;
        bool closed = false;
    };
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    wl_shm_pool* transparentPool(std::size_t length);
    const Surface* underPointer() const;

    WaylandConnection& m_connection;
    std::vector<std::unique_ptr<Surface>> m_surfaces; // listeners hold their addresses
};
