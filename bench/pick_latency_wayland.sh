#!/bin/bash
# The whole pick on Wayland, measured on the real program: daubly as a native Wayland
# client of a headless sway (scripts/wayland-session.sh) with one 3840 x 2160 output,
# picks started with `daubly --pick` (what a desktop's key binding runs) and cancelled
# with Escape (wtype), the pointer in the middle of the output (the test's virtual pointer).
#
#   cmake --build --preset release --target daubly -j2
#   cmake --build --preset dev --target daubly_wl_pointer -j2   (the tests' virtual pointer)
#   bench/pick_latency_wayland.sh [path/to/daubly] [picks]   (default build/release/daubly, 20)
#   CAPTURE=portal  (the Screenshot portal instead of screencopy; needs xdg-desktop-portal-wlr)
#   MOVES=300
#   LOGS=dir  (keeps daubly's log there)
#   SMAPS=file  (keeps daubly's /proc/PID/smaps of 2 s after the last pick: where memory went)
#
# Reports: "Loupe painted N ms after the pick was triggered" (the first pick apart, then the
# median, 90th percentile and maximum of the others; painted means handed to the
# compositor), "Magnifier shown" likewise, VmRSS idle / highest during a pick / 2 s after
# the last pick (and what of the growth is anonymous and shared memory), CPU per pointer
# move during a pick. Needs sway, swaybg, wtype (scripts/deps.sh test).

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
PICKS=${2:-20}
MOVES=${MOVES:-300}
POINTER=$(realpath "${POINTER:-build/dev/tests/wayland/daubly_wl_pointer}")
[ -x "$POINTER" ] || { echo "no virtual pointer at $POINTER (build daubly_wl_pointer)" >&2; exit 1; }
cd "$(dirname "$0")/.."
source bench/lib.sh

WORK=$(mktemp -d "${TMPDIR:-/tmp}/pick-latency-wl.XXXXXX")
chmod 755 "$WORK"
pids=()
trap 'stop_all; [ -n "${LOGS:-}" ] && cp "$WORK/daubly.log" "$LOGS/pick-latency-wayland.log"; rm -rf "$WORK"' EXIT
die() {
    echo "pick_latency_wayland: $*" >&2
    [ -f "$WORK/daubly.log" ] && tail -n 20 "$WORK/daubly.log" >&2
    exit 1
}

start_session wayland-session.sh sway.err DAUBLY_WAYLAND_LAYOUT 30 sway '3840x2160:#336699'
chown "$DAUBLY_WAYLAND_USER:" "$WORK"

start_input "$POINTER" $DAUBLY_WAYLAND_LAYOUT
input move 1920 1080

mkdir -p "$WORK/config/daubly" "$WORK/runtime-daubly"
echo '{"hasCompletedOnboarding": true}' >"$WORK/config/daubly/defaults.json"
chown -R "$DAUBLY_WAYLAND_USER:" "$WORK"
run() {
    "${as_user[@]}" env QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$WORK/config" \
        DAUBLY_LOG_TO_STDERR=1 DBUS_SESSION_BUS_ADDRESS=unix:path="$WORK/no-bus" \
        ${CAPTURE:+DAUBLY_CAPTURE=$CAPTURE} "$@"
}
run "$DAUBLY" >"$WORK/daubly.log" 2>&1 &
pids+=($!)
until_true 15 grep -q "started" "$WORK/daubly.log" || die "daubly did not start"
pid=$(pgrep -n -f "^$DAUBLY\$") || die "no daubly process"
sleep 3
rss_idle=$(rss_kb "$pid")
held_idle=$(held_kb "$pid")

rss_peak=0
for ((i = 0; i <= PICKS; i++)); do
    n=$(count "Loupe painted")
    c=$(count "Color picker cancelled")
    run "$DAUBLY" --pick >/dev/null 2>&1
    until_true 10 grew "Loupe painted" "$n" || die "pick $i: no loupe"
    rss=$(rss_kb "$pid")
    ((rss > rss_peak)) && rss_peak=$rss
    run wtype -s 300 -k Escape
    until_true 10 grew "Color picker cancelled" "$c" || die "pick $i: not cancelled"
    sleep 0.3
done
sleep 2
rss_after=$(rss_kb "$pid")
held_after=$(held_kb "$pid")
[ -n "${SMAPS:-}" ] && cp "/proc/$pid/smaps" "$SMAPS"

# Pointer moves during one more pick.
n=$(count "Loupe painted")
c=$(count "Color picker cancelled")
run "$DAUBLY" --pick >/dev/null 2>&1
until_true 10 grew "Loupe painted" "$n" || die "move pick: no loupe"
ticks0=$(cpu_ticks "$pid")
for ((i = 0; i < MOVES; i++)); do
    input move $((1200 + (i * 3) % 1400)) $((700 + (i * 7) % 700))
done
ticks1=$(cpu_ticks "$pid")
run wtype -s 300 -k Escape
until_true 10 grew "Color picker cancelled" "$c" || die "move pick: not cancelled"

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)  daubly: $DAUBLY  capture: $(sed -n 's/.*Screen capture: //p' "$WORK/daubly.log" | head -n1)"
print_latencies ""
printf 'rss idle %d MB, during %d MB, after %d MB (%+d kB, anonymous and shared %+d kB)  move %.2f ms CPU (mean of %d)\n' \
    $((rss_idle / 1024)) $((rss_peak / 1024)) $((rss_after / 1024)) $((rss_after - rss_idle)) \
    $((held_after - held_idle)) "$(awk -v t=$((ticks1 - ticks0)) -v m="$MOVES" 'BEGIN { print t * 10 / m }')" "$MOVES"
