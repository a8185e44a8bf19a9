#!/bin/bash
# The whole pick, measured on the real program: daubly with its tray icon up, picks
# started with Alt+C and cancelled with Escape, on one 3840 x 2160 monitor (Xvfb) and on
# two (the headless Xorg of scripts/two-monitor-display.sh).
#
#   cmake --build --preset release --target daubly -j2
#   bench/pick_latency.sh [path/to/daubly] [picks]      (default build/release/daubly, 20)
#   ONLY=one|two  MOVES=1000  LOGS=dir (keeps daubly's log and the per-pick figures of
#   each setup there)
#   PROFILE=KIND  publishes a colour profile on the root window first (KIND as for
#   tests/e2e/fixture/IccProfile.cpp: adobe-lut-v2, adobe-matrix, ...; ICC_TOOL names the
#   fixture, default the dev tree's), to compare with the same run without
#   HOLD=0.08  seconds between Alt+C's key-down and key-up, as a person's press lasts
#   (80-120 ms); the pick starts at the key-up and is timed from there, and the capture
#   gets ready while the key is down. HOLD=0 leaves xdotool's own pace (about 12 ms
#   between each key's down and up, which is about what readying takes at 4K).
#
# Each setup makes one pick more than asked: the first after start-up, reported apart.
# Reports per setup:
#   painted "Loupe painted N ms after the pick was triggered": from the trigger to the first
#           loupe on screen (painted, handed over, and the server done with it); the first
#           pick, then the median, 90th percentile and maximum of the others
#   shown   the same for "Magnifier shown N ms after capture started" (capture to session
#           begun)
#   faults  minor page faults per pick, from the trigger until the loupe is painted, of
#           daubly and of the X server: the first pick, then the median and maximum of the
#           others (a fault into a fresh page of a 4K frame is where a stall starts)
#   cpu     CPU time per pick over the same span, of daubly (all threads) and of the server:
#           what the machine's load does not change
#   rss     VmRSS with the tray up before any pick, the highest seen while the loupe is up,
#           and 2 s after the last pick; then what of the growth is anonymous and shared
#           memory (RssAnon + RssShmem), the rest being pages of libraries and fonts read
#           in for the first loupe
#   idle    CPU ticks (utime + stime, 1/100 s) over 10 s with nothing happening
#   move    CPU per mouse move during a pick, the mean over MOVES moves (xdotool, 2 ms apart);
#           bench/LoupeBench.cpp gives the median and 99th percentile of one move
# Needs Xvfb, openbox, trayer, xdotool (scripts/deps.sh) and, for two monitors, root.

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
PICKS=${2:-20}
MOVES=${MOVES:-1000}
ONLY=${ONLY:-}
HOLD=${HOLD:-0.08}
PROFILE=${PROFILE:-}
ICC_TOOL=${ICC_TOOL:-$(dirname "$0")/../build/dev/tests/e2e/daubly_icc_profile}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/pick-latency.XXXXXX")
pids=()

trap 'stop_all; rm -rf "$WORK"' EXIT

die() {
    echo "pick_latency: $*" >&2
    [ -f "$WORK/daubly.log" ] && tail -n 20 "$WORK/daubly.log" >&2
    exit 1
}

source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../scripts/virtual-display.sh"

minor_faults() { awk '{ print $10 }' "/proc/$1/stat"; }
# CPU time of all of a process's threads in microseconds: unlike the wall clock, what a
# pick costs whatever the machine's load.
cpu_us() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { printf "%d", t / 1000 }'; }
# The X server of $DISPLAY (a server given -displayfd writes no lock file).
SERVER=

start_xvfb() {
    start_x_server Xvfb -screen 0 3840x2160x24 -nolisten tcp -noreset || die "Xvfb did not start"
    pids+=("$X_SERVER_PID")
    SERVER=$X_SERVER_PID
}

start_two_monitors() {
    "$(dirname "$0")/../scripts/two-monitor-display.sh" 3840x2160 3840x2160 >"$WORK/display" 2>"$WORK/xtwo.err" &
    pids+=($!)
    until_true 30 test -s "$WORK/display" || die "two-monitor server did not start: $(cat "$WORK/xtwo.err")"
    DISPLAY=$(cat "$WORK/display")
    export DISPLAY
    SERVER=$(pgrep -x -P "${pids[-1]}" Xorg) || die "no Xorg under the two-monitor script"
}

tray_icon() {
    local w
    for w in $(xdotool search --onlyvisible --class daubly 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        ((HEIGHT <= 40 && Y <= 40)) && return 0
    done
    return 1
}


measure() { # NAME
    local name=$1 pid rss_idle rss_peak=0 rss_after held_idle held_after ticks0 ticks1 idle_ticks i n c rss
    until_true 10 xdpyinfo >/dev/null 2>&1 || die "no X server on $DISPLAY"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    setsid trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
        --transparent false --tint 0x303030 --expand true >/dev/null 2>&1 &
    pids+=($!)
    until_true 10 xdotool search --class trayer >/dev/null || die "trayer did not start"
    if [ -n "$PROFILE" ]; then
        "$ICC_TOOL" set "$PROFILE" || die "could not publish the $PROFILE profile"
    fi

    rm -rf "$WORK/home" "$WORK/daubly.log"
    mkdir -p "$WORK/home/config" "$WORK/home/runtime"
    chmod 700 "$WORK/home/runtime"
    XDG_CONFIG_HOME=$WORK/home/config XDG_RUNTIME_DIR=$WORK/home/runtime DAUBLY_LOG_TO_STDERR=1 \
        "$DAUBLY" >"$WORK/daubly.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    until_true 15 tray_icon || die "no tray icon"
    # The middle of the primary monitor.
    xdotool mousemove 1920 1080
    sleep 3

    rss_idle=$(rss_kb "$pid")
    held_idle=$(held_kb "$pid")
    ticks0=$(cpu_ticks "$pid")
    sleep 10
    ticks1=$(cpu_ticks "$pid")
    idle_ticks=$((ticks1 - ticks0))

    local server faults0 server0 cpu0 servercpu0
    server=$SERVER
    : >"$WORK/picks"
    for ((i = 0; i <= PICKS; i++)); do
        n=$(count "Loupe painted")
        c=$(count "Color picker cancelled")
        faults0=$(minor_faults "$pid")
        server0=$(minor_faults "$server")
        cpu0=$(cpu_us "$pid")
        servercpu0=$(cpu_us "$server")
        xdotool keydown alt+c sleep "$HOLD" keyup alt+c
        until_true 10 grew "Loupe painted" "$n" || die "pick $i: no loupe"
        echo "$(($(minor_faults "$pid") - faults0)) $(($(minor_faults "$server") - server0))" \
            "$((($(cpu_us "$pid") - cpu0) / 1000)) $((($(cpu_us "$server") - servercpu0) / 1000))" \
            >>"$WORK/picks"
        rss=$(rss_kb "$pid")
        ((rss > rss_peak)) && rss_peak=$rss
        xdotool key Escape
        until_true 10 grew "Color picker cancelled" "$c" || die "pick $i: not cancelled"
        sleep 0.5
    done
    sleep 2
    rss_after=$(rss_kb "$pid")
    held_after=$(held_kb "$pid")

    # Mouse moves during one more pick, in small steps across the middle of the monitor.
    n=$(count "Loupe painted")
    c=$(count "Color picker cancelled")
    xdotool key alt+c
    until_true 10 grew "Loupe painted" "$n" || die "move pick: no loupe"
    local args=() x y
    for ((i = 0; i < MOVES; i++)); do
        x=$((1200 + (i * 3) % 1400))
        y=$((700 + (i * 7) % 700))
        args+=(mousemove "$x" "$y" sleep 0.002)
    done
    sleep 0.5
    ticks0=$(cpu_ticks "$pid")
    xdotool "${args[@]}"
    sleep 0.2
    ticks1=$(cpu_ticks "$pid")
    xdotool key Escape
    until_true 10 grew "Color picker cancelled" "$c" || die "move pick: not cancelled"

    # One line per pick: painted ms, shown ms, then daubly's and the server's faults and CPU ms.
    paste -d' ' <(sed -n 's/.*Loupe painted \([0-9]*\) ms.*/\1/p' "$WORK/daubly.log") \
        <(sed -n 's/.*Magnifier shown \([0-9]*\) ms.*/\1/p' "$WORK/daubly.log") \
        "$WORK/picks" | head -n $((PICKS + 1)) >"$WORK/table"
    first() { head -n 1 "$WORK/table" | cut -d' ' -f"$1"; }
    rest() { tail -n +2 "$WORK/table" | cut -d' ' -f"$1" | spread; }
    printf '%-4s painted: first %s ms, then %s ms (%d picks)\n' "$name" "$(first 1)" "$(rest 1)" "$PICKS"
    printf '%-4s shown:   first %s ms, then %s ms\n' "$name" "$(first 2)" "$(rest 2)"
    printf '%-4s faults:  daubly first %s, then %s; server first %s, then %s\n' "$name" \
        "$(first 3)" "$(rest 3 | sed 's/ p90 [0-9]*//')" "$(first 4)" "$(rest 4 | sed 's/ p90 [0-9]*//')"
    printf '%-4s cpu:     daubly first %s ms, then %s ms; server first %s ms, then %s ms\n' \
        "$name" "$(first 5)" "$(rest 5)" "$(first 6)" "$(rest 6)"
    printf '%-4s rss idle %d MB, during %d MB, after %d MB (%+d kB, anonymous and shared %+d kB)  idle %d ticks/10 s  move %.2f ms CPU (mean of %d)\n' \
        "$name" $((rss_idle / 1024)) $((rss_peak / 1024)) \
        $((rss_after / 1024)) $((rss_after - rss_idle)) $((held_after - held_idle)) "$idle_ticks" \
        "$(awk -v t=$((ticks1 - ticks0)) -v m="$MOVES" 'BEGIN { print t * 10 / m }')" "$MOVES"
    if [ -n "${LOGS:-}" ]; then
        cp "$WORK/daubly.log" "$LOGS/pick-latency-$name.log"
        { echo "painted_ms shown_ms daubly_faults server_faults daubly_cpu_ms server_cpu_ms"; cat "$WORK/table"; } \
            >"$LOGS/pick-latency-$name.picks"
    fi
    stop_all
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)  daubly: $DAUBLY  hold: $HOLD s  profile: ${PROFILE:-none}"
if [ "$ONLY" != two ]; then
    start_xvfb
    measure one
fi
if [ "$ONLY" != one ]; then
    start_two_monitors
    measure two
fi
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
