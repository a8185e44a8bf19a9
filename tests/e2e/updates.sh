#!/usr/bin/env bash
# "Check for Updates…" against a local feed that offers a newer version: the update
# window comes up with the version and its notes as text, the tray menu still opens
# while it is there, and "Remind Me Later" closes it. Then against a feed that never
# answers: "Checking for updates…" shows, and quitting from the tray ends Daubly
# without a word about a failed check.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

e2e_start
a11y_start
write_defaults '{"hasCompletedOnboarding": true}'

feed_dir=$E2E_DIR/feed
mkdir -p "$feed_dir"
printf '%s\n' '{"version": "9.0", "notes": "A bigger <b>loupe</b>.", "url": "https://daubly.app/download"}' \
    >"$feed_dir/feed.json"
/usr/bin/python3 -m http.server 0 --bind 127.0.0.1 --directory "$feed_dir" \
    >"$E2E_DIR/http.log" 2>&1 &
_vd_pids+=($!)
server_port() { sed -n 's/.*port \([0-9]*\).*/\1/p' "$E2E_DIR/http.log" | head -n1; }
server_listens() { [ -n "$(server_port)" ]; }
eventually 10 "the feed server starts" server_listens
export DAUBLY_UPDATE_FEED_URL="http://127.0.0.1:$(server_port)/feed.json"
start_daubly

# "Check for Updates…": the third item from the bottom.
check_for_updates() {
    open_menu
    xdotool key Up Up Up Return
}
check_for_updates
a11y wait label "Daubly 9.0 is available" || fail "no update window"
a11y_expect text "Release Notes" text "A bigger <b>loupe</b>."
for button in "Download…" "Skip This Version"; do
    a11y --timeout 2 wait "push button" "$button" || fail "no '$button' button"
done
# Not modal: the tray answers while the window is open.
open_menu
xdotool key Escape
eventually 5 "the menu closes" menu_gone
a11y_press "push button" "Remind Me Later"
a11y gone label "Daubly 9.0 is available" || fail "the update window stays"
grep -q '"GET /feed.json' "$E2E_DIR/http.log" || fail "the feed was not fetched"
log_has "Update check: the feed offers 9.0, this is 1.0" || fail "the check is not logged"
quit_daubly

# A server that takes the connection and never answers.
/usr/bin/python3 -c '
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen()
print(s.getsockname()[1], flush=True)
held = [s.accept()[0] for _ in range(4)]
time.sleep(600)
' >"$E2E_DIR/silent.port" 2>&1 &
_vd_pids+=($!)
eventually 10 "the silent server starts" [ -s "$E2E_DIR/silent.port" ]
export DAUBLY_UPDATE_FEED_URL="http://127.0.0.1:$(head -n1 "$E2E_DIR/silent.port")/feed.json"
start_daubly
check_for_updates
a11y wait label "Checking for updates…" || fail "no 'Checking for updates…' window"
open_menu
click_last_menu_item
eventually 10 "daubly quits during the check" daubly_exits
! log_has "The update check failed" || fail "quitting showed a failed check"
log_has "Update check cancelled" || fail "the check was not ended"
echo "PASS: updates"
