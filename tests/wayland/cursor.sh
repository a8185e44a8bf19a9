#!/usr/bin/env bash
# Picks as a user makes them, with the cursor drawn into the outputs' pixels (wlroots'
# software cursor): the pointer rests on the target before the pick starts, through a
# sway binding or daubly --pick, and a click or Return copies the screen's colour under
# it, never the arrow's.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# HEADLESS-1: device pixel (x, y) is (x mod 256, y mod 256, 0x80); HEADLESS-2: #336699.
WL_CURSOR=visible wl_start "640x480:$(scene_png pixels 640x480)" "160x120:#336699"

# OKLCH from the solid output, the pointer resting there when daubly --pick runs.
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly
wl_move 700 60
wl_pick 2
wl_click left
expect_copied "oklch(49.93% 0.099 250.43)"
quit_daubly

# HEX, pixel for pixel, through Super+P and daubly --pick; copied with Return, keypad
# Enter or a click, the pointer never moving during the pick.
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
wl_bind_pick p
pick_by_binding() {
    wl_chord logo p
    eventually 10 "the binding starts a pick" overlays_shown 2
}
for pick in "pick_by_binding:wl_keys Return:300 200" "wl_pick 2:wl_keys KP_Enter:123 321" \
    "pick_by_binding:wl_click left:17 450" "wl_pick 2:wl_click left:639 0"; do
    IFS=: read -r start copy at <<<"$pick"
    wl_move $at
    $start
    $copy
    expect_copied "$(pixels_hex $at)"
done

# The arrow keys still move from the resting pointer.
wl_move 300 200
wl_pick 2
wl_keys Right Down Down Return
expect_copied "$(pixels_hex 301 202)"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: wayland cursor"
