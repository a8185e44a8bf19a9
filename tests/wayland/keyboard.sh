#!/usr/bin/env bash
# A pick from the keyboard alone on a seat without any pointer device: the compositor
# never says where a pointer is, so the loupe starts in the middle of the output, the
# arrow keys move it, and Return or keypad Enter copy.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# Device pixel (x, y) is (x mod 256, y mod 256, 0x80): the middle is (320, 240).
WL_POINTER=none wl_start "640x480:$(scene_png pixels 640x480)"
pointers=$(wl_msg -t get_inputs -r | grep -c '"type": "pointer"' || true)
[ "$pointers" = 0 ] || fail "the seat has $pointers pointer device(s)"

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
for keys in "Return:320 240" "Right Right Down KP_Enter:322 241" "Left Up Up Up Return:319 237"; do
    wl_pick 1
    wl_keys ${keys%:*}
    expect_copied "$(pixels_hex ${keys#*:})"
done

# Escape cancels, and the clipboard keeps what it held.
set_clipboard "untouched"
wl_pick 1
wl_keys Escape
eventually 5 "Escape closes the overlay" overlay_gone
clipboard_is "untouched" || fail "Escape changed the clipboard to '$(clipboard)'"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: wayland keyboard"
