#!/usr/bin/env bash
# The demonstration run on a machine without a display: a virtual display with a
# colourful scene, daubly in its tray, one pick driven through the tray menu, the
# mouse and a click; prints the copied text and saves a screenshot of the loupe.
# Usage: scripts/demo-pick.sh path/to/daubly
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
daubly=${1:?usage: $0 path/to/daubly}
shot=${DAUBLY_DEMO_SCREENSHOT:-$(dirname "$daubly")/demo-loupe.png}
work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-demo.XXXXXX")
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime DAUBLY_LOG_TO_STDERR=1
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The demonstration stands for a user who has seen the introduction already.
mkdir -p "$XDG_CONFIG_HOME/daubly"
echo '{"hasCompletedOnboarding": true}' >"$XDG_CONFIG_HOME/daubly/defaults.json"

source "$root/scripts/virtual-display.sh"
start_virtual_display 1280x800
echo "Virtual display $DISPLAY (Xvfb 1280x800, openbox, trayer)."

# A colourful scene under the tray.
scene=${DAUBLY_SCENE:-$(dirname "$daubly")/tests/e2e/daubly_scene}
"$scene" --pattern demo --geometry 1280x772+0+28 &
scene_pid=$!

"$daubly" 2>"$work/daubly.log" &
pid=$!
trap 'kill $pid $scene_pid 2>/dev/null || true; stop_virtual_display; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q "Tray icon shown" "$work/daubly.log" && break; sleep 0.1; done
echo "Daubly is running in the virtual display's tray."

icon=$(xdotool search --onlyvisible --class daubly | head -n1)
xdotool mousemove --window "$icon" 8 8 click 1
sleep 0.5
import -window root "$shot"
echo "The picker itself is not part of this build yet; a screenshot of the tray menu is at $shot"
