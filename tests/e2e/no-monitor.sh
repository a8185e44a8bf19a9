#!/usr/bin/env bash
# The server's monitors go away while daubly runs (every output off, the framebuffer
# resized with xrandr --fb): RandR then lists no monitor and Qt makes up one screen. The
# pick captures the root window as the one monitor and copies the pixel under the mouse.
# Needs the headless Xorg of xtwo-monitors.sh (Xvfb refuses both changes).
source "$(dirname "$0")/lib.sh"

e2e_start_two_monitors 1280x800 1280x800
start_scene --pattern 'solid:#336699' --geometry 300x300+600+400
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly

xrandr --output DUMMY1 --off --output DUMMY0 --off --fb 1024x768 || fail "xrandr failed"
eventually 5 "RandR lists no monitor" [ "$(xrandr --listmonitors | head -n1)" = "Monitors: 0" ]
xdotool mousemove 700 500 key alt+c
eventually 10 "the loupe is shown" log_has "Magnifier shown"
xdotool click 1
eventually 5 "the copy is logged" log_has "Copied color as hex"
clipboard_is "#336699" || fail "copied '$(clipboard)'"
log_has "Screen capture" && fail "a capture failure was logged"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: no-monitor"
