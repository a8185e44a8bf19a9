#!/bin/bash
# The Settings window on the real program under Xvfb: how soon it is on screen after
# "Settings…" is chosen, what it leaves resident once closed, and what it costs while
# it stays open doing nothing.
#
#   cmake --preset release && cmake --build --preset release --target daubly
#   bench/settings_window.sh [path/to/daubly] [runs]      (default build/release/daubly, 10)
#
# Reports:
#   first   median over RUNS fresh starts of "Settings window shown N ms after it was
#           asked for" for the first opening (the menu's action to the whole window
#           painted and handed to the X server)
#   later   the same for RUNS openings after closing it, in one process
#   rss     VmRSS idle with the tray up, and 2 s after opening and closing the window
#   cpu     CPU (utime + stime) over 30 s with the window open and idle, in % of a core
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
daubly=$(realpath "${1:-$root/build/release/daubly}")
runs=${2:-10}
source "$root/tests/e2e/lib.sh" "$daubly"

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$DAUBLY_PID/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$DAUBLY_PID/stat"; }
shown_count() { grep -c "Settings window shown" "$E2E_DIR/daubly.log" || true; }
shown_count_is() { [ "$(shown_count)" = "$1" ]; }
last_shown_ms() { grep "Settings window shown" "$E2E_DIR/daubly.log" | tail -n1 | sed 's/.*shown \([0-9]*\) ms.*/\1/'; }
window_gone() { ! xdotool search --onlyvisible --name '^Daubly Settings$' >/dev/null 2>&1; }

menu_open() { menu_window >/dev/null; }
# "Settings…" from the tray menu: the last item but one. Right after start-up the tray
# may not take the first click yet: click again until the menu is open.
choose_settings() {
    local tries
    for tries in 1 2 3 4 5; do
        xdotool mousemove --window "$(tray_icon)" 8 8 click 1
        for _ in $(seq 40); do menu_open && break; sleep 0.05; done
        menu_open && break
    done
    menu_open || fail "the menu does not open"
    xdotool key Up Up Return
    eventually 10 "the Settings window is shown" shown_count_is "$1"
}
close_settings() {
    local window
    window=$(xdotool search --onlyvisible --name '^Daubly Settings$' | head -n1)
    xdotool windowactivate --sync "$window" key alt+F4
    eventually 5 "the Settings window closes" window_gone
}

e2e_start 1280x900
write_defaults '{"hasCompletedOnboarding": true}'

first=()
for ((i = 0; i < runs; i++)); do
    : >"$E2E_DIR/daubly.log"
    start_daubly
    choose_settings 1
    first+=("$(last_shown_ms)")
    quit_daubly
done

: >"$E2E_DIR/daubly.log"
start_daubly
sleep 2
idle=$(rss_kb)
later=()
choose_settings 1
close_settings
for ((i = 2; i <= runs + 1; i++)); do
    choose_settings "$i"
    later+=("$(last_shown_ms)")
    close_settings
done
sleep 2
after=$(rss_kb)

choose_settings $((runs + 2))
sleep 2
before=$(cpu_ticks)
sleep 30
ticks=$(($(cpu_ticks) - before))
quit_daubly

echo "first  median $(printf '%s\n' "${first[@]}" | median) ms  (${first[*]})"
echo "later  median $(printf '%s\n' "${later[@]}" | median) ms  (${later[*]})"
echo "rss    idle $((idle / 1024)) MiB, after opening and closing $((after / 1024)) MiB (+$(((after - idle) / 1024)) MiB)"
awk -v t="$ticks" 'BEGIN { printf "cpu    %d ticks over 30 s open and idle = %.3f %% of a core\n", t, t / 30 }'
