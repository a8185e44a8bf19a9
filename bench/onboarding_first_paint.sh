#!/bin/bash
# First launch to the onboarding window on screen, on the real program under Xvfb with
# openbox, and the memory the window leaves behind once closed.
#
#   cmake --preset release -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
#   cmake --build --preset release --target daubly -j2
#   bench/onboarding_first_paint.sh [path/to/daubly] [launches]   (build/release/daubly, 10)
#
# Reports:
#   painted  median and range of "Welcome window painted N ms after the process started"
#            over the launches, each with an empty settings folder (the kernel's start
#            time has a 10 ms tick)
#   rss      VmRSS idle (onboarding completed: tray only), with the window open, and 2 s
#            after it was closed with Escape; "closed - idle" is what the window leaves
# Needs Xvfb, openbox, trayer, xdotool (scripts/deps.sh).

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
LAUNCHES=${2:-10}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/onboarding-paint.XXXXXX")
source "$(dirname "$0")/../scripts/virtual-display.sh"
PID=
finish() {
    if [ -n "$PID" ]; then kill "$PID" 2>/dev/null || true; fi
    stop_virtual_display
    rm -rf "$WORK"
}
trap finish EXIT

source "$(dirname "$0")/lib.sh"
die() {
    echo "onboarding_first_paint: $*" >&2
    [ -f "$WORK/daubly.log" ] && tail -n 20 "$WORK/daubly.log" >&2
    exit 1
}
logged() { grep -qF -- "$1" "$WORK/daubly.log"; }

# Each launch: fresh settings, nothing running.
launch() { # SETTINGS-JSON
    rm -rf "$WORK/config" "$WORK/runtime"
    mkdir -p "$WORK/config/daubly" "$WORK/runtime"
    chmod 700 "$WORK/runtime"
    [ -n "$1" ] && echo "$1" >"$WORK/config/daubly/defaults.json"
    : >"$WORK/daubly.log"
    XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime DAUBLY_LOG_TO_STDERR=1 \
        "$DAUBLY" >>"$WORK/daubly.log" 2>&1 &
    PID=$!
}
stop() {
    kill "$PID" 2>/dev/null || true
    wait "$PID" 2>/dev/null || true
    PID=
}

start_virtual_display 1920x1080 || die "no virtual display"

times=()
for ((i = 0; i < LAUNCHES; i++)); do
    launch ""
    until_true 20 logged "Welcome window painted" || die "the window was not painted"
    times+=("$(sed -n 's/.*Welcome window painted \([0-9]*\) ms.*/\1/p' "$WORK/daubly.log" | head -n1)")
    stop
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(echo "$sorted" | median)
echo "painted: median ${median} ms over ${LAUNCHES} launches (min $(echo "$sorted" | head -n1), max $(echo "$sorted" | tail -n1)): ${times[*]}"

launch '{"hasCompletedOnboarding": true}'
until_true 20 logged "Tray icon shown" || die "no tray icon"
sleep 2
idle=$(rss_kb "$PID")
stop

launch ""
until_true 20 logged "Welcome window painted" || die "the window was not painted"
sleep 1
open=$(rss_kb "$PID")
window=$(xdotool search --onlyvisible --name '^Welcome to Daubly$' | head -n1)
xdotool windowactivate --sync "$window" key Escape
until_true 10 grep -q '"hasCompletedOnboarding": true' "$WORK/config/daubly/defaults.json" ||
    die "Escape did not close the window"
sleep 2
closed=$(rss_kb "$PID")
stop
echo "rss: idle ${idle} kB, window open ${open} kB, closed ${closed} kB; closed - idle $(((closed - idle) / 1024)) MB ($((closed - idle)) kB)"
