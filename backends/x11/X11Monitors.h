#pragma once

// The monitors as the X server lists them (RandR 1.5), in native pixels, and which of
// them a Qt screen is.

#include "backends/x11/X11Connection.h"

#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>
#include <xcb/randr.h>

struct X11Monitor {
    xcb_atom_t nameAtom = XCB_ATOM_NONE;
    QString name;
    std::uint32_t displayID = 0;
    QRect rect;
};

namespace X11Monitors {

// The display id of a RandR monitor: its first output, which is what identifies a
// display; a monitor made up without one (xrandr --setmonitor) is known by its name atom.
std::uint32_t displayID(const xcb_randr_monitor_info_t& monitor);

// Without RandR the root window is the one monitor.
std::variant<std::vector<X11Monitor>, X11Error> list(X11Connection& connection);

// By RandR name (Qt names its screens after the monitors), else by native geometry: Qt
// keeps a screen's native top-left and divides only its size by the pixel ratio.
// A Qt screen's size in device pixels.
QSize nativeSize(const QRect& screenGeometry, double devicePixelRatio);

const X11Monitor* match(const QString& screenName, const QRect& screenGeometry,
                        double devicePixelRatio, const std::vector<X11Monitor>& monitors);

// The first of `monitors` that the server no longer lists as it was; none when all are
// there or the list cannot be read.
std::optional<X11Monitor> firstGone(X11Connection& connection,
                                    const std::vector<X11Monitor>& monitors);

} // namespace X11Monitors
