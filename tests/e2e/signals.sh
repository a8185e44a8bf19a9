#!/usr/bin/env bash
# SIGTERM and SIGINT during a pick quit daubly the way "Quit Daubly" does: the overlay
# goes, the stored history stays as it was, daubly exits 0 and, as it does not hold the
# clipboard, leaves no process.
source "$(dirname "$0")/lib.sh"

e2e_start 1280x800
start_scene --pattern 'solid:#336699' --geometry 400x400+400+200
settings=$XDG_CONFIG_HOME/daubly/defaults.json
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'

for signal in TERM INT; do
    start_daubly
    # A copy first, so that there is a history to keep.
    pick_from_menu
    xdotool mousemove 600 400 click 1
    expect_copied "#336699"
    eventually 5 "the history is written" grep -q recentColors "$settings"
    stored=$(cat "$settings")
    # Another application holds the clipboard: nothing of daubly has a reason to stay.
    set_clipboard "elsewhere"

    pick_from_menu
    kill "-$signal" "$DAUBLY_PID"
    eventually 5 "SIG$signal ends daubly" daubly_exits
    wait "$DAUBLY_PID" || fail "daubly exited with $? on SIG$signal"
    DAUBLY_PID=
    log_has "Quitting" || fail "SIG$signal did not go through the quit path"
    overlay_gone || fail "an overlay outlived SIG$signal"
    [ "$(cat "$settings")" = "$stored" ] || fail "the settings changed on SIG$signal: $(cat "$settings")"
    ! pgrep -f "^$DAUBLY" >/dev/null || fail "a daubly process is left after SIG$signal: $(pgrep -af "^$DAUBLY")"
    : >"$E2E_DIR/daubly.log"
done
echo "PASS: signals"
