"""A desktop's portal implementation for the tests: an Access implementation that always
allows (xdg-desktop-portal offers its Screenshot portal only where one exists) and, for a
desktop whose own needs more than the tests run (KDE's needs all of Plasma's workspace), a
Screenshot implementation that answers every request with a copy of one PNG, the argument.
Which of them xdg-desktop-portal uses is up to the test's .portal file. Prints "ready"
once it owns its name on the session bus."""
import shutil
import sys
import tempfile

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.impl.portal.desktop.daublytest"


class Portal(dbus.service.Object):
    @dbus.service.method("org.freedesktop.impl.portal.Access",
                         in_signature="osssssa{sv}", out_signature="ua{sv}")
    def AccessDialog(self, handle, app_id, parent_window, title, subtitle, body, options):
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method("org.freedesktop.impl.portal.Screenshot",
                         in_signature="ossa{sv}", out_signature="ua{sv}")
    def Screenshot(self, handle, app_id, parent_window, options):
        # A file of its own each time: the client deletes what it was given.
        with tempfile.NamedTemporaryFile(suffix=".png", delete=False) as copy:
            shutil.copyfile(sys.argv[1], copy.name)
        print("screenshot", copy.name, flush=True)
        return dbus.UInt32(0), dbus.Dictionary({"uri": "file://" + copy.name}, signature="sv")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName(NAME, bus)
Portal(bus, "/org/freedesktop/portal/desktop")
print("ready", flush=True)
GLib.MainLoop().run()
