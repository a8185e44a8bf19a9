#!/usr/bin/env bash
# Picks on a headless GNOME Shell through the screen cast portal, as a user makes them:
# the pointer rests on the target when `daubly --pick` runs (GNOME binds no shortcut for
# us), the monitor chooser is answered once and remembered across a restart, the frame
# holds the screen and never the cursor, and a keyboard-only pick needs no pointer motion.
source "$(dirname "$0")/gnome_lib.sh"

# Device pixel (x, y) is (x mod 256, y mod 256, 0x80), with a #336699 patch at
# (100, 400)-(199, 499); the top bar covers the first rows.
scene=$(scene_png pixels 1280x720)
convert "$scene" -fill '#336699' -draw 'rectangle 100,400 199,499' "$scene" ||
    fail "cannot draw the patch"
gn_start "1280x720:$scene"

# A kept monitor choice the portal cannot read is dropped: the chooser shows instead.
write_defaults '{"hasCompletedOnboarding": true, "didRequestScreenCapture": true, "copyFormat": "hex",
    "screenCastRestoreToken": "not-a-token"}'
start_gn_daubly
log_has "Screen capture: the ScreenCast portal" || fail "daubly does not capture through the screen cast"

# The first pick asks which monitor to share.
gn_move 300 200
as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
gn_chooser share
log_has "The screen cast refused the kept monitor choice" || fail "the unreadable choice was not dropped"
eventually 20 "the overlay shows after the chooser" overlay_shown
eventually 10 "the loupe shows after the chooser" log_count_above "Loupe painted" 0
gn_click_copy
gn_expect_copied "$(pixels_hex 300 200)"
grep -q '"screenCastRestoreToken": *"[^"]' "$XDG_CONFIG_HOME/daubly/defaults.json" ||
    fail "no restore token kept: $(cat "$XDG_CONFIG_HOME/daubly/defaults.json")"

# The pointer rests on the target before the pick and only clicks: the copied colour is
# the screen's there, not the cursor's (its tip is on that very pixel).
for at in "640 360" "1100 650" "7 45"; do
    gn_move $at
    gn_pick
    gn_click_copy
    gn_expect_copied "$(pixels_hex $at)"
done

# Keyboard only: no pointer motion once the pick starts; the loupe is there at once
# where the pointer rests (the last pick's place) and the arrows move it from there.
gn_pick
gn_keys Right Right Down Return
gn_expect_copied "$(pixels_hex 9 46)"

# A restart keeps the monitor choice: no chooser, the loupe comes by itself. A fresh
# daubly has never seen the pointer: with the pointer resting in the middle of the
# monitor the keys start there.
quit_daubly
start_gn_daubly
gn_move 640 360
gn_pick
gn_keys Left Up Up KP_Enter
gn_expect_copied "$(pixels_hex 639 358)"

# OKLCH, on the patch.
quit_daubly
sed -i 's/"copyFormat": *"hex"/"copyFormat": "oklch"/' "$XDG_CONFIG_HOME/daubly/defaults.json"
start_gn_daubly
gn_move 150 450
gn_pick
gn_click_copy
gn_expect_copied "oklch(49.93% 0.099 250.43)"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: gnome pick"
