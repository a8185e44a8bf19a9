#!/usr/bin/env bash
# Another client holds Alt+C when daubly starts: daubly logs the refusal and keeps
# running, and once the other client lets go it registers the shortcut and picks again.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"

shortcut_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_grabber || fail "the grabber could not take Alt+C"
start_daubly
refused="Could not register the global shortcut Alt+C: another application already uses this key combination"
eventually 5 "the refusal is logged" log_has "$refused"
xdotool key alt+c
stays_idle 0 "Alt+C picked although another client holds it"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"

stop_grabber
# Tried again every 5 s; one refusal line in all, however many retries failed.
eventually 10 "the shortcut is registered anew" log_has "Registered the global shortcut Alt+C"
log_count_is "$refused" 1 || fail "the refusal was logged $(log_count "$refused") times"
xdotool key alt+c
wait_for_pick 1
xdotool key Escape
eventually 5 "the overlay goes" no_overlay
# Now daubly holds it: the other client is refused in turn.
if start_grabber; then fail "the grabber took Alt+C from daubly"; fi
echo "PASS: shortcut_taken"
