#!/usr/bin/env bash
# Runs Daubly. On a desktop it starts in the tray. With no display, it starts a virtual
# one and runs the demonstration pick there: the copied text is printed and a
# screenshot of the loupe is saved beside the build.
set -euo pipefail
cd "$(dirname "$0")/.."
# A first run installs and builds for minutes: say what is happening, step by step.
echo "daubly: checking the Debian packages it needs…" >&2
scripts/deps.sh run
echo "daubly: building (build/dev; the first build takes a few minutes)…" >&2
scripts/build.sh dev daubly daubly_scene >&2
daubly=$PWD/build/dev/daubly

# A Wayland session: Daubly runs as a Wayland client there (Qt's own choice).
wayland_socket=${WAYLAND_DISPLAY:-}
[[ $wayland_socket == /* ]] || wayland_socket=${XDG_RUNTIME_DIR:-/nonexistent}/$wayland_socket
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ -S "$wayland_socket" ]; then
    exec "$daubly" "$@"
fi
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$daubly" "$@"
fi

echo "No display found: starting Daubly on a virtual display for a demonstration."
exec bash scripts/demo-pick.sh "$daubly"
