#!/usr/bin/env bash
# The X server going away ends daubly, and its log says why (not only Qt's stderr).
source "$(dirname "$0")/lib.sh"

e2e_start
write_defaults '{"hasCompletedOnboarding": true}'
start_daubly
# The first process of the virtual display is its X server.
kill "${_vd_pids[0]}"
eventually 10 "daubly exits" daubly_exits
log_has "daubly[Qt] error: The X11 connection broke" || fail "the broken connection was not logged"
DAUBLY_PID=
echo "PASS: display-lost"
