#!/usr/bin/env bash
# "Check for Updates…" against a local feed that offers a newer version: the update
# window comes up with the version and notes, and "Remind Me Later" closes it.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

e2e_start
a11y_start
write_defaults '{"hasCompletedOnboarding": true}'

feed_dir=$E2E_DIR/feed
mkdir -p "$feed_dir"
printf '%s\n' '{"version": "9.0", "notes": "A bigger loupe.", "url": "https://daubly.app/download"}' \
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
open_menu
xdotool key Up Up Up Return
a11y wait label "Daubly 9.0 is available" || fail "no update window"
a11y --timeout 2 wait label "A bigger loupe." || fail "the notes are not shown"
for button in "Download…" "Skip This Version"; do
    a11y --timeout 2 wait "push button" "$button" || fail "no '$button' button"
done
a11y_press "push button" "Remind Me Later"
a11y gone label "Daubly 9.0 is available" || fail "the update window stays"
grep -q '"GET /feed.json' "$E2E_DIR/http.log" || fail "the feed was not fetched"
log_has "Update check: the feed offers 9.0, this is 1.0" || fail "the check is not logged"
echo "PASS: updates"
