# Shared helpers of the end-to-end tests: a virtual display with openbox and trayer,
# the real daubly with its own settings and runtime folders, and xdotool helpers.
# Sourced by each test with the daubly executable as $1.

set -euo pipefail
DAUBLY=${1:?usage: $0 path/to/daubly}
E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/daubly-e2e.XXXXXX")
export XDG_CONFIG_HOME=$E2E_DIR/config XDG_RUNTIME_DIR=$E2E_DIR/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Keep the lines on stderr, where the tests read them.
export DAUBLY_LOG_TO_STDERR=1
# No session bus unless a test starts its own (start_session_bus): a daubly of another
# test must never answer for ours.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/no-bus
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/virtual-display.sh"

DAUBLY_PID=

fail() {
    echo "FAIL: $*" >&2
    if [ -f "$E2E_DIR/daubly.log" ]; then
        echo "--- daubly's log:" >&2
        cat "$E2E_DIR/daubly.log" >&2
    fi
    echo "--- the clipboard holds: '$(clipboard)'" >&2
    if [ -s "$E2E_DIR/scene.log" ]; then
        echo "--- the scene windows said:" >&2
        cat "$E2E_DIR/scene.log" >&2
    fi
    if [ -s "$E2E_DIR/xtwo.log" ]; then
        echo "--- the two-monitor server said:" >&2
        cat "$E2E_DIR/xtwo.log" >&2
    fi
    exit 1
}

cleanup() {
    local status=$?
    if [ -n "${BUS_PID:-}" ]; then kill "$BUS_PID" 2>/dev/null || true; fi
    if [ -n "$DAUBLY_PID" ]; then kill "$DAUBLY_PID" 2>/dev/null || true; fi
    if ((${#SCENE_PIDS[@]})); then kill "${SCENE_PIDS[@]}" 2>/dev/null || true; fi
    stop_virtual_display
    if [ -n "${XTWO_PID:-}" ]; then kill "$XTWO_PID" 2>/dev/null || true; wait "$XTWO_PID" 2>/dev/null || true; fi
    rm -rf "$E2E_DIR"
    exit "$status"
}

e2e_start() {
    start_virtual_display "${1:-1280x800}" || fail "no virtual display"
    trap cleanup EXIT
}

# Polls a command until it succeeds; fails the test after SECONDS.
eventually() {
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq $((seconds * 20))); do
        "$@" && return 0
        sleep 0.05
    done
    fail "$what (waited ${seconds}s)"
}

log_has() { grep -qF -- "$1" "$E2E_DIR/daubly.log"; }

# The tray icon: daubly's small window docked in trayer.
tray_icon() {
    local w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if ((HEIGHT <= 40 && Y <= 40)); then
            echo "$w"
            return 0
        fi
    done
    return 1
}

tray_icon_count() {
    local n=0 w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        ((HEIGHT <= 40 && Y <= 40)) && n=$((n + 1))
    done
    echo "$n"
}

start_daubly() {
    "$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1 &
    DAUBLY_PID=$!
    eventually 15 "the tray icon appears" tray_icon >/dev/null
}

# The open menu: a visible daubly popup (override-redirect, unlike the Settings and
# welcome windows) that is not the tray icon.
menu_window() {
    local w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if ((HEIGHT > 40 && WIDTH < 600)) &&
            xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes'; then
            echo "$w"
            return 0
        fi
    done
    return 1
}

menu_gone() { ! menu_window >/dev/null; }

open_menu() {
    local icon
    icon=$(tray_icon) || fail "no tray icon"
    xdotool mousemove --window "$icon" 8 8 click 1
    eventually 5 "the menu opens" menu_window >/dev/null
}

# Clicks the menu's last item ("Quit Daubly").
click_last_menu_item() {
    local menu
    menu=$(menu_window) || fail "no menu"
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove $((X + 40)) $((Y + HEIGHT - 12)) click 1
}

# Clicks the menu's first item ("Pick Color").
click_first_menu_item() {
    local menu
    menu=$(menu_window) || fail "no menu"
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove $((X + 40)) $((Y + 12)) click 1
}

daubly_exits() { ! kill -0 "$DAUBLY_PID" 2>/dev/null; }

# Writes daubly's settings file before it starts.
write_defaults() {
    mkdir -p "$XDG_CONFIG_HOME/daubly"
    printf '%s\n' "$1" >"$XDG_CONFIG_HOME/daubly/defaults.json"
}

# Starts a daubly_scene window (see tests/e2e/fixture/SceneWindow.cpp) and waits for it.
SCENE_PIDS=()
start_scene() {
    "${DAUBLY_SCENE:?DAUBLY_SCENE is set by ctest}" --title "scene$((${#SCENE_PIDS[@]} + 1))" "$@" \
        >>"$E2E_DIR/scene.log" 2>&1 &
    SCENE_PIDS+=($!)
    eventually 30 "the scene window appears" \
        xdotool search --onlyvisible --name "^scene${#SCENE_PIDS[@]}\$" >/dev/null
}

# A visible daubly window as large as a whole monitor: an overlay.
overlay_shown() {
    local w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        ((WIDTH >= 600 && HEIGHT >= 400)) && return 0
    done
    return 1
}
overlay_gone() { ! overlay_shown; }
overlays_shown() { # N: at least N overlays are up
    local w n=0
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        ((WIDTH >= 600 && HEIGHT >= 400)) && n=$((n + 1))
    done
    ((n >= $1))
}

clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
clipboard_is() { [ "$(clipboard)" = "$1" ]; }
set_clipboard() {
    printf '%s' "$1" | xclip -selection clipboard
    eventually 5 "the clipboard holds '$1'" clipboard_is "$1"
}

# "Pick Color" in the tray menu, until the overlays are up.
pick_from_menu() {
    open_menu
    click_first_menu_item
    eventually 10 "the overlay appears" overlay_shown
}

# Expects the clipboard to become TEXT and the overlays to go.
expect_copied() {
    eventually 5 "the clipboard holds '$1'" clipboard_is "$1"
    eventually 5 "the overlay goes after a copy" overlay_gone
}

log_count() { grep -cF -- "$1" "$E2E_DIR/daubly.log" || true; }
log_count_above() { (($(log_count "$1") > $2)); }

quit_daubly() {
    kill -TERM "$DAUBLY_PID" 2>/dev/null || true
    wait "$DAUBLY_PID" 2>/dev/null || true
    DAUBLY_PID=
}

# Two monitors side by side on a headless Xorg (scripts/two-monitor-display.sh), with
# openbox and trayer.
XTWO_PID=
e2e_start_two_monitors() {
    local out=$E2E_DIR/xtwo.display
    "$(dirname "${BASH_SOURCE[0]}")/../../scripts/two-monitor-display.sh" "$@" \
        >"$out" 2>"$E2E_DIR/xtwo.log" &
    XTWO_PID=$!
    trap cleanup EXIT
    eventually 30 "the two-monitor server starts" test -s "$out"
    export DISPLAY=$(cat "$out")
    openbox >/dev/null 2>&1 &
    _vd_pids+=($!)
    setsid trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
        --transparent false --tint 0x303030 --expand true >/dev/null 2>&1 &
    _vd_pids+=($!)
    wait_for_window trayer 10 >/dev/null || fail "trayer did not start"
}

# A private session bus whose services folder starts this build's daubly on demand;
# what the daubly it starts writes goes to daubly.log, like start_daubly's.
BUS_PID=
start_session_bus() {
    mkdir -p "$E2E_DIR/services"
    printf '[D-BUS Service]\nName=app.daubly.Daubly\nExec=%s\n' "$DAUBLY" \
        >"$E2E_DIR/services/app.daubly.Daubly.service"
    cat >"$E2E_DIR/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$E2E_DIR</listen>
  <servicedir>$E2E_DIR/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
CONF
    # In the foreground (of a background job), so that the services it starts inherit
    # its stderr.
    dbus-daemon --config-file="$E2E_DIR/bus.conf" --nofork --print-address=3 \
        3>"$E2E_DIR/bus.address" >>"$E2E_DIR/daubly.log" 2>&1 &
    BUS_PID=$!
    eventually 10 "the session bus starts" [ -s "$E2E_DIR/bus.address" ]
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$E2E_DIR/bus.address")
    export DBUS_SESSION_BUS_ADDRESS
}

# Whether some process owns NAME on the session bus.
bus_has_owner() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}

# Calls a method of daubly's interface on the session bus: daubly_bus_call Pick
daubly_bus_call() {
    gdbus call --session --dest app.daubly.Daubly --object-path /app/daubly/Daubly \
        --method "app.daubly.Daubly.$1" >/dev/null
}
