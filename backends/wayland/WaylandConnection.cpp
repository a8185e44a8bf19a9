#include "backends/wayland/WaylandConnection.h"

#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <wayland-client.h>

namespace {

WaylandOutput* outputOf(void* data) {
    return static_cast<WaylandOutput*>(data);
}

const wl_output_listener outputListener = {
    // geometry: only the transform matters; the rest describes the physical panel.
    [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
       const char*, const char*, std::int32_t transform) { outputOf(data)->transform = transform; },
    [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
       std::int32_t) {
        if (flags & WL_OUTPUT_MODE_CURRENT)
            outputOf(data)->modePixels = QSize(width, height);
    },
    [](void*, wl_output*) {}, // done
    [](void* data, wl_output*, std::int32_t factor) { outputOf(data)->scale = factor; },
    [](void* data, wl_output*, const char* name) {
        outputOf(data)->name = QString::fromUtf8(name);
    },
    [](void*, wl_output*, const char*) {}, // description
};

const zxdg_output_v1_listener xdgOutputListener = {
    [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
        outputOf(data)->logical.moveTo(x, y);
    },
    [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
        outputOf(data)->logical.setSize(QSize(width, height));
    },
    [](void*, zxdg_output_v1*) {}, // done
    [](void* data, zxdg_output_v1*, const char* name) {
        outputOf(data)->name = QString::fromUtf8(name);
    },
    [](void*, zxdg_output_v1*, const char*) {}, // description
};

} // namespace

struct WaylandConnection::Listeners {
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        static_cast<WaylandConnection*>(data)->addGlobal(registry, name, interface, version);
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
        static_cast<WaylandConnection*>(data)->removeGlobal(name);
    }
    static constexpr wl_registry_listener registry = {global, globalRemove};

    static WaylandConnection* of(void* data) { return static_cast<WaylandConnection*>(data); }
    static constexpr wl_seat_listener seat = {
        [](void* data, wl_seat*, std::uint32_t capabilities) {
            of(data)->seatCapabilities(capabilities);
        },
        [](void*, wl_seat*, const char*) {}, // name
    };
    // Version 1: enter, leave, motion, button, axis.
    static constexpr wl_pointer_listener pointer = {
        [](void* data, wl_pointer*, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
           wl_fixed_t y) {
            of(data)->m_pointerFocus = {surface, serial, wl_fixed_to_double(x),
                                        wl_fixed_to_double(y)};
        },
        [](void* data, wl_pointer*, std::uint32_t, wl_surface*) { of(data)->m_pointerFocus = {}; },
        [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
            of(data)->m_pointerFocus.x = wl_fixed_to_double(x);
            of(data)->m_pointerFocus.y = wl_fixed_to_double(y);
        },
        [](void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
        [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
};

WaylandConnection::WaylandConnection(QByteArray displayName)
    : m_displayName(std::move(displayName)) {}

WaylandConnection::~WaylandConnection() {
    close();
}

std::optional<QString> WaylandConnection::open() {
    if (m_display && wl_display_get_error(m_display) != 0)
        close();
    if (!m_display) {
        m_display =
            wl_display_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
        if (!m_display)
            return QStringLiteral("cannot connect to the Wayland compositor");
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &Listeners::registry, this);
    }
    // The first round binds the globals, the second brings in what the outputs send.
    if (!roundtrip() || !roundtrip())
        return QStringLiteral("the connection to the Wayland compositor broke");
    return std::nullopt;
}

void WaylandConnection::close() {
    if (!m_display)
        return;
    for (const auto& output : m_outputs) {
        if (output->xdgOutput)
            zxdg_output_v1_destroy(output->xdgOutput);
        wl_output_destroy(output->output);
    }
    m_outputs.clear();
    if (m_pointer)
        wl_pointer_destroy(m_pointer);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_viewporter)
        wp_viewporter_destroy(m_viewporter);
    if (m_layerShell)
        zwlr_layer_shell_v1_destroy(m_layerShell);
    if (m_compositor)
        wl_compositor_destroy(m_compositor);
    if (m_screencopy)
        zwlr_screencopy_manager_v1_destroy(m_screencopy);
    if (m_xdgOutputs)
        zxdg_output_manager_v1_destroy(m_xdgOutputs);
    if (m_shm)
        wl_shm_destroy(m_shm);
    wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
    m_screencopy = nullptr;
    m_xdgOutputs = nullptr;
    m_pointer = nullptr;
    m_pointerFocus = {};
    m_seat = nullptr;
    m_viewporter = nullptr;
    m_layerShell = nullptr;
    m_compositor = nullptr;
    m_shm = nullptr;
    m_registry = nullptr;
    m_display = nullptr;
}

bool WaylandConnection::roundtrip() {
    return m_display && wl_display_roundtrip(m_display) >= 0;
}

bool WaylandConnection::dispatch(std::chrono::milliseconds timeout) {
    return m_display && dispatch(m_display, timeout);
}

bool WaylandConnection::dispatch(wl_display* display, std::chrono::milliseconds timeout) {
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, int(timeout.count())) <= 0) {
        wl_display_cancel_read(display);
        return false;
    }
    return wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
}

const WaylandOutput* WaylandConnection::output(const QString& name) const {
    const auto found = std::find_if(m_outputs.begin(), m_outputs.end(),
                                    [&](const auto& output) { return output->name == name; });
    return found == m_outputs.end() ? nullptr : found->get();
}

void WaylandConnection::addGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                                  std::uint32_t version) {
    if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        m_shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
        // Version 1 is all a copy into wl_shm needs.
        m_screencopy = static_cast<zwlr_screencopy_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        m_xdgOutputs = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
            registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
        for (const auto& output : m_outputs)
            watchOutput(*output);
    } else if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        // 3: buffer scales.
        m_compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, std::min(version, 3u)));
    } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
        m_viewporter = static_cast<wp_viewporter*>(
            wl_registry_bind(registry, name, &wp_viewporter_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        m_layerShell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    } else if (!m_seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // Version 1: all set_cursor needs, and no pointer frame events to handle.
        m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        wl_seat_add_listener(m_seat, &Listeners::seat, this);
    } else if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) {
        m_offersDecorations = true;
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<WaylandOutput>();
        output->globalName = name;
        output->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 4u)));
        wl_output_add_listener(output->output, &outputListener, output.get());
        watchOutput(*output);
        m_outputs.push_back(std::move(output));
    }
}

void WaylandConnection::watchOutput(WaylandOutput& output) {
    if (!m_xdgOutputs || output.xdgOutput)
        return;
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(m_xdgOutputs, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &xdgOutputListener, &output);
}

void WaylandConnection::seatCapabilities(std::uint32_t capabilities) {
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (hasPointer && !m_pointer) {
        m_pointer = wl_seat_get_pointer(m_seat);
        wl_pointer_add_listener(m_pointer, &Listeners::pointer, this);
    } else if (!hasPointer && m_pointer) {
        wl_pointer_destroy(m_pointer);
        m_pointer = nullptr;
        m_pointerFocus = {};
    }
}

void WaylandConnection::removeGlobal(std::uint32_t name) {
    const auto gone = std::find_if(m_outputs.begin(), m_outputs.end(),
                                   [&](const auto& output) { return output->globalName == name; });
    if (gone == m_outputs.end())
        return;
    if ((*gone)->xdgOutput)
        zxdg_output_v1_destroy((*gone)->xdgOutput);
    wl_output_destroy((*gone)->output);
    m_outputs.erase(gone);
}

WaylandConnection::Offers WaylandConnection::probe(const QByteArray& displayName) {
    WaylandConnection connection(displayName);
    if (connection.open())
        return {};
    return {connection.screencopy() != nullptr, connection.m_offersDecorations};
}
