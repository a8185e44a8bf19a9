#pragma once

// A message for the user through the desktop's notifications, for desktops where no tray
// shows Daubly's own messages (stock GNOME).

#include <QString>

class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;

    // Shown by the desktop; a failure is logged.
    virtual void notify(const QString& title, const QString& body) = 0;
};
