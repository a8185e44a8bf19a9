#!/usr/bin/env bash
# Another program owns Daubly's name on the session bus and answers as Daubly would: a
# start says so and stops with status 1, and the program gets no command. Once the name
# is free, Daubly starts and owns it.
source "$(dirname "$0")/lib.sh"

e2e_start
write_defaults '{"hasCompletedOnboarding": true}'
start_session_bus
/usr/bin/python3 "$(dirname "$0")/fixture/bus_impostor.py" >"$E2E_DIR/impostor.log" 2>&1 &
impostor=$!
_vd_pids+=("$impostor")
eventually 10 "the other program owns the name" grep -qx ready "$E2E_DIR/impostor.log"

for option in "" --pick --quit; do
    status=0
    timeout 20 "$DAUBLY" $option >"$E2E_DIR/out.txt" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "'daubly $option' exited with $status beside another owner"
    grep -qF "Another program owns app.daubly.Daubly on the session bus" "$E2E_DIR/out.txt" ||
        fail "'daubly $option' did not say why: $(cat "$E2E_DIR/out.txt")"
done
! grep -qx Pick "$E2E_DIR/impostor.log" || fail "the other program got a command meant for Daubly"

kill "$impostor"
wait "$impostor" 2>/dev/null || true
name_free() { ! bus_has_owner app.daubly.Daubly; }
eventually 10 "the name is free" name_free
start_daubly
eventually 10 "daubly owns its name" bus_has_owner app.daubly.Daubly
echo "PASS: bus owner"
