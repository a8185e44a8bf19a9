#pragma once

// Which RandR output a Qt screen is: the display id that snapshots and overlays share.

#include <QString>
#include <cstdint>
#include <optional>
#include <xcb/xcb.h>

class QScreen;

namespace X11Screens {

// The Xlib-free connection Qt uses, or null when Qt does not run on X11.
xcb_connection_t* connection();

// The display id of the screen Qt names `name`: the first output of the RandR monitor
// of that name (the monitor's name atom for a monitor without outputs), else the output
// of that name. The capture tags its snapshots by the same rule.
std::optional<std::uint32_t> randrOutputId(xcb_connection_t* connection, xcb_window_t root,
                                           const QString& name);
std::optional<std::uint32_t> randrOutputId(const QScreen* screen);

} // namespace X11Screens
