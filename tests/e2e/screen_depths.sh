#!/usr/bin/env bash
# A pick on a screen of DAUBLY_DEPTH bits. 30 (10 bits a channel) and 16 (565): the
# pointer rests on the root window's colour when Alt+C is pressed and Return copies the
# pixel's own HEX, read at the screen's precision (rgb:4000/8000/c000 keeps 10-bit
# (256, 512, 768), #4080BF, where an 8-bit reading would give #4080C0). 15 (555), which
# Daubly cannot read: the tray tells the user why.
source "$(dirname "$0")/lib.sh"
depth=${DAUBLY_DEPTH:?set by ctest}
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'

# The tray's message: a visible daubly window wider than the icon, smaller than an overlay.
message_windows() {
    local w n=0
    for w in $(xdotool search --onlyvisible --class '^daubly$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        ((WIDTH > 100 && HEIGHT < 200)) && n=$((n + 1))
    done
    echo "$n"
}

case $depth in
30 | 16)
    e2e_start "1280x800x$depth"
    xsetroot -solid 'rgb:4000/8000/c000'
    start_daubly
    expected=$([ "$depth" = 30 ] && echo '#4080BF' || echo '#4282BD')
    xdotool mousemove 640 400 key alt+c
    eventually 10 "the overlay appears" overlay_shown
    xdotool key Return
    expect_copied "$expected"
    ;;
15)
    e2e_start 1280x800x15
    start_daubly
    xdotool mousemove 640 400 key alt+c
    eventually 10 "the failure is logged" log_has "Unsupported screen format: depth 15"
    eventually 5 "the tray tells why" [ "$(message_windows)" = 1 ]
    ;;
*) fail "no case for depth $depth" ;;
esac
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: screen depth $depth"
