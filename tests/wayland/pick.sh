#!/usr/bin/env bash
# Picks on a headless sway with daubly as a native Wayland client: the copied text in
# OKLCH and HEX, the arrow keys, Return and keypad Enter, and the two ways to cancel.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# HEADLESS-1: device pixel (x, y) is (x mod 256, y mod 256, 0x80); HEADLESS-2, to its
# right: #336699.
wl_start "640x480:$(scene_png pixels 640x480)" "160x120:#336699"

# The default format is OKLCH.
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly
log_has "Platform backend: wayland" || fail "daubly does not use its Wayland backend"
wl_pick 2
wl_move 700 60
wl_click left
expect_copied "oklch(49.93% 0.099 250.43)"
eventually 5 "the copy is logged" log_has "Copied color as oklch"
quit_daubly

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly

# A click copies the pixel under the pointer.
wl_pick 2
wl_move 300 200
wl_click left
expect_copied "$(pixels_hex 300 200)"

# Arrow keys move one pixel each; Return and keypad Enter copy.
for keys in "Right Right Down Return:302 201" "Left Up Up KP_Enter:299 198"; do
    wl_pick 2
    wl_move 300 200
    wl_keys ${keys%:*}
    expect_copied "$(pixels_hex ${keys#*:})"
done

# At the left edge of the layout the left arrow changes nothing.
wl_pick 2
wl_move 0 400
wl_keys Left Left Return
expect_copied "$(pixels_hex 0 400)"

# Escape and a right click cancel and leave the clipboard alone.
set_clipboard "untouched"
for cancel in "wl_keys Escape" "wl_click right"; do
    cancelled=$(log_count "Color picker cancelled")
    wl_pick 2
    wl_move 500 300
    $cancel
    eventually 5 "$cancel closes the overlays" overlay_gone
    eventually 5 "$cancel is logged" log_count_above "Color picker cancelled" "$cancelled"
    clipboard_is "untouched" || fail "$cancel changed the clipboard to '$(clipboard)'"
done

# Still able to copy afterwards.
wl_pick 2
wl_move 10 20
wl_click left
expect_copied "$(pixels_hex 10 20)"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: wayland pick"
