#!/usr/bin/env bash
# Two monitors side by side, the second at scale 2: a pick on each copies that
# monitor's colour, an arrow on the 2x monitor moves one device pixel, and the menu
# lists the colours newest first; choosing the third copies it again and moves it up.
source "$(dirname "$0")/lib.sh"

e2e_start_two_monitors 1280x800 1280x800
# Native pixels: DUMMY0 at x 0..1279, DUMMY1 at x 1280..2559.
start_scene --pattern 'solid:#C0392B' --geometry 1280x772+0+28
start_scene --pattern pixels --geometry 1280x800+1280+0
start_scene --pattern 'solid:#16A085' --geometry 200x200+2200+500

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
QT_SCREEN_SCALE_FACTORS="DUMMY0=1;DUMMY1=2" start_daubly

pick_from_menu
xdotool mousemove 400 300 click 1
expect_copied "#C0392B"

pick_from_menu
xdotool mousemove 2300 600 click 1
expect_copied "#16A085"

# On the 2x monitor one arrow press is one device pixel, half a point.
pick_from_menu
# A move reaches the pick only once that monitor's overlay is up.
eventually 5 "both overlays appear" overlays_shown 2
xdotool mousemove $((1280 + 400)) 300
xdotool key Right Return
expect_copied "#912C80"

# The menu now reads #912C80, #16A085, #C0392B. Keyboard rows: "Pick Color" first,
# then the colours (the heading is not selectable).
choose_row() { # 1-based colour row
    open_menu
    xdotool key --delay 60 $(printf 'Down %.0s' $(seq $(($1 + 1)))) Return
    eventually 5 "the menu closes" menu_gone
}
set_clipboard "untouched"
choose_row 3
eventually 5 "the third row copies its colour" clipboard_is "#C0392B"
set_clipboard "untouched"
choose_row 1
eventually 5 "the chosen colour moved to the top" clipboard_is "#C0392B"
set_clipboard "untouched"
choose_row 3
eventually 5 "the others kept their order" clipboard_is "#16A085"
echo "PASS: two monitors"
