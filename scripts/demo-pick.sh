#!/usr/bin/env bash
# The demonstration on a machine without a display: a virtual display with a colourful
# scene, daubly in its tray, and one real pick driven through the tray menu, the mouse
# and a click. Prints the copied text and saves a screenshot of the loupe.
# Usage: scripts/demo-pick.sh path/to/daubly
root=$(cd "$(dirname "$0")/.." && pwd)
export DAUBLY_SCENE=${DAUBLY_SCENE:-$(dirname "$1")/tests/e2e/daubly_scene}
shot=${DAUBLY_DEMO_SCREENSHOT:-$(dirname "$1")/demo-loupe.png}
# The same helpers as the end-to-end tests: a virtual display, daubly, xdotool.
source "$root/tests/e2e/lib.sh"

e2e_start 1280x800
echo "Virtual display $DISPLAY: Xvfb 1280x800 with openbox and trayer."
start_scene --pattern demo --geometry 1280x772+0+28
# The demonstration stands for a user who has seen the introduction.
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly
echo "Daubly is running in the virtual display's tray."

echo "Choosing \"Pick Color\" in the tray menu…"
pick_from_menu
xdotool mousemove 380 420 sleep 0.2 mousemove 301 351
sleep 0.4
import -window root "$shot"
echo "Screenshot of the loupe: $shot"
xdotool click 1
clipboard_filled() { [ -n "$(clipboard)" ]; }
eventually 5 "the colour is copied" clipboard_filled
echo "Copied: $(clipboard)"
quit_daubly
