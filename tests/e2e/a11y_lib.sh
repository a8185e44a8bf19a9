# Accessibility helpers of the end-to-end tests, on top of lib.sh (sourced after it,
# and after the display is up). They give the test a private session bus with the
# AT-SPI bus on it, so daubly's windows can be read and driven as a screen reader does.
#
#   a11y_start                     the private buses; daubly started afterwards joins them
#   a11y COMMAND ...               tests/e2e/a11y.py against daubly (see its usage)
#   a11y_expect ROLE NAME KIND WANT   the same as "a11y expect", failing the test
#   a11y_press ROLE NAME           presses a control, failing the test when it is missing

A11Y_PY="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/a11y.py"
# The system's Python: python3-pyatspi installs the AT-SPI bindings for it alone.
A11Y_PYTHON=/usr/bin/python3

_a11y_bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

a11y_start() {
    local out=$E2E_DIR/session-bus
    # The session bus: its own, so nothing of the desktop the test runs in answers.
    dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 >"$out" ||
        fail "no private session bus"
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$out")
    export DBUS_SESSION_BUS_ADDRESS
    # Stopped with the display, before it (the list is stopped in reverse order); the
    # AT-SPI bus launcher ends with the session bus it serves.
    _vd_pids+=("$(sed -n 2p "$out")")
    # Qt joins the accessibility bus only when org.a11y.Bus is already there, and does
    # not ask D-Bus to start it: start it ourselves. It keeps its socket in
    # $XDG_RUNTIME_DIR, which lib.sh made private.
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    _vd_pids+=($!)
    eventually 10 "the accessibility bus starts" _a11y_bus_has org.a11y.Bus
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

a11y() { "$A11Y_PYTHON" "$A11Y_PY" "$@"; }

a11y_expect() {
    a11y expect "$@" || fail "$2: $3 is not '$4'"
}

a11y_press() {
    a11y press "$@" || fail "cannot press $1 '$2'"
}
