#!/usr/bin/env bash
# Start-up of the real program with a huge settings file: 3.5 million history entries
# (about 49 MB) beside the usual settings. Reports the time from the start until
# "Daubly ... started" is logged and the CPU time spent by then, the peak resident
# memory (VmHWM) then, and the size of the settings file before and after.
#
#   cmake --build --preset release --target daubly
#   bench/huge_settings.sh [path/to/daubly] [entries]   (default build/release/daubly, 3500000)
# Needs Xvfb, openbox and trayer (scripts/deps.sh run).

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
ENTRIES=${2:-3500000}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/huge-settings.XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT

export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime DAUBLY_LOG_TO_STDERR=1
mkdir -p "$XDG_CONFIG_HOME/daubly" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
settings=$XDG_CONFIG_HOME/daubly/defaults.json
awk -v n="$ENTRIES" 'BEGIN {
    printf "{\"copyFormat\": \"hex\", \"hasCompletedOnboarding\": true, \"recentColors\": [";
    for (i = 0; i < n; i++) printf "%s[0.%d,0.5,0.25]", (i ? "," : ""), i % 1000;
    print "]}" }' >"$settings"
before=$(stat -c %s "$settings")

source "$(dirname "$0")/../scripts/virtual-display.sh"
start_virtual_display 1280x800
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; stop_virtual_display; rm -rf "$WORK"' EXIT

start=$(date +%s%N)
"$DAUBLY" >"$WORK/daubly.log" 2>&1 &
pid=$!
pids+=("$pid")
until grep -q 'Daubly .* started' "$WORK/daubly.log"; do
    kill -0 "$pid" 2>/dev/null || { cat "$WORK/daubly.log" >&2; exit 1; }
    sleep 0.01
done
elapsed=$((($(date +%s%N) - start) / 1000000))
peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
# CPU time (user + system, in 1/100 s): steadier than the wall time on a busy machine.
cpu=$(awk '{ print ($14 + $15) * 10 }' "/proc/$pid/stat")
after=$(stat -c %s "$settings")
echo "entries $ENTRIES: file $before bytes; started in $elapsed ms ($cpu ms of CPU);" \
    "peak $((peak / 1024)) MB;" \
    "file after start $after bytes"
