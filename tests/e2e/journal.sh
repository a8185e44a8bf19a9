#!/usr/bin/env bash
# Daubly's log lines reach journald when it runs: with their identifier, subsystem,
# category and priority, and not on stderr. Starts a journald of its own where none
# runs and the test may (as root); skips otherwise.
source "$(dirname "$0")/lib.sh"

JOURNALD_PID=
if [ ! -S /run/systemd/journal/socket ]; then
    [ "$(id -u)" = 0 ] && [ -x /lib/systemd/systemd-journald ] || { echo "SKIP: no journald"; exit 77; }
    mkdir -p /run/systemd/journal
    /lib/systemd/systemd-journald >/dev/null 2>&1 &
    JOURNALD_PID=$!
    eventually 10 "journald starts" test -S /run/systemd/journal/socket
fi
stop_journald() {
    # Only a journald this test started is stopped.
    if [ -n "$JOURNALD_PID" ]; then
        kill "$JOURNALD_PID" 2>/dev/null || true
        wait "$JOURNALD_PID" 2>/dev/null || true
        rm -f /run/systemd/journal/socket
    fi
}

e2e_start
trap 'status=$?; stop_journald; (exit $status); cleanup' EXIT
since=$(date '+%Y-%m-%d %H:%M:%S')
unset DAUBLY_LOG_TO_STDERR
start_daubly
journal_has_start() {
    journalctl --no-pager -q SYSLOG_IDENTIFIER=daubly --since "$since" | grep -qF 'Daubly 1.0 (1) started'
}
eventually 10 "the start reaches the journal" journal_has_start
entry=$(journalctl --no-pager -q -o export SYSLOG_IDENTIFIER=daubly --since "$since" | \
    awk -v RS= '/MESSAGE=Daubly 1.0 \(1\) started/' | tail -n 30)
for field in "DAUBLY_SUBSYSTEM=app.daubly.Daubly" "DAUBLY_CATEGORY=App" "PRIORITY=5"; do
    grep -qxF "$field" <<<"$entry" || fail "the journal entry lacks $field: $entry"
done
log_has "Daubly 1.0 (1) started" && fail "the line went to stderr as well"
quit_daubly
echo "PASS: journal"
