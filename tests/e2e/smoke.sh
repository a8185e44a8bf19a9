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
echo "PASS: smoke"
