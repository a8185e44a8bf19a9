#!/usr/bin/env bash
# What starts a pick or Settings on Wayland without a tray or a global shortcut: a
# sway binding that runs daubly --pick, with daubly running and with none, and a
# second start of daubly, which opens Settings in the first.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

wl_start "640x480:#336699"
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'

# Super+P runs daubly --pick.
wl_bind_pick p
daublys() { pgrep -u "$DAUBLY_WAYLAND_USER" -f "^$DAUBLY( |\$)" || true; }
one_daubly() { [ "$(daublys | wc -l)" = 1 ]; }
copy_from_pick() {
    eventually 10 "the binding starts a pick" overlay_shown
    wl_move 100 100
    wl_click left
    eventually 5 "the pick copies" clipboard_is "#336699"
    eventually 5 "the overlay goes" overlay_gone
}

# None running: the binding starts daubly, which picks at once.
chown -R "$DAUBLY_WAYLAND_USER:" "$XDG_CONFIG_HOME"
wl_chord logo p
copy_from_pick
log_has "Platform backend: wayland" || fail "the bound daubly does not use its Wayland backend"
DAUBLY_PID=$(daublys)
one_daubly || fail "daubly after the first binding: '$DAUBLY_PID'"
set_clipboard "before"

# Running: the binding's daubly hands the pick over and leaves.
picks=$(log_count "Color picker started")
wl_chord logo p
copy_from_pick
log_count_above "Color picker started" "$picks" || fail "no pick was logged"
eventually 5 "the binding's daubly leaves" one_daubly
[ "$(daublys)" = "$DAUBLY_PID" ] || fail "the first daubly is gone"

# A second start opens Settings in the first.
settings=$(log_count "Settings window")
out=$(as_test_user timeout 20 "$DAUBLY" 2>&1) || fail "a second start failed: $out"
eventually 5 "the second start opens Settings" log_count_above "Settings window" "$settings"
eventually 5 "Settings is a window of sway's" wl_window_shown '^Daubly_Settings$'
[ "$(daublys)" = "$DAUBLY_PID" ] || fail "the second start stayed, or the first is gone"

echo "PASS: wayland triggers"
