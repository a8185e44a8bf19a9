#!/usr/bin/env bash
# Runs a command against a headless X server with two monitors side by side
# (scripts/two-monitor-display.sh), then stops the server. The second monitor is at
# scale 2 for Qt programs, so one run covers mixed scales.
#   scripts/with-two-monitors.sh LEFT RIGHT command [args...]
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 LEFT RIGHT command [args...]" >&2; exit 2; }
left=$1 right=$2
shift 2
out=$(mktemp "${TMPDIR:-/tmp}/daubly-two-monitors.XXXXXX")
"$(dirname "$0")/two-monitor-display.sh" "$left" "$right" >"$out" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 300); do
    [ -s "$out" ] && break
    kill -0 "$server" 2>/dev/null || { echo "$0: the two-monitor server did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$out" ] || { echo "$0: the two-monitor server did not start within 30 s" >&2; exit 1; }
DISPLAY=$(cat "$out") QT_SCREEN_SCALE_FACTORS="DUMMY0=1;DUMMY1=2" "$@"
