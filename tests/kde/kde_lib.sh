# Helpers of the KDE Plasma end-to-end tests: a headless KWin (scripts/kwin-session.sh),
# input through KWin's fake input (tests/kde/FakeInput.c, which answers the same commands
# as the sway tests' virtual pointer, plus keys), the clipboard through wl-clipboard and
# kglobalaccel read back over the session bus. Builds on the Wayland helpers.
# Sourced by each test with the daubly executable as $1.

source "$(dirname "${BASH_SOURCE[0]}")/../e2e/wayland_lib.sh"

wl_fail_logs() {
    local f
    for f in kwin.err pointer.out wl-copy.log; do
        if [ -s "$E2E_DIR/$f" ]; then
            echo "--- $f:" >&2
            tail -n 30 "$E2E_DIR/$f" >&2
        fi
    done
    if [ -n "${KWIN_LOG:-}" ] && [ -s "$KWIN_LOG" ]; then
        echo "--- KWin's log:" >&2
        tail -n 30 "$KWIN_LOG" >&2
    fi
}

# kde_start WIDTHxHEIGHT[@SCALE] [OUTPUTS]: the session and the fake input; exports the
# session's environment. $DAUBLY is named to KWin by a desktop file unless
# KDE_UNLISTED=1 (then KWin refuses it its screenshot service, as a build run from the
# tree).
kde_start() {
    wl_session wl_cleanup kwin-session.sh kwin.err DAUBLY_WAYLAND_LAYOUT 30 KWin "$@"
    kde_reachable_programs
    chown -R "$DAUBLY_WAYLAND_USER:" "$E2E_DIR"
    # KWin names a client by the desktop file whose Exec= is the client's own path.
    kde_desktop_file daubly-tests-input "$DAUBLY_KDE_INPUT" "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input"
    if [ "${KDE_UNLISTED:-0}" != 1 ]; then
        kde_desktop_file daubly-tests-daubly "$DAUBLY" "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"
    fi
    kde_start_input
}

kde_desktop_file() { # NAME EXECUTABLE KEY=VALUE
    printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nNoDisplay=true\n%s\n' \
        "$1" "$2" "$3" >"$KWIN_APPLICATIONS/$1.desktop"
    chown "$DAUBLY_WAYLAND_USER:" "$KWIN_APPLICATIONS/$1.desktop"
}

# Programs the session's user cannot reach are run from copies; the desktop files then
# name the copies.
kde_reachable_programs() {
    local var
    for var in DAUBLY DAUBLY_SCENE DAUBLY_KDE_INPUT; do
        [ -n "${!var:-}" ] || fail "$var is not set (ctest sets it)"
    done
    wl_reachable DAUBLY DAUBLY_SCENE DAUBLY_KDE_INPUT
}

# The fake input: a daemon that reads commands from a fifo and answers "ok" to each once
# KWin has handled it (wl_move, wl_click and wl_pointer drive it).
kde_start_input() {
    mkfifo "$E2E_DIR/pointer.in"
    : >"$E2E_DIR/pointer.out"
    chown "$DAUBLY_WAYLAND_USER:" "$E2E_DIR/pointer.in" "$E2E_DIR/pointer.out"
    "${WL_AS_USER[@]}" "$DAUBLY_KDE_INPUT" <>"$E2E_DIR/pointer.in" >>"$E2E_DIR/pointer.out" 2>&1 &
    WL_POINTER_PID=$!
    eventually 10 "KWin grants the fake input" grep -qx ready "$E2E_DIR/pointer.out"
}

wl_keys() { wl_pointer tap "$@"; }            # KEY...: each tapped
wl_chord() { wl_pointer chord "$1" "$2"; }   # MODIFIER KEY

# Waits until a click reaches the scene window: nothing of daubly covers it any more.
# KWin tells no client which windows are up, so the scene itself says so.
scene_takes_clicks() { # WHAT
    local presses
    presses=$(grep -c '^press 1 3 3$' "$E2E_DIR/scene.log" || true)
    scene_pressed() {
        wl_move 3 3
        wl_click left
        (($(grep -c '^press 1 3 3$' "$E2E_DIR/scene.log" || true) > presses))
    }
    eventually 10 "$1" scene_pressed
}

# Starts a daubly_scene window (it covers the screen) and waits until it takes clicks.
start_scene() {
    "${WL_AS_USER[@]}" "$DAUBLY_SCENE" --title "scene$((${#SCENE_PIDS[@]} + 1))" "$@" \
        >>"$E2E_DIR/scene.log" 2>&1 &
    SCENE_PIDS+=($!)
    scene_takes_clicks "the scene window takes clicks"
}

# The clipboard holds TEXT, and the overlays are gone.
expect_copied() {
    eventually 5 "the clipboard holds '$1'" clipboard_is "$1"
    scene_takes_clicks "the overlays go after a copy"
}

# A pick started by daubly --pick; waits until its loupe is painted.
loupes() { log_count "Loupe painted"; }
kde_pick() {
    local before
    before=$(loupes)
    as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
    eventually 10 "the loupe shows" log_count_above "Loupe painted" "$before"
}

# Calls a kglobalaccel method with the session's bus: kglobalaccel METHOD ARG...
kglobalaccel() {
    local method=$1
    shift
    as_test_user gdbus call --session --dest org.kde.kglobalaccel --object-path /kglobalaccel \
        --method "org.kde.KGlobalAccel.$method" "$@"
}
# kglobalaccel's id of the pick action.
PICK_ACTION="['app.daubly.Daubly', 'activatePicker', 'Daubly', 'activatePicker']"
