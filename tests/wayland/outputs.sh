#!/usr/bin/env bash
# Outputs that change or come during a pick: the pick ends as cancelled, the clipboard
# keeps what it had, and the next pick works on the outputs there are. (sway 1.7 cannot
# switch a headless output off, so an output going away is not among them.)
source "$(dirname "$0")/../e2e/wayland_lib.sh"

wl_start "640x480:$(scene_png pixels 640x480)" "400x300:$(scene_png pixels 400x300)"
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'
start_daubly
set_clipboard "before"

cancelled() { log_count_above "Color picker cancelled" "$1"; }
# The pixel at layout point (X, Y) as the compositor shows it, RRGGBB: swaybg draws an
# output's wallpaper again after the output changed.
shown_pixel() { as_test_user grim -g "$1,$2 1x1" -t ppm - 2>/dev/null | tail -c 3 | od -An -tx1 | tr -d ' \n'; }
shows() { [ "$(shown_pixel "$1" "$2")" = "$3" ]; }

# An output given another mode (the layout keeps its size: the virtual pointer maps onto it).
n=$(log_count "Color picker cancelled")
wl_pick 2
wl_msg output HEADLESS-2 mode 400x200 >/dev/null || fail "sway did not change HEADLESS-2's mode"
eventually 10 "a new mode cancels the pick" cancelled "$n"
eventually 5 "the overlays go" overlay_gone
clipboard_is "before" || fail "the clipboard changed to '$(clipboard)'"

# The probe: the outputs pick as they are now.
want=$(pixels_hex 100 50)
eventually 10 "the wallpaper shows again" shows 100 50 "$(echo "${want#\#}" | tr 'A-F' 'a-f')"
wl_pick 2
wl_move 100 50
wl_click left
expect_copied "$(pixels_hex 100 50)"

# An output plugged in.
n=$(log_count "Color picker cancelled")
wl_pick 2
wl_msg create_output >/dev/null || fail "sway did not add an output"
eventually 10 "a new output cancels the pick" cancelled "$n"
eventually 5 "the overlays go" overlay_gone
clipboard_is "$(pixels_hex 100 50)" || fail "the clipboard changed to '$(clipboard)'"

kill -0 "$DAUBLY_PID" || fail "daubly is gone"
echo "PASS: wayland outputs"
