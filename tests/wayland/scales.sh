#!/usr/bin/env bash
# Two outputs, the second at scale 2: a pick copies the device pixel under the pointer
# on each, and an arrow moves one device pixel, not one point, on the scaled one.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# Both show the pixels pattern in their own device pixels: (x mod 256, y mod 256, 0x80).
# HEADLESS-2 is 400 x 300 pixels, 200 x 150 points, at 640,0 in the layout.
wl_start "640x480:$(scene_png pixels 640x480)" "400x300@2:$(scene_png pixels 400x300)"

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
pick_at() { # X Y in layout points, then KEYS... to press before copying
    local x=$1 y=$2
    shift 2
    wl_pick 2
    wl_move "$x" "$y"
    if (($#)); then wl_keys "$@" Return; else wl_click left; fi
}

# Each overlay fills its own output.
wl_pick 2
overlays=$(wl_windows | awk '$7 == 1 { print $3, $4, $5, $6, $8 }' | sort)
[ "$overlays" = "0 0 640 480 HEADLESS-1
640 0 200 150 HEADLESS-2" ] || fail "the overlays are at
$overlays"
wl_keys Escape
eventually 5 "Escape closes the overlays" overlay_gone

# Scale 1: point = pixel.
pick_at 100 50
expect_copied "$(pixels_hex 100 50)"
# Scale 2: point (60, 20) of the output is device pixel (120, 40).
pick_at 700 20
expect_copied "$(pixels_hex 120 40)"
pick_at 839 149
expect_copied "$(pixels_hex 398 298)"
# An arrow moves one device pixel there.
pick_at 700 20 Right Down Down
expect_copied "$(pixels_hex 121 42)"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: wayland scales"
