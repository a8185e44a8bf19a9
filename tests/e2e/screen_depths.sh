#!/usr/bin/env bash
# A pick on a screen of DAUBLY_DEPTH bits. 30 (10 bits a channel) and 16 (565): the
# pointer rests on the root window's colour when Alt+C is pressed and Return copies the
# pixel's own HEX, read at the screen's precision (rgb:4000/8000/c000 keeps 10-bit
# (256, 512, 768), #4080BF, where an 8-bit reading would give #4080C0). 15 (555), which
# Daubly cannot read, with no tray to notify: a window tells the user why, one window
# however often they try.
source "$(dirname "$0")/lib.sh"
depth=${DAUBLY_DEPTH:?set by ctest}
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'

message_windows() { xdotool search --onlyvisible --name '^Daubly$' 2>/dev/null | wc -l; }

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
    start_x_server Xvfb -screen 0 1280x800x15 -nolisten tcp -noreset || fail "no virtual display"
    _vd_pids+=("$X_SERVER_PID")
    trap cleanup EXIT
    openbox >/dev/null 2>&1 &
    _vd_pids+=($!)
    "$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1 &
    DAUBLY_PID=$!
    eventually 10 "daubly has started" log_has "started"
    for attempt in 1 2; do
        xdotool key alt+c
        eventually 10 "the failure is logged" [ "$(log_count "Unsupported screen format: depth 15")" = "$attempt" ]
        eventually 5 "a window tells why" [ "$(message_windows)" = 1 ]
    done
    # The window is a working dialog: Return closes it.
    xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^Daubly$' | head -n1)"
    xdotool key Return
    eventually 5 "the message window closes" [ "$(message_windows)" = 0 ]
    ;;
*) fail "no case for depth $depth" ;;
esac
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: screen depth $depth"
