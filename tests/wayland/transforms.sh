#!/usr/bin/env bash
# Outputs turned and flipped: the frozen frame reads the way the user sees the output, so
# a pick copies the pixel under the pointer and the arrow keys move the way they point.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# Both outputs show the pixels pattern upright: (x, y) is (x mod 256, y mod 256, 0x80)
# from each output's top-left corner as seen.
wl_start "480x640/90:$(scene_png pixels 480x640)" "640x480/flipped-270:$(scene_png pixels 640x480)"
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly

wl_pick 2
wl_move 300 500
wl_click left
expect_copied "$(pixels_hex 300 500)"

wl_pick 2
wl_move $((480 + 600)) 100
wl_click left
expect_copied "$(pixels_hex 600 100)"

wl_pick 2
wl_move 300 500
wl_keys Right Down Down Return
expect_copied "$(pixels_hex 301 502)"

echo "PASS: wayland transforms"
