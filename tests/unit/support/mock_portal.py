#!/usr/bin/python3
"""A stand-in for the desktop portal service on a private session bus.

Serves org.freedesktop.portal.GlobalShortcuts and org.freedesktop.portal.Screenshot the
way their documented interfaces describe, with behaviour chosen on the command line (and,
with --notifications, the desktop's notification server), and
a control interface (app.daubly.test.MockPortal) through which a test makes the desktop
act: press a shortcut, rebind it, and read back what it was asked.
"""

import argparse
import os

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
SCREENSHOT = "org.freedesktop.portal.Screenshot"
REQUEST = "org.freedesktop.portal.Request"
CONTROL = "app.daubly.test.MockPortal"


def sender_path_part(sender):
    return sender.lstrip(":").replace(".", "_")


class Request(dbus.service.Object):
    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method(REQUEST, in_signature="", out_signature="")
    def Close(self):
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, PATH)
        self.bus = bus
        self.args = args
        self.session = ""
        self.bound = {}  # id -> preferred trigger asked
        self.binds = 0
        self.bound_sessions = set()
        self.files = []
        self.interactive = []

    def answer(self, sender, options, response, results):
        # The request path follows from the caller's name and its token; the answer goes
        # out before the method returns, as a quick portal's may.
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender_path_part(sender), options.get("handle_token", "t"))
        request = Request(self.bus, path)
        if response is not None:
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
        return dbus.ObjectPath(path)

    # Properties: only the versions are read.
    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == SHORTCUTS and self.args.shortcuts != "absent" and name == "version":
            return dbus.UInt32(1, variant_level=1)
        if interface == SCREENSHOT and self.args.screenshot != "absent" and name == "version":
            return dbus.UInt32(2, variant_level=1)
        raise dbus.exceptions.DBusException(
            "No such interface or property", name="org.freedesktop.DBus.Error.InvalidArgs")

    # GlobalShortcuts.
    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        self.session = "/org/freedesktop/portal/desktop/session/%s/%s" % (
            sender_path_part(sender), options["session_handle_token"])
        return self.answer(sender, options, 0, {"session_handle": self.session})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        self.binds += 1
        # Like a strict portal: one binding per session.
        if session in self.bound_sessions:
            return self.answer(sender, options, 2, {})
        self.bound_sessions.add(session)
        for shortcut_id, properties in shortcuts:
            self.bound[str(shortcut_id)] = str(properties.get("preferred_trigger", ""))
        if self.args.shortcuts == "refuse":
            return self.answer(sender, options, 1, {})
        listed = dbus.Array([
            dbus.Struct((i, dbus.Dictionary({"description": i, "trigger_description": t},
                                            signature="sv")))
            for i, t in self.bound.items()], signature="(sa{sv})")
        return self.answer(sender, options, 0, {"shortcuts": listed})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session, shortcuts):
        pass

    # Screenshot.
    @dbus.service.method(SCREENSHOT, in_signature="sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Screenshot(self, parent, options, sender=None):
        self.interactive.append(bool(options.get("interactive", True)))
        mode = self.args.screenshot
        if mode == "silent":
            return self.answer(sender, options, None, {})
        if mode == "refuse":
            return self.answer(sender, options, self.args.response, {})
        path = os.path.join(self.args.directory, "Screenshot-%d.png" % len(self.files))
        with open(path, "wb") as out:
            if mode == "corrupt":
                out.write(b"\x89PNG\r\n\x1a\n not really")
            else:
                with open(self.args.image, "rb") as image:
                    out.write(image.read())
        self.files.append(path)
        return self.answer(sender, options, 0, {"uri": "file://" + path})

    # What a test does as the desktop and its user.
    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Press(self, shortcut_id):
        self.Activated(dbus.ObjectPath(self.session), shortcut_id, dbus.UInt64(1),
                       dbus.Dictionary({}, signature="sv"))

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Release(self, shortcut_id):
        self.Deactivated(dbus.ObjectPath(self.session), shortcut_id, dbus.UInt64(2),
                         dbus.Dictionary({}, signature="sv"))

    @dbus.service.method(CONTROL, in_signature="ss", out_signature="")
    def Rebind(self, shortcut_id, trigger_description):
        self.ShortcutsChanged(dbus.ObjectPath(self.session), dbus.Array([
            dbus.Struct((shortcut_id, dbus.Dictionary(
                {"description": shortcut_id, "trigger_description": trigger_description},
                signature="sv")))], signature="(sa{sv})"))

    @dbus.service.method(CONTROL, in_signature="", out_signature="a{ss}u")
    def Bound(self):
        return dbus.Dictionary(self.bound, signature="ss"), dbus.UInt32(self.binds)

    @dbus.service.method(CONTROL, in_signature="", out_signature="aas")
    def Notified(self):
        return dbus.Array(self.notifications.shown if self.notifications else [],
                          signature="as")

    @dbus.service.method(CONTROL, in_signature="", out_signature="asab")
    def Screenshots(self):
        return dbus.Array(self.files, signature="s"), dbus.Array(self.interactive,
                                                                  signature="b")


class Notifications(dbus.service.Object):
    """The desktop's notification server, as far as Notify goes."""

    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.shown = []

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.shown.append([str(app_name), str(app_icon), str(summary), str(body),
                           str(hints.get("desktop-entry", ""))])
        return dbus.UInt32(len(self.shown))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shortcuts", default="bind", choices=["absent", "bind", "refuse"])
    parser.add_argument("--screenshot", default="absent",
                        choices=["absent", "ok", "corrupt", "refuse", "silent"])
    # What "refuse" answers: KDE refuses with 1, GNOME's "Deny" is 2; others are failures.
    parser.add_argument("--response", type=int, default=1)
    parser.add_argument("--notifications", action="store_true")
    parser.add_argument("--image", default="")
    parser.add_argument("--directory", default="")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, args)
    portal.notifications = None
    if args.notifications:
        portal.notifications = Notifications(bus)
        notifications_name = dbus.service.BusName("org.freedesktop.Notifications", bus)
    # The name last: a test waits for it as the sign that the portal is ready.
    name = dbus.service.BusName(NAME, bus)
    GLib.MainLoop().run()
    del portal, name


if __name__ == "__main__":
    main()
