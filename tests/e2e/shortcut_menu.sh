#!/usr/bin/env bash
# Alt+C while the tray menu is open: the menu closes and a pick runs, whether the keys
# come as one quick chord or Alt a moment before C. The pick's capture does not show the
# menu: the pixel where it was copies as the scene's.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"

shortcut_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
start_pixel_scene 1280x772+0+28

picks=0
for typing in chord held-alt; do
    open_menu
    eval "$(xdotool getwindowgeometry --shell "$(menu_window)")"
    inside_x=$((X + WIDTH / 2)) inside_y=$((Y + HEIGHT / 2))
    case $typing in
    chord) xdotool key alt+c ;;
    held-alt)
        xdotool keydown alt
        sleep 0.15
        xdotool key c keyup alt
        ;;
    esac
    picks=$((picks + 1))
    eventually 5 "the menu closes ($typing)" no_menu
    wait_for_pick "$picks"
    xdotool mousemove "$inside_x" "$inside_y"
    expected=$(scene_hex "$inside_x" "$inside_y")
    xdotool key Return
    eventually 5 "the copy is logged ($typing)" log_count_is "Copied color as hex" "$picks"
    clipboard_is "$expected" || fail "copied '$(clipboard)' where the menu was, expected $expected ($typing)"
    eventually 5 "the overlay goes ($typing)" no_overlay
done
log_count_is "Color picker started" 2 || fail "expected two picks"
echo "PASS: shortcut_menu"
