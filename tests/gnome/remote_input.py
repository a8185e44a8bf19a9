#!/usr/bin/python3
"""Pointer and keyboard for a headless GNOME Shell, which has no input devices: one
org.gnome.Mutter.RemoteDesktop session with a screen cast of the monitor in it (the
Shell places absolute pointer motion on a stream of that session).

Prints "ready" once the session runs, then reads one command a line and answers "ok"
when the Shell has taken it, or "error: ..." :

    move X Y          the pointer to (X, Y) in the monitor's logical pixels
    click left|right  a press and a release
    key NAME...       each key pressed and released (Return, KP_Enter, Escape, Tab,
                      Left, Right, Up, Down, Space, or an evdev code)
    chord NAME NAME   the first key held while the second is pressed
    paste             prints "text: " and the clipboard's text (empty when none)
    windows           prints "window: WM_CLASS FOCUSED WIDTHxHEIGHT TITLE" for each window

The clipboard is read through the same session: a client of its own would need the
keyboard focus, which the Shell gives to the window under test.
Windows are listed by the Shell's introspection interface, which answers only the
portal implementations it trusts: this process takes the bus name of the GTK one,
which no GNOME session under test runs.
The session ends with this process (the Shell drops it with its bus connection).
"""

import os
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

# evdev codes (linux/input-event-codes.h).
KEYS = {"Escape": 1, "Tab": 15, "Return": 28, "Space": 57, "KP_Enter": 96, "Up": 103,
        "Left": 105, "Right": 106, "Down": 108, "Alt_L": 56, "Control_L": 29,
        "Shift_L": 42, "Super_L": 125}
BUTTONS = {"left": 0x110, "right": 0x111}

MUTTER = "org.gnome.Mutter"


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()

    bus.request_name("org.freedesktop.impl.portal.desktop.gtk")
    introspect = bus.get_object("org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect")
    config = bus.get_object(MUTTER + ".DisplayConfig", "/org/gnome/Mutter/DisplayConfig")
    state = config.GetCurrentState(dbus_interface=MUTTER + ".DisplayConfig")
    connector = str(state[1][0][0][0])  # the first monitor's connector

    rd = bus.get_object(MUTTER + ".RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
    rd_path = rd.CreateSession(dbus_interface=MUTTER + ".RemoteDesktop")
    rd_session = dbus.Interface(bus.get_object(MUTTER + ".RemoteDesktop", rd_path),
                                MUTTER + ".RemoteDesktop.Session")
    session_id = bus.get_object(MUTTER + ".RemoteDesktop", rd_path).Get(
        MUTTER + ".RemoteDesktop.Session", "SessionId",
        dbus_interface="org.freedesktop.DBus.Properties")

    sc = bus.get_object(MUTTER + ".ScreenCast", "/org/gnome/Mutter/ScreenCast")
    sc_path = sc.CreateSession({"remote-desktop-session-id": session_id},
                               dbus_interface=MUTTER + ".ScreenCast")
    sc_session = dbus.Interface(bus.get_object(MUTTER + ".ScreenCast", sc_path),
                                MUTTER + ".ScreenCast.Session")
    stream = sc_session.RecordMonitor(connector, {"cursor-mode": dbus.UInt32(0)})

    def started(_node):
        print("ready", flush=True)
        GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)

    bus.add_signal_receiver(started, "PipeWireStreamAdded", MUTTER + ".ScreenCast.Stream",
                            path=stream)
    bus.add_signal_receiver(lambda: loop.quit(), "Closed", MUTTER + ".RemoteDesktop.Session",
                            path=rd_path)

    def key(name, pressed):
        code = KEYS[name] if name in KEYS else int(name)
        rd_session.NotifyKeyboardKeycode(dbus.UInt32(code), pressed)

    def paste():
        try:
            fd = rd_session.SelectionRead("text/plain;charset=utf-8").take()
        except dbus.DBusException as error:  # nothing on the clipboard
            print("paste:", error, file=sys.stderr, flush=True)
            return ""
        data = b""
        with os.fdopen(fd, "rb") as pipe:
            while chunk := pipe.read(65536):
                data += chunk
        return data.decode("utf-8", "replace")

    def run(words):
        if words[0] == "move":
            rd_session.NotifyPointerMotionAbsolute(stream, float(words[1]), float(words[2]))
        elif words[0] == "click":
            for pressed in (True, False):
                rd_session.NotifyPointerButton(dbus.Int32(BUTTONS[words[1]]), pressed)
        elif words[0] == "key":
            for name in words[1:]:
                key(name, True)
                key(name, False)
        elif words[0] == "paste":
            print("text:", paste(), flush=True)
        elif words[0] == "windows":
            for window in introspect.GetWindows(
                    dbus_interface="org.gnome.Shell.Introspect").values():
                print("window:", window.get("wm-class") or window.get("app-id") or "-",
                      "yes" if window.get("has-focus") else "no",
                      f"{int(window.get('width', 0))}x{int(window.get('height', 0))}",
                      window.get("title", ""), flush=True)
        elif words[0] == "chord":
            key(words[1], True)
            key(words[2], True)
            key(words[2], False)
            key(words[1], False)
        else:
            raise ValueError("unknown command " + words[0])

    def command(source, condition):
        line = source.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        if words:
            try:
                run(words)
                # A round trip: the Shell has handled every call before this one.
                config.GetCurrentState(dbus_interface=MUTTER + ".DisplayConfig")
                print("ok", flush=True)
            except Exception as error:  # the test reads it and fails
                print("error:", error, flush=True)
        return True

    rd_session.Start()
    rd_session.EnableClipboard({})
    loop.run()
    try:
        rd_session.Stop()
    except dbus.DBusException:
        pass


if __name__ == "__main__":
    main()
