#!/usr/bin/env bash
# Alt+C from another application: the release starts the pick, Return copies the pixel
# under the mouse, and that application has the focus again afterwards. Alt+C during a
# pick cancels it without touching the clipboard.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"

shortcut_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
start_pixel_scene 1000x600+100+100
active_window_is "$SCENE" || fail "the scene window is not focused"
xdotool mousemove 345 267

# The press alone does nothing; the release starts the pick. Had the press started one,
# the release would have cancelled it and no copy could follow.
xdotool keydown alt+c
xdotool keyup alt+c
wait_for_pick 1
xdotool key Return
eventually 5 "the copy is logged" log_has "Copied color as hex"
log_count_is "Color picker started" 1 || fail "the key press started a pick"
clipboard_is "$(scene_hex 345 267)" || fail "copied '$(clipboard)', expected $(scene_hex 345 267)"
eventually 5 "the overlay goes" no_overlay
eventually 5 "the scene window is focused again" active_window_is "$SCENE"

# Alt+C while the overlay is showing cancels, and the clipboard keeps what it had.
set_clipboard kept
xdotool key alt+c
wait_for_pick 2
xdotool key alt+c
eventually 5 "the cancel is logged" log_has "Color picker cancelled"
eventually 5 "the overlay goes" no_overlay
clipboard_is kept || fail "the cancelled pick changed the clipboard to '$(clipboard)'"
eventually 5 "the scene window is focused again" active_window_is "$SCENE"
log_count_is "Color picker started" 2 || fail "a third pick started"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: shortcut_pick"
