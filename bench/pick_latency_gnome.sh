#!/bin/bash
# Trigger to loupe on GNOME, measured on the real program: daubly as a native Wayland
# client of a headless GNOME Shell (scripts/gnome-session.sh), picks started with
# `daubly --pick` and cancelled with Escape (org.gnome.Mutter.RemoteDesktop), the pointer
# in the middle of the monitor. Each capture path runs at each size:
#   screencast  the ScreenCast portal and PipeWire (GNOME's capture): the monitor chooser
#               is answered once through the accessibility tree, then daubly restarts, so
#               the first pick measured is the first of a run with the choice restored;
#   portal      the Screenshot portal (DAUBLY_CAPTURE=portal), permission granted.
#
#   cmake --build --preset release --target daubly -j2
#   bench/pick_latency_gnome.sh [path/to/daubly] [picks]   (default build/release/daubly, 20)
#   SIZES='1920x1080 3840x2160'  CAPTURES='screencast portal'
#
# Reports per size and path: "Magnifier shown N ms after capture started" and "Loupe
# painted N ms after the pick was triggered" (the first pick apart, then median, p90 and
# maximum of the others), VmRSS idle and 2 s after the last pick. Software rendering
# (llvmpipe); the load is printed. Needs scripts/deps.sh test.

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
PICKS=${2:-20}
SIZES=${SIZES:-1920x1080 3840x2160}
CAPTURES=${CAPTURES:-screencast portal}
cd "$(dirname "$0")/.."
source bench/lib.sh
CHOOSER=$PWD/tests/gnome/chooser.py
INPUT=$PWD/tests/gnome/remote_input.py

WORK=$(mktemp -d "${TMPDIR:-/tmp}/pick-latency-gnome.XXXXXX")
chmod 755 "$WORK"
# The session's user may not reach the clone: the helpers it runs are copied.
cp "$CHOOSER" "$INPUT" "$WORK/" && CHOOSER=$WORK/chooser.py INPUT=$WORK/remote_input.py
pids=()
trap 'stop_all; rm -rf "$WORK"' EXIT
die() {
    echo "pick_latency_gnome: $*" >&2
    [ -f "$WORK/daubly.log" ] && tail -n 20 "$WORK/daubly.log" >&2
    exit 1
}

as_user=()
run() {
    "${as_user[@]}" env QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$WORK/config" \
        DAUBLY_LOG_TO_STDERR=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
}
input() { # COMMAND: waits for its answer
    local before
    before=$(grep -c '^ok' "$WORK/input.out" || true)
    echo "$*" >"$WORK/input.in"
    until_true 5 eval '(($(grep -c "^ok" "$WORK/input.out") > before))' || die "input: $*"
}
start_daubly() { # CAPTURE
    local env=()
    [ "$1" = portal ] && env=(DAUBLY_CAPTURE=portal)
    : >"$WORK/daubly.log"
    run "${env[@]}" "$DAUBLY" >>"$WORK/daubly.log" 2>&1 &
    until_true 15 grep -q "started" "$WORK/daubly.log" || die "daubly did not start"
    # run is a function: its background job is a subshell, not daubly itself.
    daubly_pid=$(pgrep -n -f "^$DAUBLY\$") || die "no daubly process"
}
stop_daubly() {
    kill "$daubly_pid" 2>/dev/null || true
    until_true 10 eval '! kill -0 "$daubly_pid" 2>/dev/null' || die "daubly does not quit"
}
# daubly's overlay has the focus (the Shell's window list), so that Escape reaches it.
overlay_focused() {
    local before
    before=$(grep -c '^ok' "$WORK/input.out" || true)
    echo windows >"$WORK/input.in"
    until_true 5 eval '(($(grep -c "^ok" "$WORK/input.out") > before))' || return 1
    awk -v n="$before" '/^ok/ { c++; next } c == n && /^window: / { print }' "$WORK/input.out" |
        grep -q " yes ${w}x${h} "
}
pick() { # waits for the loupe, then cancels
    local n c
    n=$(count "Loupe painted")
    c=$(count "Color picker cancelled")
    run "$DAUBLY" --pick >/dev/null 2>&1
    until_true 30 grew "Loupe painted" "$n" || die "no loupe"
    until_true 10 overlay_focused || die "no overlay"
    input key Escape
    until_true 10 grew "Color picker cancelled" "$c" || die "not cancelled"
    sleep 0.3
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)  daubly: $DAUBLY"
for size in $SIZES; do
    stop_all
    start_session gnome-session.sh session.err DAUBLY_GNOME_SESSION 60 GNOME "$size"
    rm -f "$WORK/input.in"
    mkfifo "$WORK/input.in"
    : >"$WORK/input.out"
    mkdir -p "$WORK/config/daubly"
    chown -R "$DAUBLY_WAYLAND_USER:" "$WORK"
    "${as_user[@]}" /usr/bin/python3 "$INPUT" <>"$WORK/input.in" >>"$WORK/input.out" 2>&1 &
    pids+=($!)
    until_true 10 grep -qx ready "$WORK/input.out" || die "no remote input"
    input key Shift_L # the seat's keyboard appears with its first key
    read -r w h <<<"$DAUBLY_WAYLAND_LAYOUT"
    input move $((w / 2)) $((h / 2))
    "${as_user[@]}" gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
        screenshot true screenshot '' "['yes']" >/dev/null

    for capture in $CAPTURES; do
        echo '{"hasCompletedOnboarding": true, "didRequestScreenCapture": true}' >"$WORK/config/daubly/defaults.json"
        chown -R "$DAUBLY_WAYLAND_USER:" "$WORK/config"
        if [ "$capture" = screencast ]; then
            # The chooser, once; the restore token it leaves serves the measured run.
            start_daubly screencast
            run "$DAUBLY" --pick >/dev/null 2>&1
            "${as_user[@]}" /usr/bin/python3 "$CHOOSER" share 20 || die "no monitor chooser"
            until_true 30 grew "Loupe painted" 0 || die "no loupe after the chooser"
            until_true 10 overlay_focused || die "no overlay after the chooser"
            input key Escape
            sleep 0.5
            stop_daubly
        fi
        start_daubly "$capture"
        sleep 3
        rss_idle=$(rss_kb "$daubly_pid")
        for ((i = 0; i <= PICKS; i++)); do pick; done
        sleep 2
        rss_after=$(rss_kb "$daubly_pid")
        stop_daubly
        echo "$size $capture ($(sed -n 's/.*Screen capture: //p' "$WORK/daubly.log" | head -n1)):"
        print_latencies "  "
        printf '  rss idle %d MB, 2 s after the last pick %d MB (%+d kB)\n' \
            $((rss_idle / 1024)) $((rss_after / 1024)) $((rss_after - rss_idle))
    done
done
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
