#pragma once

// Ends the launcher's "starting…" feedback for a start of daubly that hands its work to
// the running instance and exits without showing a window (the desktop entry asks for
// startup notification). Over X11 that is a "remove" message for the id the launcher
// put in DESKTOP_STARTUP_ID, sent to the root window as _NET_STARTUP_INFO messages.

#include <QByteArray>

namespace X11StartupNotification {

// The launcher's id for this start; read before the application object exists, since
// Qt takes the variable out of the environment when it connects to X11.
QByteArray startupId();

// Sends "remove" for `id`; does nothing for an empty id or without an X11 connection.
void complete(const QByteArray& id);

// The message text for `id`, with the quoting the startup-notification protocol wants.
QByteArray removeMessage(const QByteArray& id);

} // namespace X11StartupNotification
