#!/usr/bin/env bash
# A pick started while the copied one still fades: when the old overlay closes and gives
# the focus back, the new pick keeps it, and a click copies.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"

overlay_count() {
    local n=0 w
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        ((WIDTH == SCREEN_WIDTH && HEIGHT == SCREEN_HEIGHT)) && n=$((n + 1))
    done
    echo "$n"
}
overlays_are() { [ "$(overlay_count)" = "$1" ]; }

shortcut_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
start_pixel_scene 1000x600+100+100
xdotool mousemove 345 267

for round in 1 2 3; do
    xdotool key alt+c
    wait_for_pick $((2 * round - 1))
    xdotool click 1
    eventually 5 "pick $((2 * round - 1)) copies" log_count_is "Copied color as hex" $((2 * round - 1))
    # The next pick while the copied colour is still on screen.
    xdotool key alt+c
    wait_for_pick $((2 * round))
    eventually 5 "the copied pick's overlay closes" overlays_are 1
    # Giving the focus back took it from the new pick, which cancelled a moment later.
    sleep 0.6
    log_has "Color picker cancelled" && fail "the new pick was cancelled"
    xdotool mousemove 346 267 click 1
    eventually 5 "pick $((2 * round)) copies" log_count_is "Copied color as hex" $((2 * round))
    eventually 5 "the overlay goes" no_overlay
done
clipboard_is "$(scene_hex 346 267)" || fail "copied '$(clipboard)'"
echo "PASS: pick-during-fade"
