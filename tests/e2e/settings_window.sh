#!/usr/bin/env bash
# The Settings window through the accessibility tree, as a screen reader reads it:
# opened from the tray menu and by a second start (the same one window), every row
# read, the copy format chosen with its preview and its stored value, launch at login
# turned on and off with the autostart entry, and a closed window opened anew.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

e2e_start
a11y_start
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly

settings_windows() { xdotool search --onlyvisible --name '^Daubly Settings$' 2>/dev/null | wc -l; }
settings_window_count_is() { [ "$(settings_windows)" = "$1" ]; }
stored_format_is() {
    grep -q "\"copyFormat\": \"$1\"" "$XDG_CONFIG_HOME/daubly/defaults.json" 2>/dev/null
}
autostart=$XDG_CONFIG_HOME/autostart/app.daubly.Daubly.desktop
autostart_present() { [ -f "$autostart" ]; }
autostart_absent() { [ ! -e "$autostart" ]; }

# "Settings…" in the tray menu: the last item but one (Up from the top wraps round).
open_menu
xdotool key Up Up Return
a11y wait frame "Daubly Settings" || fail "Settings… did not open the window"
eventually 5 "the Settings window is active" \
    a11y --timeout 0 expect frame "Daubly Settings" state active

# Every section and row, by the names a screen reader announces.
for heading in Settings "Screen Recording" Picker General; do
    a11y --timeout 2 wait heading "$heading" || fail "no heading '$heading'"
done
for label in "Daubly 1.0 (1)" "Screen Recording is allowed" \
    "Daubly can read the colors on your screen." \
    "Nothing is recorded or saved. The screen is only read while the magnifier is open." \
    "Pick Color shortcut" "Starts the magnifier from any app." "Copy format" \
    "Some apps use Alt+C themselves. Choose another shortcut if one of yours does." \
    "Open at login" "Keeps Daubly ready in the tray." "Automatically check for updates" \
    "Looks for a new version of Daubly once a day." "Welcome screen" \
    "Go through the introduction again."; do
    a11y --timeout 2 wait label "$label" || fail "no row text '$label'"
done
a11y_expect text "Pick Color shortcut" text "Alt+C"
a11y --timeout 2 wait "push button" "Reset to Alt C" || fail "no reset button"
a11y --timeout 2 wait "push button" "Show…" || fail "no Show… button"
a11y_expect "check box" "Open at login" nostate checked
a11y_expect label "/Copies .*/" name "Copies oklch(68.04% 0.210 33.69)"
# Granted: the permission's card has no button.
if a11y --timeout 0 wait "push button" "Allow…" 2>/dev/null; then fail "Allow… is shown"; fi

# The copy format: chosen from the pop-up, previewed at once, stored.
a11y_press "combo box" "Copy format" ShowMenu
a11y select "combo box" "Copy format" HEX || fail "cannot choose HEX"
a11y_expect label "/Copies .*/" name "Copies #FF5733"
eventually 5 "copyFormat is stored as hex" stored_format_is hex

# Open at login: the switch writes and removes our autostart entry.
a11y_press "check box" "Open at login"
eventually 5 "the autostart entry is written" autostart_present
grep -qx "Exec=\"$(realpath "$DAUBLY")\"" "$autostart" || fail "the entry does not start daubly: $(cat "$autostart")"
a11y_expect "check box" "Open at login" state checked
a11y_press "check box" "Open at login"
eventually 5 "the autostart entry is removed" autostart_absent
a11y_expect "check box" "Open at login" nostate checked

# A second start brings the same window forward instead of another.
"$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1 || fail "the second start failed"
eventually 5 "one Settings window" settings_window_count_is 1

# Closed, it is gone from the tree; opened again, it shows the stored choices.
# Closed as a user closes it: openbox's Alt+F4 asks the window to close.
window=$(xdotool search --onlyvisible --name '^Daubly Settings$' | head -n1)
xdotool windowactivate --sync "$window" key alt+F4
a11y gone frame "Daubly Settings" || fail "the closed window is still there"
"$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1
a11y wait frame "Daubly Settings" || fail "the window did not open again"
a11y_expect label "/Copies .*/" name "Copies #FF5733"
log_has "Settings window not found" && fail "the opener did not find the window"
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: settings_window"
