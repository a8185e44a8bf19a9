#!/usr/bin/env bash
# The command-line options and the session-bus methods, against a running daubly and
# with none running: over a private session bus, and over the local socket where
# there is no bus.
source "$(dirname "$0")/lib.sh"

e2e_start 1280x800
write_defaults '{"hasCompletedOnboarding": true}'

# Answered by the starting process alone.
out=$("$DAUBLY" --version) || fail "--version failed"
[ "$out" = "Daubly 1.0 (1)" ] || fail "--version printed '$out'"
grep -q -- '--pick' <<<"$("$DAUBLY" --help)" || fail "--help does not list --pick"
for bad in --bogus "--pick --quit" stray; do
    status=0
    err=$("$DAUBLY" $bad 2>&1 >/dev/null) || status=$?
    [ "$status" = 2 ] || fail "'daubly $bad' exited with $status"
    [[ $err == *"Usage: daubly"* ]] || fail "'daubly $bad' printed no usage: $err"
done

run_daubly() { timeout 20 "$DAUBLY" "$@" >>"$E2E_DIR/daubly.log" 2>&1; }
cancel_pick() {
    xdotool key Escape
    eventually 5 "the pick is cancelled" overlay_gone
}
# Each request reaches the window: shown, or brought forward when it already was.
settings_count() { log_count "Settings window"; }
expect_settings_opened() {
    eventually 5 "Settings is asked for" log_count_above "Settings window" "$1"
}

# Each option against a running instance ($1 names the route), then --quit.
options_against_running() {
    local before
    run_daubly --pick || fail "--pick ($1) failed"
    eventually 10 "--pick ($1) shows the overlay" overlay_shown
    cancel_pick
    before=$(settings_count)
    run_daubly --settings || fail "--settings ($1) failed"
    expect_settings_opened "$before"
    before=$(settings_count)
    out=$(timeout 20 "$DAUBLY" 2>&1) || fail "a plain start ($1) failed: $out"
    expect_settings_opened "$before"
    # Only the socket's answer says so; over the bus the start leaves without a word.
    if [ "$1" = socket ]; then
        [[ $out == *"already running"* ]] || fail "the plain start did not use the socket: $out"
    else
        [ -z "$out" ] || fail "the plain start did not use the bus: $out"
    fi
    [ "$(tray_icon_count)" = 1 ] || fail "a second tray icon ($1)"
    # Launched from the desktop entry, the start that hands over ends the launcher's
    # startup feedback itself: it shows no window that would.
    stdbuf -oL xev -root -event property >"$E2E_DIR/xev.log" 2>&1 &
    local xev=$!
    xev_listens() {
        xprop -root -f _DAUBLY_TEST_PROBE 8s -set _DAUBLY_TEST_PROBE probe
        grep -q PropertyNotify "$E2E_DIR/xev.log"
    }
    eventually 5 "xev listens" xev_listens
    DESKTOP_STARTUP_ID="daubly-test_TIME1" run_daubly --settings || fail "--settings ($1) failed"
    eventually 5 "the startup feedback is ended ($1)" grep -q _NET_STARTUP_INFO_BEGIN "$E2E_DIR/xev.log"
    kill "$xev"
    run_daubly --quit || fail "--quit ($1) failed"
    eventually 5 "--quit ($1) ends daubly" daubly_exits
    wait "$DAUBLY_PID" || fail "daubly ($1) exited with $?"
    DAUBLY_PID=
}

# No session bus: the local socket carries the options.
start_daubly
options_against_running "socket"
# With none running, --pick starts daubly and picks at once; --quit has nothing to do.
"$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 &
DAUBLY_PID=$!
eventually 15 "--pick starts daubly and picks" overlay_shown
cancel_pick
run_daubly --quit
eventually 5 "--quit ends the daubly --pick started" daubly_exits
DAUBLY_PID=
out=$("$DAUBLY" --quit 2>&1) || fail "--quit with none running failed"
[[ $out == *"not running"* ]] || fail "--quit with none running said: $out"

# A session bus: the running instance owns app.daubly.Daubly.
start_session_bus
start_daubly
eventually 5 "daubly owns its name" bus_has_owner app.daubly.Daubly
daubly_bus_call Pick || fail "Pick() failed"
eventually 10 "Pick() shows the overlay" overlay_shown
cancel_pick
before=$(settings_count)
daubly_bus_call ShowSettings || fail "ShowSettings() failed"
expect_settings_opened "$before"
options_against_running "bus"
! bus_has_owner app.daubly.Daubly || fail "the name outlived daubly"

# None running: calling the bus starts daubly through the service file.
daubly_bus_call Pick || fail "Pick() with none running failed"
eventually 15 "Pick() starts daubly and picks" overlay_shown
cancel_pick
busctl --user call app.daubly.Daubly /app/daubly/Daubly app.daubly.Daubly Quit ||
    fail "Quit() through busctl failed"
daubly_process_gone() { ! pgrep -f "^$DAUBLY\$" >/dev/null; }
eventually 5 "Quit() ends daubly" daubly_process_gone
echo "PASS: command line"
