# Sourced, not run: starts a virtual X display with openbox and the trayer tray.
#   start_virtual_display [WIDTHxHEIGHT[xDEPTH]]   sets DISPLAY; stops everything on exit
#   wait_for_window NAME-or-CLASS [SECONDS]
# Needs xvfb, openbox, trayer, x11-utils (scripts/deps.sh run).

_vd_pids=()

stop_virtual_display() {
    local pid
    for ((i = ${#_vd_pids[@]} - 1; i >= 0; i--)); do
        pid=${_vd_pids[i]}
        kill "$pid" 2>/dev/null && { wait "$pid" 2>/dev/null || true; }
    done
    _vd_pids=()
    return 0
}

# Starts an X server (its command line, without a display) on a display number the
# server picks itself through -displayfd: no race with a server that starts at the same
# moment, nor with one whose lock file this process cannot see but whose socket it would
# reach. Waits until it accepts clients; sets DISPLAY and X_SERVER_PID.
start_x_server() {
    local out n=
    out=$(mktemp "${TMPDIR:-/tmp}/daubly-display.XXXXXX")
    "$@" -displayfd 3 3>"$out" </dev/null >/dev/null 2>&1 &
    X_SERVER_PID=$!
    for _ in $(seq 300); do
        n=$(grep -x '[0-9]\+' "$out" || true)
        [ -n "$n" ] && break
        kill -0 "$X_SERVER_PID" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$out"
    [ -n "$n" ] || { echo "the X server ($1) did not start" >&2; return 1; }
    export DISPLAY=":$n"
}

start_virtual_display() {
    local size=${1:-1920x1080}
    [[ $size == *x*x* ]] || size+=x24 # WIDTHxHEIGHT[xDEPTH]
    start_x_server Xvfb -screen 0 "$size" -nolisten tcp -noreset || return 1
    _vd_pids+=("$X_SERVER_PID")
    xdpyinfo >/dev/null 2>&1 || { echo "virtual display $DISPLAY does not answer" >&2; return 1; }
    openbox >/dev/null 2>&1 &
    _vd_pids+=($!)
    # A tray at the top right, as on a typical desktop panel.
    # trayer signals its whole process group when it stops: give it a group of its own.
    setsid trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
        --transparent false --tint 0x303030 --expand true >/dev/null 2>&1 &
    _vd_pids+=($!)
    wait_for_window trayer 10 >/dev/null || { echo "trayer did not start" >&2; return 1; }
    trap stop_virtual_display EXIT
}

# Prints the id of the first window whose class or name matches.
wait_for_window() {
    local what=$1 seconds=${2:-10} id
    for _ in $(seq $((seconds * 20))); do
        id=$(xdotool search --class "$what" 2>/dev/null | head -n1)
        [ -n "$id" ] || id=$(xdotool search --name "$what" 2>/dev/null | head -n1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}
