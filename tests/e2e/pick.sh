#!/usr/bin/env bash
# Picks through the tray menu on one monitor: the copied text in OKLCH and HEX, the
# arrow keys, the mouse resetting them, and the two ways to cancel.
source "$(dirname "$0")/lib.sh"

e2e_start 1280x800
# Device pixel (x, y) of the screen below the tray is (x mod 256, (y - 28) mod 256, 0x80).
start_scene --pattern pixels --geometry 1280x772+0+28
start_scene --pattern 'solid:#336699' --geometry 200x200+1000+500
hex_at() { printf '#%02X%02X80' $(($1 % 256)) $((($2 - 28) % 256)); }

# The default format is OKLCH.
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly
pick_from_menu
xdotool mousemove 1100 600 click 1
expect_copied "oklch(49.93% 0.099 250.43)"
eventually 5 "the copy is logged" log_has "Copied color as oklch"
quit_daubly

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly

# A click copies the pixel under the mouse.
pick_from_menu
xdotool mousemove 300 200 click 1
expect_copied "$(hex_at 300 200)"

# Arrow keys move one pixel each; Return copies.
pick_from_menu
xdotool mousemove 300 200
xdotool key Right Right Down
xdotool key Return
expect_copied "$(hex_at 302 201)"

pick_from_menu
xdotool mousemove 300 200
xdotool key Left Up Up KP_Enter
expect_copied "$(hex_at 299 198)"

# A mouse move cancels the keyboard offset.
pick_from_menu
xdotool mousemove 300 200
xdotool key Right Right Right
xdotool mousemove 301 200
xdotool key Return
expect_copied "$(hex_at 301 200)"

# At the right edge the right arrow changes nothing.
pick_from_menu
xdotool mousemove 1279 400
xdotool key Right Right Return
expect_copied "$(hex_at 1279 400)"

# Other keys do nothing: the pick goes on and the arrow after the letter still counts.
pick_from_menu
xdotool mousemove 500 300 key a Right Return
expect_copied "$(hex_at 501 300)"

# Escape and a right click cancel and leave the clipboard alone.
set_clipboard "untouched"
for cancel in "key Escape" "click 3"; do
    cancelled=$(log_count "Color picker cancelled")
    pick_from_menu
    xdotool mousemove 500 300 $cancel
    eventually 5 "$cancel closes the overlay" overlay_gone
    eventually 5 "$cancel is logged" log_count_above "Color picker cancelled" "$cancelled"
    clipboard_is "untouched" || fail "$cancel changed the clipboard to '$(clipboard)'"
done

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: pick"
