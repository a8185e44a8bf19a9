#!/usr/bin/env bash
# What an oversized update feed costs the real program: a local server offers a feed of
# SIZE MB (default 400) and sends it as fast as it is taken; "Check for Updates…" is
# chosen in the tray menu CHECKS times (default 3). Reports the resident memory before
# the checks, after each has failed and at its peak, and how much of the feed the server
# got to send. The
# first check also pays for the network stack and the failure window once; the later
# ones show what a check leaves behind.
#
#   bench/update_oversize.sh [path/to/daubly] [SIZE] [CHECKS]
#   (default build/release/daubly, 400, 3)
# Needs Xvfb, openbox, trayer and xdotool (scripts/deps.sh run).

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
SIZE_MB=${2:-400}
CHECKS=${3:-3}
source "$(dirname "$0")/../tests/e2e/lib.sh" "$DAUBLY"
e2e_start
write_defaults '{"hasCompletedOnboarding": true}'

/usr/bin/python3 -c '
import socket, sys
size = int(sys.argv[1]) << 20
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0))
s.listen()
print("port", s.getsockname()[1], flush=True)
for _ in range(int(sys.argv[2])):
    c, _ = s.accept()
    c.recv(65536)
    c.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n")
    sent, chunk = 0, b" " * 65536
    try:
        while sent < size:
            c.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass
    c.close()
    print("sent", sent, flush=True)
' "$SIZE_MB" "$CHECKS" >"$E2E_DIR/server.log" 2>&1 &
_vd_pids+=($!)
eventually 10 "the feed server starts" grep -q '^port' "$E2E_DIR/server.log"
export DAUBLY_UPDATE_FEED_URL="http://127.0.0.1:$(awk '/^port/ { print $2 }' "$E2E_DIR/server.log")/feed.json"
start_daubly
rss() { awk "/^$1:/ { print int(\$2 / 1024) }" "/proc/$DAUBLY_PID/status"; }
sent_lines() { grep -c '^sent' "$E2E_DIR/server.log" || true; }
report="feed of $SIZE_MB MB: resident $(rss VmRSS) MB before"
for n in $(seq "$CHECKS"); do
    open_menu
    xdotool key Up Up Up Return
    eventually 120 "check $n fails" log_count_above "The update check failed" $((n - 1))
    eventually 10 "the server stops sending" [ "$(sent_lines)" -ge "$n" ] || { cat "$E2E_DIR/server.log"; exit 1; }
    # Freed pages go back to the system in a moment, not at once.
    sleep 1
    report+=", $(rss VmRSS) MB after check $n (server sent"
    report+=" $(($(awk '/^sent/ { s = $2 } END { print s }' "$E2E_DIR/server.log") >> 20)) MB)"
done
echo "$report; peak $(rss VmHWM) MB"
