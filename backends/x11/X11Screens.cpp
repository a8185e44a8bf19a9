#include "backends/x11/X11Screens.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <memory>
#include <xcb/randr.h>

namespace {

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

namespace X11Screens {

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

std::optional<std::uint32_t> randrOutputId(xcb_connection_t* connection, xcb_window_t root,
                                           const QString& name) {
    if (!connection || name.isEmpty()) {
        return std::nullopt;
    }
    // The same rule as the capture's: the RandR 1.5 monitor of that name, known by its
    // first output, or by its name when it has none (xrandr --setmonitor).
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_randr_get_monitors_reply_t> monitors(xcb_randr_get_monitors_reply(
        connection, xcb_randr_get_monitors(connection, root, true), &error));
    std::free(error);
    if (monitors) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            Reply<xcb_get_atom_name_reply_t> atom(xcb_get_atom_name_reply(
                connection, xcb_get_atom_name(connection, it.data->name), nullptr));
            if (!atom || QString::fromUtf8(xcb_get_atom_name_name(atom.get()),
                                           xcb_get_atom_name_name_length(atom.get())) != name) {
                continue;
            }
            return xcb_randr_monitor_info_outputs_length(it.data) > 0
                       ? xcb_randr_monitor_info_outputs(it.data)[0]
                       : std::uint32_t(it.data->name);
        }
    }

    // Older servers: Qt names its screens after their outputs.
    error = nullptr;
    Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            connection, xcb_randr_get_screen_resources_current(connection, root), &error));
    std::free(error);
    if (!resources) {
        return std::nullopt;
    }
    const xcb_randr_output_t* outputs =
        xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
            connection,
            xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp),
            nullptr));
        if (!info) {
            continue;
        }
        const auto* bytes =
            reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get()));
        if (QString::fromUtf8(bytes, xcb_randr_get_output_info_name_length(info.get())) == name) {
            return outputs[i];
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> randrOutputId(const QScreen* screen) {
    xcb_connection_t* c = connection();
    if (!screen || !c) {
        return std::nullopt;
    }
    const xcb_screen_t* first = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return first ? randrOutputId(c, first->root, screen->name()) : std::nullopt;
}

} // namespace X11Screens
