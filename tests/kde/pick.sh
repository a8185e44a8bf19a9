#!/usr/bin/env bash
# Picks on a headless KWin through KWin's own screenshot service: the pointer rests on
# the target before the pick starts, as a user's does, and the text copied is the
# screen's, never the cursor's; OKLCH and HEX, a pick by the shortcut, and one by the
# keyboard alone.
source "$(dirname "$0")/kde_lib.sh"

kde_start 640x480

# The default format is OKLCH; the pointer is on the target first.
write_defaults '{"hasCompletedOnboarding": true}'
start_scene --pattern solid:#336699
start_daubly
log_has "Screen capture: KWin's ScreenShot2" || fail "daubly does not capture through KWin"
wl_move 320 240
kde_pick
wl_click left
expect_copied "oklch(49.93% 0.099 250.43)"
quit_daubly

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_scene --pattern pixels
start_daubly

# Each pixel differs from its neighbours: the one under the resting pointer is copied.
for at in "300 200" "639 479" "5 400"; do
    wl_move $at
    kde_pick
    wl_click left
    expect_copied "$(pixels_hex $at)"
done

# The shortcut, pressed with the pointer resting on the target; then Plasma's Alt+C with
# the keyboard alone: the arrows move the selection, Return copies.
wl_move 123 45
before=$(loupes)
wl_chord alt c
eventually 10 "Alt+C shows the loupe" log_count_above "Loupe painted" "$before"
wl_click left
expect_copied "$(pixels_hex 123 45)"
wl_move 100 50
before=$(loupes)
wl_chord alt c
eventually 10 "Alt+C shows the loupe again" log_count_above "Loupe painted" "$before"
wl_keys Right Right Down Return
expect_copied "$(pixels_hex 102 51)"

log_has "refused ScreenShot2" && fail "KWin refused its screenshot service to the listed daubly"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: kde pick"
