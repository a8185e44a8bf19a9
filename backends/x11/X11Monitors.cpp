#include "backends/x11/X11Monitors.h"

#include "backends/x11/XcbReply.h"

#include <algorithm>
#include <cmath>

namespace X11Monitors {

std::uint32_t displayID(const xcb_randr_monitor_info_t& monitor) {
    const int outputCount = xcb_randr_monitor_info_outputs_length(&monitor);
    return outputCount > 0 ? xcb_randr_monitor_info_outputs(&monitor)[0] : monitor.name;
}

std::variant<std::vector<X11Monitor>, X11Error> list(X11Connection& connection) {
    xcb_connection_t* c = connection.get();
    std::vector<X11Monitor> monitors;
    // No monitor list: the root window is the one monitor, and Qt sees one screen.
    const auto rootAsMonitor = [&]() -> std::variant<std::vector<X11Monitor>, X11Error> {
        xcb_generic_error_t* failure = nullptr;
        XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, connection.root()), &failure));
        if (!geometry) {
            return X11Error::fromReply(failure);
        }
        return std::vector<X11Monitor>{
            X11Monitor{XCB_ATOM_NONE, {}, 0, QRect(0, 0, geometry->width, geometry->height)}};
    };
    if (!connection.hasRandr()) {
        return rootAsMonitor();
    }
    xcb_generic_error_t* failure = nullptr;
    XcbReply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), &failure));
    if (!reply) {
        return X11Error::fromReply(failure, QStringLiteral("Could not list the monitors"));
    }
    std::vector<xcb_get_atom_name_cookie_t> names;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* info = it.data;
        monitors.push_back(X11Monitor{
            info->name, {}, displayID(*info), QRect(info->x, info->y, info->width, info->height)});
        names.push_back(xcb_get_atom_name(c, info->name));
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        XcbReply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(c, names[i], nullptr));
        if (name) {
            monitors[i].name = QString::fromUtf8(xcb_get_atom_name_name(name.get()),
                                                 xcb_get_atom_name_name_length(name.get()));
        }
    }
    // RandR present but listing nothing ("xrandr --fb", every output off): Qt then shows
    // one screen over the root window too.
    if (monitors.empty()) {
        return rootAsMonitor();
    }
    return monitors;
}

QSize nativeSize(const QRect& screenGeometry, double devicePixelRatio) {
    // Qt keeps a screen's native top-left and divides only its size by the ratio.
    return {static_cast<int>(std::lround(screenGeometry.width() * devicePixelRatio)),
            static_cast<int>(std::lround(screenGeometry.height() * devicePixelRatio))};
}

const X11Monitor* match(const QString& screenName, const QRect& screenGeometry,
                        double devicePixelRatio, const std::vector<X11Monitor>& monitors) {
    for (const X11Monitor& monitor : monitors) {
        if (!monitor.name.isEmpty() && monitor.name == screenName) {
            return &monitor;
        }
    }
    const QRect native(screenGeometry.topLeft(), nativeSize(screenGeometry, devicePixelRatio));
    for (const X11Monitor& monitor : monitors) {
        if (monitor.rect == native) {
            return &monitor;
        }
    }
    return nullptr;
}

std::optional<X11Monitor> firstGone(X11Connection& connection,
                                    const std::vector<X11Monitor>& monitors) {
    const auto listed = list(connection);
    const auto* now = std::get_if<std::vector<X11Monitor>>(&listed);
    if (!now) {
        return std::nullopt; // cannot tell; the error that brought us here stands
    }
    for (const X11Monitor& monitor : monitors) {
        const bool there = std::any_of(now->begin(), now->end(), [&](const X11Monitor& other) {
            return other.nameAtom == monitor.nameAtom && other.displayID == monitor.displayID &&
                   other.rect == monitor.rect;
        });
        if (!there) {
            return monitor;
        }
    }
    return std::nullopt;
}

} // namespace X11Monitors
