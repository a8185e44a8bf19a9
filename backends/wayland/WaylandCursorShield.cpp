#include "backends/wayland/WaylandCursorShield.h"

#include "backends/wayland/WaylandConnection.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

// How long the compositor may take to configure the surfaces.
constexpr std::chrono::milliseconds configureWait{1000};
// The shield's buffer, each way, against the output's pixels: see raise().
constexpr std::uint32_t shrink = 4;

} // namespace

WaylandCursorShield::WaylandCursorShield(WaylandConnection& connection)
    : m_connection(connection) {}

WaylandCursorShield::~WaylandCursorShield() {
    lower();
}

bool WaylandCursorShield::waitFor(const std::function<bool()>& condition,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_connection.dispatch(left))
            return condition();
    }
    return true;
}

// Zero-filled memory that we never touch: transparent black, in one pool for all outputs.
wl_shm_pool* WaylandCursorShield::transparentPool(std::size_t length) {
    const int fd = memfd_create("daubly-shield", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (ftruncate(fd, off_t(length)) < 0) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(m_connection.shm(), fd, std::int32_t(length));
    close(fd);
    return pool;
}

WaylandCursorShield::Result
WaylandCursorShield::raise(const std::vector<const WaylandOutput*>& outputs) {
    lower();
    if (!m_connection.compositor() || !m_connection.layerShell() || !m_connection.shm())
        return Result::unavailable;
    // Without a pointer device there is no cursor; nor any to wait for.
    if (!m_connection.pointer())
        return Result::noPointer;

    static const zwlr_layer_surface_v1_listener listener = {
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto* surface = static_cast<Surface*>(data);
            surface->serial = serial;
            surface->width = width;
            surface->height = height;
            surface->configured = true;
        },
        [](void* data, zwlr_layer_surface_v1*) { static_cast<Surface*>(data)->closed = true; },
    };
    for (const WaylandOutput* output : outputs) {
        auto surface = std::make_unique<Surface>();
        // Buffer scales came with version 3 of the compositor.
        if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(m_connection.compositor())) >= 3)
            surface->scale = std::max(1, output->scale);
        surface->surface = wl_compositor_create_surface(m_connection.compositor());
        surface->layer = zwlr_layer_shell_v1_get_layer_surface(
            m_connection.layerShell(), surface->surface, output->output,
            ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "daubly-shield");
        zwlr_layer_surface_v1_add_listener(surface->layer, &listener, surface.get());
        zwlr_layer_surface_v1_set_anchor(surface->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                             ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                             ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                             ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        // -1: over panels too, whatever room they keep for themselves.
        zwlr_layer_surface_v1_set_exclusive_zone(surface->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(surface->layer, 0);
        wl_surface_commit(surface->surface);
        m_surfaces.push_back(std::move(surface));
    }
    const auto allConfigured = [this] {
        return std::all_of(m_surfaces.begin(), m_surfaces.end(),
                           [](const auto& s) { return s->configured || s->closed; });
    };
    if (!waitFor(allConfigured, configureWait)) {
        lower();
        return Result::unavailable;
    }

    // The compositor blends the shield into each frame it draws while it is up. A software
    // compositor (pixman) does that fastest from a small buffer that a viewport stretches:
    // measured at 3840 x 2160, a pick took 52 ms without the shield, 65 ms with a buffer a
    // quarter of the output's size each way, 100 ms with one of its full size and longer
    // still with one pixel. Without a viewporter, the full size.
    const auto pixels = [this](const Surface& surface, std::uint32_t logical) {
        const std::uint32_t full = logical * std::uint32_t(surface.scale);
        return m_connection.viewporter() ? std::max(1u, (full + shrink - 1) / shrink) : full;
    };
    std::size_t length = 0;
    for (const auto& surface : m_surfaces)
        length = std::max(length, std::size_t(pixels(*surface, surface->width)) *
                                      pixels(*surface, surface->height) * 4);
    wl_shm_pool* pool = length > 0 ? transparentPool(length) : nullptr;
    if (!pool) {
        lower();
        return Result::unavailable;
    }
    for (const auto& surface : m_surfaces) {
        if (surface->closed || surface->width == 0 || surface->height == 0)
            continue;
        zwlr_layer_surface_v1_ack_configure(surface->layer, surface->serial);
        const auto width = std::int32_t(pixels(*surface, surface->width));
        const auto height = std::int32_t(pixels(*surface, surface->height));
        surface->buffer =
            wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_ARGB8888);
        if (m_connection.viewporter()) {
            surface->viewport =
                wp_viewporter_get_viewport(m_connection.viewporter(), surface->surface);
            wp_viewport_set_destination(surface->viewport, std::int32_t(surface->width),
                                        std::int32_t(surface->height));
        } else {
            wl_surface_set_buffer_scale(surface->surface, surface->scale);
        }
        // The input region is the whole surface, as it is by default.
        wl_surface_attach(surface->surface, surface->buffer, 0, 0);
        wl_surface_damage(surface->surface, 0, 0, std::int32_t(surface->width),
                          std::int32_t(surface->height));
        wl_surface_commit(surface->surface);
    }
    // The buffers keep the pool's memory.
    wl_shm_pool_destroy(pool);

    // The compositor moves the pointer's focus onto a surface mapped under it, sending
    // the enter as it maps it; some only once the pointer moves.
    const auto onShield = [this] { return underPointer() != nullptr; };
    if (!m_connection.roundtrip()) {
        lower();
        return Result::unavailable;
    }
    if (!waitFor(onShield, pointerWait))
        return Result::pointerAway;
    wl_pointer_set_cursor(m_connection.pointer(), m_connection.pointerFocus().serial, nullptr, 0,
                          0);
    return Result::cursorHidden;
}

const WaylandCursorShield::Surface* WaylandCursorShield::underPointer() const {
    const wl_surface* focus = m_connection.pointerFocus().surface;
    if (!focus)
        return nullptr;
    const auto found = std::find_if(m_surfaces.begin(), m_surfaces.end(),
                                    [&](const auto& s) { return s->surface == focus; });
    return found == m_surfaces.end() ? nullptr : found->get();
}

void WaylandCursorShield::lower() {
    for (const auto& surface : m_surfaces) {
        m_connection.forgetPointerFocus(surface->surface);
        if (surface->viewport)
            wp_viewport_destroy(surface->viewport);
        zwlr_layer_surface_v1_destroy(surface->layer);
        wl_surface_destroy(surface->surface);
        if (surface->buffer)
            wl_buffer_destroy(surface->buffer);
    }
    const bool wasRaised = !m_surfaces.empty();
    m_surfaces.clear();
    if (wasRaised && m_connection.display())
        wl_display_flush(m_connection.display());
}
