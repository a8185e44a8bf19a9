"""A desktop's Access portal implementation that always allows: xdg-desktop-portal offers
its Screenshot portal only where an Access implementation exists. Prints "ready" once it
owns its name on the session bus."""
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.impl.portal.desktop.daublytest"


class Access(dbus.service.Object):
    @dbus.service.method("org.freedesktop.impl.portal.Access",
                         in_signature="osssssa{sv}", out_signature="ua{sv}")
    def AccessDialog(self, handle, app_id, parent_window, title, subtitle, body, options):
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName(NAME, bus)
Access(bus, "/org/freedesktop/portal/desktop")
print("ready", flush=True)
GLib.MainLoop().run()
