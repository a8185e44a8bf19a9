#!/usr/bin/python3
"""Answers the screen cast's monitor chooser of xdg-desktop-portal-gnome ("Screen Share")
through the accessibility tree, as a user does with the mouse:

    chooser.py share [SECONDS]    selects the first monitor, then presses Share
    chooser.py cancel [SECONDS]   presses Cancel

Polls until the dialog is there; exit status 0 done, 1 no dialog within the deadline.
GTK 4 marks the dialog's controls neither showing nor visible, so they are found by role
and label inside the dialog's frame.
"""

import sys
import time

import pyatspi

APP = "xdg-desktop-portal-gnome"


def dialog():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == APP:
            for frame in app:
                if frame is not None and frame.name == "Screen Share":
                    return frame
    return None


def find(root, role, label):
    if root.getRoleName() == role and (label is None or label in root.name.split()):
        return root
    for child in root:
        if child is not None:
            found = find(child, role, label)
            if found is not None:
                return found
    return None


def click(root, label):
    button = find(root, "push button", label)
    if button is None:
        return False
    action = button.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == "click":
            return action.doAction(i)
    return False


def answer(what):
    frame = dialog()
    if frame is None:
        return False
    if what == "share":
        monitors = find(frame, "list", None)
        if monitors is None or not monitors.querySelection().selectChild(0):
            return False
        return click(frame, "Share")
    return click(frame, "Cancel")


def main(argv):
    if len(argv) < 2 or argv[1] not in ("share", "cancel"):
        print(__doc__, file=sys.stderr)
        return 2
    deadline = time.monotonic() + (float(argv[2]) if len(argv) > 2 else 20)
    while time.monotonic() < deadline:
        try:
            if answer(argv[1]):
                return 0
        except Exception:  # the dialog is still being built; try again
            pass
        time.sleep(0.1)
    print(f"chooser: no '{argv[1]}' in the monitor chooser in time", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
