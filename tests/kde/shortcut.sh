#!/usr/bin/env bash
# The pick shortcut on Plasma: an action of kglobalaccel's component app.daubly.Daubly
# with the stored shortcut as its default, read back over the bus; keys changed in
# Plasma's settings are followed and kept, until another shortcut is stored; keys
# another component holds are a failed registration, logged.
source "$(dirname "$0")/kde_lib.sh"

# kglobalaccel's numbers: Qt key | Qt modifiers.
alt_c=134217795       # Alt+C
meta_p=268435536      # Meta+P
ctrl_shift_k=100663371 # Ctrl+Shift+K
ctrl_alt_x=201326680  # Ctrl+Alt+X

kde_start 640x480
start_scene --pattern solid:#336699
keys_are() { [ "$(kglobalaccel "$1" "$PICK_ACTION" 2>&1)" = "([$2],)" ]; }
# The default as a key sequence (the int form answers the current keys in Plasma 5.27).
default_is() { [ "$(kglobalaccel defaultShortcutKeys "$PICK_ACTION" 2>&1)" = "([([$1, 0, 0, 0],)],)" ]; }
stored() { # the settings with the pick shortcut stored as KEY-CODE CARBON-MODIFIERS
    write_defaults "{\"hasCompletedOnboarding\": true, \"copyFormat\": \"hex\",
        \"KeyboardShortcuts_activatePicker\": \"{\\\"carbonKeyCode\\\":$1,\\\"carbonModifiers\\\":$2}\"}"
}
picks_by() { # MODIFIER KEY: the keys start a pick, whose click copies the scene
    local before
    before=$(loupes)
    set_clipboard "before"
    wl_chord "$1" "$2"
    eventually 10 "$1+$2 shows the loupe" log_count_above "Loupe painted" "$before"
    wl_move 200 200
    wl_click left
    expect_copied "#336699"
}

# Alt+C, the default: Plasma lists it as the action's keys and its default.
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
eventually 10 "kglobalaccel binds Alt+C" keys_are shortcut "$alt_c"
default_is "$alt_c" || fail "the default is $(kglobalaccel defaultShortcutKeys "$PICK_ACTION")"
kglobalaccel allMainComponents | grep -qF "'app.daubly.Daubly', 'Daubly'" ||
    fail "Plasma does not list Daubly: $(kglobalaccel allMainComponents)"
picks_by alt c

# Plasma's settings give the action other keys: they work at once, and after a restart.
kglobalaccel setForeignShortcut "$PICK_ACTION" "[$meta_p]" >/dev/null || fail "setForeignShortcut failed"
eventually 5 "daubly hears of the new keys" log_has "to Super+P"
picks_by logo p
quit_daubly
start_daubly
eventually 10 "the keys chosen in Plasma stay" log_count_above "to Super+P" 1
keys_are shortcut "$meta_p" || fail "after a restart the keys are $(kglobalaccel shortcut "$PICK_ACTION")"
picks_by logo p
quit_daubly

# A shortcut recorded in Daubly since wins over Plasma's, and becomes the default.
stored 40 4608 # Ctrl+Shift+K
start_daubly
eventually 10 "kglobalaccel binds Ctrl+Shift+K" keys_are shortcut "$ctrl_shift_k"
default_is "$ctrl_shift_k" || fail "the default is $(kglobalaccel defaultShortcutKeys "$PICK_ACTION")"
quit_daubly

# Keys another component holds: Plasma gives them to no one else.
other="['org.example.Other', 'hold', 'Other', 'hold']"
kglobalaccel doRegister "$other" >/dev/null || fail "no other component"
kglobalaccel setShortcut "$other" "[$ctrl_alt_x]" 6 >/dev/null || fail "the other component got no keys"
stored 7 6144 # Ctrl+Alt+X
start_daubly
eventually 10 "the refusal is logged" log_has "Could not register the global shortcut Ctrl+Alt+X"
[ "$(kglobalaccel shortcut "$other")" = "([$ctrl_alt_x],)" ] || fail "the other component lost its keys"
# Still able to pick.
kde_pick
wl_move 100 100
wl_click left
expect_copied "#336699"
echo "PASS: kde shortcut"
