# Helpers of the Wayland end-to-end tests: a headless sway (scripts/wayland-session.sh)
# with known wallpapers, the virtual pointer (tests/wayland/VirtualPointer.c), keys
# through wtype, the clipboard through wl-clipboard, windows through swaymsg.
# Sourced by each test with the daubly executable as $1; builds on lib.sh.
#
# sway refuses root, so as root the session and every Wayland client run as the
# session's user (as_test_user); the test's folder is handed to that user.

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
WL_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)

WL_SESSION_PID=
WL_POINTER_PID=
WL_HELPER_PIDS=()
WL_HELPER_LOGS=()
wl_cleanup() {
    local status=$?
    set +e
    ((${#WL_HELPER_PIDS[@]})) && kill "${WL_HELPER_PIDS[@]}" 2>/dev/null
    if [ -n "$WL_POINTER_PID" ]; then kill "$WL_POINTER_PID" 2>/dev/null || true; fi
    if [ -n "$WL_SESSION_PID" ]; then
        kill "$WL_SESSION_PID" 2>/dev/null || true
        wait "$WL_SESSION_PID" 2>/dev/null || true
    fi
    (exit "$status") # lib.sh's cleanup exits with the test's status
    cleanup
}

wl_fail_logs() {
    local f
    for f in sway.err pointer.out wtype.log wl-copy.log; do
        if [ -s "$E2E_DIR/$f" ]; then
            echo "--- $f:" >&2
            tail -n 30 "$E2E_DIR/$f" >&2
        fi
    done
}

eval "lib_$(declare -f fail)"
fail() {
    local f
    for f in "${WL_HELPER_LOGS[@]}"; do
        [ -s "$E2E_DIR/$f" ] && { echo "--- $f:" >&2; tail -n 15 "$E2E_DIR/$f" >&2; }
    done
    wl_fail_logs
    lib_fail "$@"
}

# Runs a command as the session's user, in the session's environment. Background
# jobs use the prefix itself, so that $! is the client's own pid.
WL_AS_USER=()
as_test_user() { "${WL_AS_USER[@]}" "$@"; }

# wl_background LOG COMMAND...: a helper beside the session (a bus, a portal) as the
# session's user, its output in $E2E_DIR/LOG, shown when the test fails; stopped first.
wl_background() {
    local log=$1
    shift
    "${WL_AS_USER[@]}" "$@" >>"$E2E_DIR/$log" 2>&1 &
    WL_HELPER_PIDS+=($!)
    WL_HELPER_LOGS+=("$log")
}
# The session bus offers the Screenshot portal.
wl_screenshot_portal_up() {
    as_test_user gdbus introspect --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop 2>/dev/null | grep -q org.freedesktop.portal.Screenshot
}

# wl_session CLEANUP SCRIPT ERRORS LAST SECONDS DESKTOP ARG...: runs scripts/SCRIPT ARG...
# (its errors in $E2E_DIR/ERRORS, CLEANUP on exit), waits until it has printed LAST, the
# last line of its environment, and exports that environment for the session's user.
wl_session() {
    local cleanup=$1 script=$2 errors=$3 last=$4 seconds=$5 desktop=$6
    shift 6
    local env=$E2E_DIR/session.env
    # The session's user writes the settings, logs and sockets here.
    chmod 755 "$E2E_DIR"
    "$WL_SCRIPTS/$script" "$@" >"$env" 2>"$E2E_DIR/$errors" &
    WL_SESSION_PID=$!
    trap "$cleanup" EXIT
    wl_session_up() { grep -q "$last" "$env" || ! kill -0 "$WL_SESSION_PID" 2>/dev/null; }
    eventually "$seconds" "the $desktop session starts" wl_session_up
    grep -q "$last" "$env" || fail "the $desktop session did not start"
    source "$env"
    if [ "$(id -u)" = 0 ] && [ "$DAUBLY_WAYLAND_USER" != root ]; then
        WL_AS_USER=(setpriv --reuid="$DAUBLY_WAYLAND_USER" --regid="$DAUBLY_WAYLAND_USER" --init-groups --)
    fi
    unset DISPLAY
    export QT_QPA_PLATFORM=wayland
    # daubly started by the compositor (a binding) appends to the log as the session's user.
    : >>"$E2E_DIR/daubly.log"
}

# wl_start OUTPUT...: the session (outputs as scripts/wayland-session.sh takes them)
# and the virtual pointer (none with WL_POINTER=none: a seat without a pointer
# device; with WL_CURSOR=visible, the cursor shows); exports the session's environment.
wl_start() {
    wl_session wl_cleanup wayland-session.sh sway.err DAUBLY_WAYLAND_LAYOUT 30 sway "$@"
    wl_reachable_programs
    chown -R "$DAUBLY_WAYLAND_USER:" "$E2E_DIR"
    # The cursor drawn into the outputs' pixels as wlroots draws it without a cursor
    # plane (the session's own theme is blank): a theme sway cannot find gives its
    # built-in arrow. Set before the pointer exists, which sway would otherwise reset.
    if [ "${WL_CURSOR:-}" = visible ]; then
        wl_msg "seat * xcursor_theme daubly-none-such 24" >/dev/null || fail "sway kept its cursor theme"
    fi
    [ "${WL_POINTER:-}" = none ] || wl_start_pointer
}

# wl_bind_pick KEY: a sway binding (Mod4+KEY) that runs daubly --pick in sway's own
# environment plus the test's folders (no quotes: sway parses the command again when
# the binding fires; the paths hold none).
wl_bind_pick() {
    local binding="exec env" v
    for v in XDG_CONFIG_HOME DBUS_SESSION_BUS_ADDRESS DAUBLY_LOG_TO_STDERR QT_QPA_PLATFORM; do
        binding+=" $v=${!v}"
    done
    wl_msg "bindsym Mod4+$1 $binding $DAUBLY --pick >>$E2E_DIR/daubly.log 2>&1" >/dev/null ||
        fail "sway took no binding"
}

# A build tree the session's user cannot reach (a clone in root's home) is run from
# copies in the test's folder: wl_reachable VAR... points each set VAR at its copy.
wl_reachable_programs() { wl_reachable DAUBLY DAUBLY_SCENE DAUBLY_WL_POINTER; }
wl_reachable() {
    local var
    for var in "$@"; do
        [ -n "${!var:-}" ] || continue
        as_test_user test -x "${!var}" && continue
        mkdir -p "$E2E_DIR/bin"
        cp "${!var}" "$E2E_DIR/bin/" || fail "cannot copy ${!var}"
        printf -v "$var" '%s' "$E2E_DIR/bin/$(basename "${!var}")"
    done
}

# The pointer: a daemon that reads commands from a fifo and answers "ok" to each
# once sway has handled it.
wl_start_pointer() {
    mkfifo "$E2E_DIR/pointer.in"
    : >"$E2E_DIR/pointer.out"
    # Opened for reading and writing, so the daemon never sees the end of the input.
    "${WL_AS_USER[@]}" "${DAUBLY_WL_POINTER:?DAUBLY_WL_POINTER is set by ctest}" $DAUBLY_WAYLAND_LAYOUT \
        <>"$E2E_DIR/pointer.in" >>"$E2E_DIR/pointer.out" 2>&1 &
    WL_POINTER_PID=$!
    eventually 10 "the virtual pointer is created" grep -qx ready "$E2E_DIR/pointer.out"
}

wl_pointer_answers() { (($(grep -cx ok "$E2E_DIR/pointer.out") > $1)); }
wl_pointer() { # COMMAND...: one pointer command, waited for
    local before
    before=$(grep -cx ok "$E2E_DIR/pointer.out" || true)
    echo "$*" >"$E2E_DIR/pointer.in"
    eventually 5 "the pointer does '$*'" wl_pointer_answers "$before"
}
wl_move() { wl_pointer move "$1" "$2"; } # X Y in layout pixels (fractions allowed)
wl_click() { wl_pointer click "${1:-left}"; }

# wl_keys KEY...: X key names, in one wtype run; it loses keys typed before sway has
# seen its new keyboard, hence the wait first.
wl_keys() {
    local args=() k
    for k in "$@"; do args+=(-k "$k"); done
    as_test_user wtype -s 300 "${args[@]}" >>"$E2E_DIR/wtype.log" 2>&1 || fail "wtype $* failed"
}
# wl_chord MODIFIER KEY: a key with a modifier held (logo, alt, ctrl, shift).
wl_chord() {
    as_test_user wtype -s 300 -M "$1" -k "$2" -m "$1" >>"$E2E_DIR/wtype.log" 2>&1 ||
        fail "wtype $1+$2 failed"
}

# The clipboard, read and set as a Wayland client sees it.
clipboard() { as_test_user timeout 5 wl-paste --no-newline 2>/dev/null || true; }
set_clipboard() {
    as_test_user wl-copy -- "$1" 2>>"$E2E_DIR/wl-copy.log" || fail "wl-copy failed"
    eventually 5 "the clipboard holds '$1'" clipboard_is "$1"
}

wl_msg() { as_test_user swaymsg "$@"; }

# The windows sway shows, one a line: APP_ID NAME X Y WIDTH HEIGHT FULLSCREEN OUTPUT
# (layout pixels; app id "-" for none; the name's spaces as "_").
wl_windows() {
    wl_msg -t get_tree -r | python3 -c '
import json, sys
def walk(node, output):
    if node.get("type") == "output":
        output = node["name"]
    if node.get("pid"):
        r = node["rect"]
        app = node.get("app_id") or (node.get("window_properties") or {}).get("class") or "-"
        name = (node.get("name") or "-").replace(" ", "_")
        print(app, name, r["x"], r["y"], r["width"], r["height"], node.get("fullscreen_mode", 0), output)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child, output)
walk(json.load(sys.stdin), "-")'
}
wl_window_count() { # APP_ID-or-NAME regex
    wl_windows | awk -v re="$1" '$1 ~ re || $2 ~ re' | wc -l
}
wl_window_shown() { (($(wl_window_count "$1") > 0)); }

# Starts a daubly_scene window (tiled: it fills the focused workspace) and waits for it.
start_scene() {
    local title="scene$((${#SCENE_PIDS[@]} + 1))"
    "${WL_AS_USER[@]}" "${DAUBLY_SCENE:?DAUBLY_SCENE is set by ctest}" --title "$title" "$@" \
        >>"$E2E_DIR/scene.log" 2>&1 &
    SCENE_PIDS+=($!)
    eventually 30 "the scene window appears" wl_window_shown "^$title\$"
}

# Overlays: daubly's full-screen windows.
overlay_count() { wl_windows | awk '($1 == "app.daubly.Daubly" || $1 == "daubly") && $7 == 1' | wc -l; }
overlays_shown() { (($(overlay_count) >= $1)); }
overlay_shown() { overlays_shown 1; }
overlay_gone() { (($(overlay_count) == 0)); }

# daubly as a native Wayland client of the session.
start_daubly() {
    local started
    started=$(log_count "Daubly 1.0 (1) started")
    chown -R "$DAUBLY_WAYLAND_USER:" "$XDG_CONFIG_HOME"
    "${WL_AS_USER[@]}" "$DAUBLY" "$@" >>"$E2E_DIR/daubly.log" 2>&1 &
    DAUBLY_PID=$!
    eventually 15 "daubly starts" log_count_above "Daubly 1.0 (1) started" "$started"
}

# Starts a pick with daubly --pick and waits for an overlay on each of N outputs.
wl_pick() {
    as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
    eventually 10 "the overlays appear" overlays_shown "${1:-1}"
}

# The HEX text of device pixel (x, y) of an output showing the pixels pattern.
pixels_hex() { printf '#%02X%02X80' $(($1 % 256)) $(($2 % 256)); }

# Writes a PNG of daubly_scene's pattern (pixels, solid:#RRGGBB) of WxH pixels; prints
# its path.
scene_png() {
    local file=$E2E_DIR/scene-$1-$2.png
    file=${file//[:#]/_}
    "${DAUBLY_SCENE:?DAUBLY_SCENE is set by ctest}" --pattern "$1" --save "$file" --size "$2" || fail "cannot save the $1 scene"
    echo "$file"
}
