#!/usr/bin/env bash
# The pick shortcut recorded in the Settings window, driven through the accessibility
# tree: Ctrl+Shift+K recorded and picking from another application while Alt+C no
# longer does; reset to Alt+C; and Alt+C recorded while it is the registered shortcut,
# which reaches the field instead of starting a pick.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/shortcut_lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

shortcut_start
a11y_start
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
start_pixel_scene 500x300+700+450

stored_shortcut_is() {
    grep -qF "\"KeyboardShortcuts_activatePicker\": \"{\\\"carbonKeyCode\\\":$1,\\\"carbonModifiers\\\":$2}\"" \
        "$XDG_CONFIG_HOME/daubly/defaults.json" 2>/dev/null
}
settings_window() { xdotool search --onlyvisible --name '^Daubly Settings$' 2>/dev/null | head -n1; }
# Brings the Settings window forward (a second start) and starts recording in its field.
start_recording() {
    "$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1
    a11y wait frame "Daubly Settings" || fail "no Settings window"
    eventually 5 "the Settings window is active" active_window_is "$(settings_window)"
    a11y_press text "Pick Color shortcut" SetFocus
    a11y_expect text "Pick Color shortcut" state focused
}
pick_from_scene() {
    xdotool windowactivate --sync "$SCENE" mousemove 800 500
    xdotool key "$1"
}

start_recording
xdotool key ctrl+shift+k
a11y_expect text "Pick Color shortcut" text "Ctrl+Shift+K"
a11y_expect text "Pick Color shortcut" nostate focused
eventually 5 "Ctrl+Shift+K is stored" stored_shortcut_is 40 4608

# The new shortcut picks; the old one no longer does.
pick_from_scene ctrl+shift+k
wait_for_pick 1
xdotool key Return
eventually 5 "the copy lands" clipboard_is "$(scene_hex 800 500)"
eventually 5 "the overlay goes" no_overlay
pick_from_scene alt+c
stays_idle 1 "Alt+C still picks after recording Ctrl+Shift+K"
pick_from_scene ctrl+shift+k
wait_for_pick 2
xdotool key Escape
eventually 5 "the overlay goes" no_overlay

# Reset gives Alt+C back.
a11y_press "push button" "Reset to Alt C"
a11y_expect text "Pick Color shortcut" text "Alt+C"
eventually 5 "Alt+C is stored" stored_shortcut_is 8 2048

# Alt+C while it is registered: the field takes it and recording ends; no pick starts.
start_recording
xdotool key alt+c
a11y_expect text "Pick Color shortcut" nostate focused
a11y_expect text "Pick Color shortcut" text "Alt+C"
stays_idle 2 "recording Alt+C started a pick"
# ...and it picks again once recording is over.
pick_from_scene alt+c
wait_for_pick 3
xdotool key Escape
eventually 5 "the overlay goes" no_overlay
kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: settings_shortcut"
