#!/usr/bin/python3
"""Drives an application through the accessibility tree (AT-SPI), as a screen reader
does: controls are found by role and name, read through their text, value and states,
and pressed through their actions. Every command polls until its condition holds or
its deadline passes, so a test never sleeps for a fixed time.

Used as a command from the shell helpers (a11y_lib.sh):

    a11y.py [--app NAME] [--timeout S] COMMAND ...

    wait ROLE NAME                 the control is on screen
    gone ROLE NAME                 no such control is on screen
    press ROLE NAME [ACTION]       runs its action ("press", "toggle", ... by default)
    text ROLE NAME                 prints its text (or its name when it has no text)
    value ROLE NAME                prints its current value
    states ROLE NAME               prints its states, one line
    expect ROLE NAME KIND WANT     waits until KIND (text, value, name, state, nostate,
                                   description) of the control is WANT
    select ROLE NAME ITEM          chooses ITEM in a combo box or list (a combo box's
                                   popup must be open: press it with ShowMenu first)
    click ROLE NAME                clicks the middle of the control with xdotool, for
                                   entries that offer no action that takes them
    names ROLE [WITHIN_ROLE WITHIN_NAME]
                                   prints the names of every such control on screen
    dump                           prints the application's tree

A control is named by its accessible name or by the label that labels it. A NAME in
slashes (/Reset.*/) is a regular expression; "*" matches any name. ROLE is
the AT-SPI role name ("push button", "check box", "combo box", "label", "frame", ...).
Exit status: 0 done, 1 the deadline passed (with what was seen on stderr), 2 misuse.

It can also be imported: find(), wait_for(), press(), text_of(), value_of(), states_of().
"""

import argparse
import re
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# The bindings mark some of the calls used here as deprecated, without a replacement in
# the version Debian ships.
warnings.filterwarnings("ignore", category=DeprecationWarning)

POLL_SECONDS = 0.1
DEFAULT_ACTIONS = ("press", "click", "toggle", "activate", "jump")


class NotFound(Exception):
    pass


def _matches(pattern, name):
    if pattern == "*":
        return True
    if len(pattern) >= 2 and pattern.startswith("/") and pattern.endswith("/"):
        return re.fullmatch(pattern[1:-1], name or "") is not None
    return (name or "") == pattern


def _states(obj):
    state_set = obj.get_state_set()
    return {Atspi.StateType(s).value_nick for s in state_set.get_states()}


def _showing(obj):
    return "showing" in _states(obj)


def application(app_name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == app_name:
            # Read the live tree on every look: the cache would only follow it while an
            # event loop runs, and this process has none.
            app.set_cache_mask(Atspi.Cache.NONE)
            app.clear_cache()
            return app
    return None


def _walk(obj, depth=0):
    try:
        count = obj.get_child_count()
    except gi.repository.GLib.Error:
        return
    for i in range(count):
        try:
            child = obj.get_child_at_index(i)
        except gi.repository.GLib.Error:
            continue
        if child is None:
            continue
        yield child, depth + 1
        yield from _walk(child, depth + 1)


def labels_of(obj):
    """The names of the controls that label obj (its LABELLED_BY relations)."""
    names = []
    for relation in obj.get_relation_set() or []:
        if relation.get_relation_type() != Atspi.RelationType.LABELLED_BY:
            continue
        for i in range(relation.get_n_targets()):
            target = relation.get_target(i)
            if target is not None:
                names.append(target.get_name() or "")
    return names


def _named(obj, pattern):
    # A screen reader announces a control by its name, or by the label that labels it
    # (Qt names a combo box by its current entry and labels it through a relation).
    if _matches(pattern, obj.get_name()):
        return True
    return any(_matches(pattern, label) for label in labels_of(obj))


def find_all(app_name, role, name, within=None, showing=True):
    root = application(app_name)
    if root is None:
        return []
    if within is not None:
        parents = find_all(app_name, within[0], within[1], None, showing)
        if not parents:
            return []
        root = parents[0]
    found = []
    for obj, _ in _walk(root):
        try:
            if obj.get_role_name() != role or not _named(obj, name):
                continue
            if showing and not _showing(obj):
                continue
        except gi.repository.GLib.Error:
            continue
        found.append(obj)
    return found


def find(app_name, role, name, within=None):
    found = find_all(app_name, role, name, within)
    return found[0] if found else None


def wait_for(predicate, timeout, what):
    """Polls predicate() until it returns something other than None or False."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            result = predicate()
            if result is not None and result is not False:
                return result
        except gi.repository.GLib.Error as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" ({last_error})" if last_error else ""
            raise NotFound(f"{what}: not within {timeout:g}s{detail}")
        time.sleep(POLL_SECONDS)


def _has(obj, interface):
    return interface in obj.get_interfaces()


def text_of(obj):
    if _has(obj, "Text"):
        return Atspi.Text.get_text(obj, 0, Atspi.Text.get_character_count(obj))
    return obj.get_name() or ""


def value_of(obj):
    if not _has(obj, "Value"):
        return None
    return Atspi.Value.get_current_value(obj)


def states_of(obj):
    return sorted(_states(obj))


def action_names(obj):
    if not _has(obj, "Action"):
        return []
    return [Atspi.Action.get_action_name(obj, i) for i in range(Atspi.Action.get_n_actions(obj))]


def press(obj, wanted=None):
    names = [n.lower() for n in action_names(obj)]
    choices = [wanted.lower()] if wanted else DEFAULT_ACTIONS
    for choice in choices:
        if choice in names:
            return Atspi.Action.do_action(obj, names.index(choice))
    raise NotFound(f"no action {'/'.join(choices)} among {names}")


def select(obj, item):
    """Chooses the entry named item of a combo box or list: through the selection of
    the list that holds it, or else by clicking it, as a user of a screen reader does
    with the entries of a combo box's open popup."""
    for holder in [obj] + [child for child, _ in _walk(obj)]:
        for i in range(holder.get_child_count()):
            child = holder.get_child_at_index(i)
            if child is None or child.get_name() != item:
                continue
            if _has(holder, "Selection"):
                return Atspi.Selection.select_child(holder, i)
            return click(child)
    raise NotFound(f"no entry '{item}' to select")


def center(obj):
    extents = Atspi.Component.get_extents(obj, Atspi.CoordType.SCREEN)
    return extents.x + extents.width // 2, extents.y + extents.height // 2


def click(obj):
    x, y = center(obj)
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def dump(app_name, out=sys.stdout):
    root = application(app_name)
    if root is None:
        print(f"no application '{app_name}' on the accessibility bus", file=out)
        return
    print(f"{root.get_role_name()} {root.get_name()!r}", file=out)
    for obj, depth in _walk(root):
        try:
            extra = []
            if _has(obj, "Text") and obj.get_role_name() not in ("label", "heading"):
                extra.append(f"text={text_of(obj)!r}")
            value = value_of(obj)
            if value is not None:
                extra.append(f"value={value:g}")
            description = obj.get_description()
            if description:
                extra.append(f"description={description!r}")
            states = _states(obj) & {"showing", "checked", "enabled", "focused", "selected"}
            print(f"{'  ' * depth}{obj.get_role_name()} {obj.get_name()!r} "
                  f"{' '.join(extra)} [{','.join(sorted(states))}]", file=out)
        except gi.repository.GLib.Error as error:
            print(f"{'  ' * depth}? ({error})", file=out)


def _property(obj, kind):
    if kind == "text":
        return text_of(obj)
    if kind == "name":
        return obj.get_name() or ""
    if kind == "description":
        return obj.get_description() or ""
    if kind == "value":
        value = value_of(obj)
        return None if value is None else f"{value:g}"
    raise ValueError(kind)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--app", default="Daubly")
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("command")
    parser.add_argument("args", nargs="*")
    options = parser.parse_args(argv)
    app, timeout, args = options.app, options.timeout, options.args

    def need(count):
        if len(args) < count:
            parser.error(f"{options.command} needs {count} arguments")

    def control(role, name):
        return wait_for(lambda: find(app, role, name), timeout, f"{role} '{name}'")

    try:
        command = options.command
        if command == "dump":
            dump(app)
        elif command == "wait":
            need(2)
            control(args[0], args[1])
        elif command == "gone":
            need(2)
            wait_for(lambda: find(app, args[0], args[1]) is None, timeout,
                     f"{args[0]} '{args[1]}' still on screen")
        elif command == "press":
            need(2)
            press(control(args[0], args[1]), args[2] if len(args) > 2 else None)
        elif command == "text":
            need(2)
            print(text_of(control(args[0], args[1])))
        elif command == "value":
            need(2)
            print(_property(control(args[0], args[1]), "value"))
        elif command == "states":
            need(2)
            print(" ".join(states_of(control(args[0], args[1]))))
        elif command == "names":
            need(1)
            within = (args[1], args[2]) if len(args) >= 3 else None
            for obj in find_all(app, args[0], "*", within):
                print(obj.get_name() or "")
        elif command == "select":
            need(3)
            combo = control(args[0], args[1])

            def chosen():
                try:
                    select(combo, args[2])
                    return True
                except NotFound:
                    return False

            wait_for(chosen, timeout, f"entry '{args[2]}' of {args[0]} '{args[1]}'")
        elif command == "click":
            need(2)
            click(control(args[0], args[1]))
        elif command == "expect":
            need(4)
            role, name, kind, want = args[:4]
            seen = []

            def holds():
                obj = find(app, role, name)
                if obj is None:
                    seen[:] = ["(not on screen)"]
                    return False
                if kind in ("state", "nostate"):
                    states = _states(obj)
                    seen[:] = [" ".join(sorted(states))]
                    return (want in states) == (kind == "state")
                got = _property(obj, kind)
                seen[:] = [repr(got)]
                return got == want

            try:
                wait_for(holds, timeout, f"{kind} of {role} '{name}' is '{want}'")
            except NotFound as error:
                raise NotFound(f"{error}; last seen: {seen[0] if seen else 'nothing'}")
        else:
            parser.error(f"unknown command {command}")
    except NotFound as error:
        print(f"a11y: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
