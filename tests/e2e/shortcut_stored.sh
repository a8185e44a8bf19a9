#!/usr/bin/env bash
# A shortcut written into the settings file by hand is honoured at the next start
# (Alt+Super+C picks, plain Alt+C does not); a malformed one reads as no shortcut, leaves
# the file as it was, and daubly keeps running without a hot key.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"

settings=$XDG_CONFIG_HOME/daubly/defaults.json

quit_through_menu() {
    open_menu
    click_last_menu_item
    eventually 5 "daubly quits" daubly_exits
    wait "$DAUBLY_PID" || fail "daubly exited with $?"
    DAUBLY_PID=
}

shortcut_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex",
 "KeyboardShortcuts_activatePicker": "{\"carbonKeyCode\":8,\"carbonModifiers\":2304}"}'
start_daubly
eventually 5 "the start is logged" log_has "Daubly 1.0 (1) started"
xdotool key alt+c
stays_idle 0 "plain Alt+C picked although the stored shortcut is Alt+Super+C"
xdotool key super+alt+c
wait_for_pick 1
xdotool key Escape
eventually 5 "the overlay goes" no_overlay
quit_through_menu

# Malformed: no hot key at all, so another client can take Alt+C, and the file's bytes
# stay the same through a whole run.
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex",
 "KeyboardShortcuts_activatePicker": "{not json"}'
before=$(sha256sum <"$settings")
: >"$E2E_DIR/daubly.log"
start_daubly
eventually 5 "the start is logged" log_has "Daubly 1.0 (1) started"
for keys in alt+c super+alt+c; do
    xdotool key "$keys"
    stays_idle 0 "$keys picked with a malformed stored shortcut"
done
start_grabber || fail "daubly holds Alt+C although the stored shortcut is malformed"
stop_grabber
! log_has "global shortcut" || fail "a registration was attempted: $(grep -F 'global shortcut' "$E2E_DIR/daubly.log")"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
quit_through_menu
[ "$(sha256sum <"$settings")" = "$before" ] || fail "the settings file changed: $(cat "$settings")"
echo "PASS: shortcut_stored"
