#!/usr/bin/env bash
# The Wayland test session itself: the outputs as asked, the pointer landing on the
# device pixel asked for on both scales, keys reaching the focused window and sway's
# bindings, the clipboard, and the session's user.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

# A 640 x 480 output and a 400 x 300 one at scale 2 (200 x 150 points) to its right.
wl_start "640x480:$(scene_png pixels 640x480)" "400x300@2:#336699"
[ "$DAUBLY_WAYLAND_LAYOUT" = "840 480" ] || fail "layout '$DAUBLY_WAYLAND_LAYOUT', not '840 480'"
outputs=$(wl_msg -t get_outputs -r | python3 -c '
import json, sys
for o in json.load(sys.stdin):
    r, m = o["rect"], o["current_mode"]
    print(o["name"], r["x"], r["y"], r["width"], r["height"], m["width"], m["height"], o["scale"])')
expected="HEADLESS-1 0 0 640 480 640 480 1.0
HEADLESS-2 640 0 200 150 400 300 2.0"
[ "$outputs" = "$expected" ] || fail "the outputs are
$outputs"
# The session's clients run as its user, never as root.
owner=$(stat -c %U "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY")
[ "$owner" = "$DAUBLY_WAYLAND_USER" ] || fail "the socket belongs to $owner"
[ "$(stat -c %a "$XDG_RUNTIME_DIR")" = 700 ] || fail "the runtime folder is open to others"
if [ "$(id -u)" = 0 ]; then
    [ "$DAUBLY_WAYLAND_USER" != root ] || fail "sway runs as root"
fi

# A Qt client under QT_QPA_PLATFORM=wayland is a window sway knows, filling the output.
start_scene --pattern pixels
read -r app _ x y w h _ output <<<"$(wl_windows | grep ' scene1 ')"
[ "$app $x $y $w $h $output" = "daubly_scene 0 0 640 480 HEADLESS-1" ] ||
    fail "the scene window is '$(wl_windows)'"

# The pointer lands on the device pixel asked for: where the window says it was pressed.
expect_press() { # WHAT EXPECTED-LINE
    eventually 5 "$1 reaches the window" grep -qx "$2" "$E2E_DIR/scene.log"
}
wl_move 123 45
wl_click left
expect_press "a left click" "press 1 123 45"
wl_move 639 479
wl_click right
expect_press "a right click at the corner" "press 2 639 479"
echo "move 840 10" >"$E2E_DIR/pointer.in"
eventually 5 "a move outside the layout is refused" grep -q '^error: outside the layout' "$E2E_DIR/pointer.out"

# Keys reach the focused window, and a modifier chord reaches sway's bindings.
wl_keys a Right Return
eventually 5 "the keys reach the window" grep -qx "key Return" "$E2E_DIR/scene.log"
[ "$(grep '^key' "$E2E_DIR/scene.log" | tr '\n' ' ')" = "key A key Right key Return " ] ||
    fail "the window saw $(grep '^key' "$E2E_DIR/scene.log" | tr '\n' ' ')"
wl_msg "bindsym Mod4+p exec touch '$E2E_DIR/bound'" >/dev/null || fail "sway took no binding"
wl_chord logo p
eventually 5 "Super+P runs the bound command" test -e "$E2E_DIR/bound"

# The pointer moves the focus to the scale 2 output and lands on points there (Qt's
# widgets round positions to whole points, so odd device pixels are not seen).
wl_move 700 20
focused_output() {
    wl_msg -t get_workspaces -r | python3 -c '
import json, sys
print(next(w["output"] for w in json.load(sys.stdin) if w["focused"]))'
}
focused_is() { [ "$(focused_output)" = "$1" ]; }
eventually 5 "the pointer takes the focus to HEADLESS-2" focused_is HEADLESS-2
start_scene --pattern pixels
read -r _ _ x y w h _ output <<<"$(wl_windows | grep ' scene2 ')"
[ "$x $y $w $h $output" = "640 0 200 150 HEADLESS-2" ] || fail "scene2 is '$(wl_windows)'"
wl_move 839 149
wl_click left
expect_press "a click on the scale 2 output" "press 1 398 298"
wl_move 10 10
eventually 5 "the pointer takes the focus back to HEADLESS-1" focused_is HEADLESS-1

# The clipboard round trip, twice: the second copy replaces the first.
set_clipboard "wayland 1"
set_clipboard "wayland 2"

echo "PASS: wayland harness"
