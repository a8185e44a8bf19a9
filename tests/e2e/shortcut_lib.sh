# Helpers of the global shortcut tests, on top of lib.sh (sourced after it).

GRABBER_PID=

# Lets go of the grabber before lib.sh's cleanup takes the display down.
stop_helpers() {
    local status=$?
    set +e
    stop_grabber
    (exit "$status")
    cleanup
}

shortcut_start() {
    e2e_start "$@"
    trap stop_helpers EXIT
    eval "$(xdotool getdisplaygeometry --shell)"
    SCREEN_WIDTH=$WIDTH SCREEN_HEIGHT=$HEIGHT
}

# A scene window with pattern "pixels" at WxH+X+Y, focused; its id in $SCENE.
start_pixel_scene() {
    local x y
    start_scene --pattern pixels --geometry "$1"
    SCENE=$(xdotool search --onlyvisible --name "^scene${#SCENE_PIDS[@]}\$" | head -n1)
    xdotool windowactivate --sync "$SCENE"
    IFS=+ read -r _ x y <<<"$1"
    SCENE_X=$x SCENE_Y=$y
}

# The text daubly copies in the hex format for the scene's pixel under screen point (x, y).
scene_hex() { printf '#%02X%02X80' $((($1 - SCENE_X) % 256)) $((($2 - SCENE_Y) % 256)); }

# A pick's overlay: a visible daubly window that covers the whole screen.
overlay_window() {
    local w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        if ((WIDTH == SCREEN_WIDTH && HEIGHT == SCREEN_HEIGHT)); then
            echo "$w"
            return 0
        fi
    done
    return 1
}
no_overlay() { ! overlay_window >/dev/null; }
no_menu() { ! menu_window >/dev/null; }
log_count_is() { [ "$(log_count "$1")" = "$2" ]; }
active_window_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }

# Waits for the N-th pick to show its loupe.
wait_for_pick() {
    eventually 10 "pick $1 shows its overlay" overlay_window >/dev/null
    eventually 5 "pick $1 shows its loupe" log_count_is "Magnifier shown" "$1"
}

# Still N picks started after a key. The probe: daubly opens and closes its tray menu,
# input that reaches it after the key, so the key has been handled by then.
stays_idle() {
    local active
    active=$(xdotool getactivewindow 2>/dev/null || true)
    open_menu
    xdotool key Escape
    eventually 5 "the probe's menu closes" no_menu
    # The probe leaves the focus where it found it, or a pick right after would start
    # while the window manager still moves it.
    [ -z "$active" ] || eventually 5 "the focus returns after the probe" active_window_is "$active"
    log_count_is "Color picker started" "$1" || fail "$2"
    no_overlay || fail "$2 (an overlay is showing)"
}

# Another client takes Alt+C (and keeps it until stop_grabber); false when it is refused.
start_grabber() {
    local out=$E2E_DIR/grabber.out
    : >"$out"
    "${DAUBLY_GRABBER:?DAUBLY_GRABBER is set by ctest}" >"$out" 2>&1 &
    GRABBER_PID=$!
    for _ in $(seq 100); do
        grep -q grabbed "$out" && return 0
        kill -0 "$GRABBER_PID" 2>/dev/null || break
        sleep 0.05
    done
    wait "$GRABBER_PID" 2>/dev/null || true
    GRABBER_PID=
    return 1
}
stop_grabber() {
    if [ -n "$GRABBER_PID" ]; then
        kill "$GRABBER_PID" 2>/dev/null || true
        wait "$GRABBER_PID" 2>/dev/null || true
        GRABBER_PID=
    fi
}
