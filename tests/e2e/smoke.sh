#!/usr/bin/env bash
# Starts the real daubly in a tray, checks that a second start adds nothing, and quits
# through "Quit Daubly".
source "$(dirname "$0")/lib.sh"

e2e_start
start_daubly
eventually 5 "the start is logged" log_has "Daubly 1.0 (1) started"
[ "$(tray_icon_count)" = 1 ] || fail "expected one tray icon"

# A second start tells the running one and exits without a second icon.
second=$(timeout 10 "$DAUBLY" 2>&1) || fail "the second start failed: $second"
[[ $second == *"already running"* ]] || fail "the second start said: $second"
# The second start has exited, so any icon of its own would be gone with it; the first
# answers still.
[ "$(tray_icon_count)" = 1 ] || fail "a second tray icon appeared"
kill -0 "$DAUBLY_PID" || fail "the first daubly is gone"

open_menu
click_last_menu_item
eventually 5 "daubly quits" daubly_exits
wait "$DAUBLY_PID"
status=$?
DAUBLY_PID=
[ "$status" = 0 ] || fail "daubly exited with $status"

# Forced onto X11 inside a Wayland session, daubly runs there but says once that it sees
# only XWayland. A plain X11 session gets no such line.
log_has "XWayland" && fail "an X11 session was taken for XWayland"
WAYLAND_DISPLAY=wayland-daubly-test QT_QPA_PLATFORM=xcb start_daubly
eventually 5 "the XWayland session is logged" log_has "Running on XWayland in a Wayland session"
log_has "Platform backend: x11" || fail "daubly left X11 though QT_QPA_PLATFORM=xcb"
[ "$(grep -c "Running on XWayland" "$E2E_DIR/daubly.log")" = 1 ] || fail "the XWayland line is not said once"
echo "PASS: smoke"
