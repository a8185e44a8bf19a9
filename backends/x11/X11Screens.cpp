#include "backends/x11/X11Screens.h"

#include "backends/x11/X11Monitors.h"
#include "backends/x11/XcbReply.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <memory>
#include <xcb/randr.h>

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
    // The same rule as the capture's: the RandR 1.5 monitor of that name.
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_randr_get_monitors_reply_t> monitors(xcb_randr_get_monitors_reply(
        connection, xcb_randr_get_monitors(connection, root, true), &error));
    std::free(error);
    if (monitors) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            XcbReply<xcb_get_atom_name_reply_t> atom(xcb_get_atom_name_reply(
                connection, xcb_get_atom_name(connection, it.data->name), nullptr));
            if (!atom || QString::fromUtf8(xcb_get_atom_name_name(atom.get()),
                                           xcb_get_atom_name_name_length(atom.get())) != name) {
                continue;
            }
            return X11Monitors::displayID(*it.data);
        }
    }

    // Older servers: Qt names its screens after their outputs.
    error = nullptr;
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
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
        XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
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
