#pragma once

// Which RandR output a Qt screen is: the display id that snapshots and overlays share.

#include <xcb/xcb.h>

#include <QString>

#include <cstdint>
#include <optional>

class QScreen;

namespace X11Screens {

// The Xlib-free connection Qt uses, or null when Qt does not run on X11.
xcb_connection_t* connection();

// The RandR output whose name is `name` (Qt names its screens after their outputs, or
// after their RandR 1.5 monitor, whose first output is then the answer).
std::optional<std::uint32_t> randrOutputId(xcb_connection_t* connection, xcb_window_t root,
                                           const QString& name);
std::optional<std::uint32_t> randrOutputId(const QScreen* screen);

} // namespace X11Screens
