#pragma once

// Settings of the desktop Daubly runs on that its windows follow.

namespace DesktopSettings {

// The desktop asks for less motion: GNOME's enable-animations switched off, or KDE's
// animation speed set to instant. False where neither can be read.
bool reduceMotion();

} // namespace DesktopSettings
