#!/usr/bin/env bash
# Runs a command against an Xvfb of its own (no window manager), then stops the server.
#   scripts/with-xvfb.sh WIDTHxHEIGHTxDEPTH command [args...]
# DEPTH 16, 24 or 30 gives that root visual (30: 10 bits a channel).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 WIDTHxHEIGHTxDEPTH command [args...]" >&2; exit 2; }
screen=$1
shift
source "$(dirname "$0")/virtual-display.sh"
start_x_server Xvfb -screen 0 "$screen" -nolisten tcp -noreset
server=$X_SERVER_PID
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
"$@"
