#!/bin/bash
# The whole pick on KDE Plasma, measured on the real program: daubly as a native Wayland
# client of a headless KWin (scripts/kwin-session.sh) with one output of each SIZE, picks
# started with `daubly --pick` and cancelled with Escape (the tests' fake input), the
# pointer resting in the middle of the output. Each size is measured twice: through
# KWin's ScreenShot2 (daubly named by a desktop file, as the package installs it) and
# through the Screenshot portal (DAUBLY_CAPTURE=portal). The portal path needs KDE's
# portal, which the tests do not: apt-get install xdg-desktop-portal-kde qtwayland5
# plasma-workspace (without its QML dialogs the portal dies on every screenshot).
#
#   cmake --build --preset release --target daubly -j2
#   cmake --build --preset dev --target daubly_kde_input -j2   (the tests' fake input)
#   bench/pick_latency_kde.sh [path/to/daubly] [picks]   (default build/release/daubly, 20)
#   SIZES="1920x1080 3840x2160"  CAPTURES="kwin portal"
#
# Reports per size and capture: "Loupe painted N ms after the pick was triggered" (the
# first pick apart, then the median, 90th percentile and maximum of the others),
# "Magnifier shown" likewise, and VmRSS idle / 2 s after the last pick.

set -euo pipefail
DAUBLY=$(realpath "${1:-build/release/daubly}")
PICKS=${2:-20}
SIZES=${SIZES:-1920x1080 3840x2160}
CAPTURES=${CAPTURES:-kwin portal}
INPUT=$(realpath "${INPUT:-build/dev/tests/kde/daubly_kde_input}")
[ -x "$INPUT" ] || { echo "no fake input at $INPUT (build daubly_kde_input)" >&2; exit 1; }
cd "$(dirname "$0")/.."
source bench/lib.sh

WORK=$(mktemp -d "${TMPDIR:-/tmp}/pick-latency-kde.XXXXXX")
chmod 755 "$WORK"
pids=()
trap 'stop_all; rm -rf "$WORK"' EXIT
die() {
    echo "pick_latency_kde: $*" >&2
    [ -f "$WORK/daubly.log" ] && tail -n 20 "$WORK/daubly.log" >&2
    exit 1
}

# One size: the session, the fake input, then each capture path in turn.
measure_size() {
    local size=$1 capture
    start_session kwin-session.sh kwin.err DAUBLY_WAYLAND_LAYOUT 30 KWin "$size"
    chown "$DAUBLY_WAYLAND_USER:" "$WORK"
    desktop() { # NAME EXECUTABLE KEY=VALUE
        printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\n%s\n' "$1" "$2" "$3" \
            >"$KWIN_APPLICATIONS/$1.desktop"
    }
    desktop bench-input "$INPUT" "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input"
    desktop bench-daubly "$DAUBLY" "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"

    start_input "$INPUT"
    read -r width height <<<"$DAUBLY_WAYLAND_LAYOUT"
    input "move $((width / 2)) $((height / 2))"
    for capture in $CAPTURES; do
        measure_capture "$size" "$capture"
    done
    stop_all
}

measure_capture() { # SIZE kwin|portal
    local size=$1 capture=$2 pid i n c rss_idle rss_after
    rm -rf "$WORK/config"
    mkdir -p "$WORK/config/daubly"
    echo '{"hasCompletedOnboarding": true, "didRequestScreenCapture": true}' >"$WORK/config/daubly/defaults.json"
    chown -R "$DAUBLY_WAYLAND_USER:" "$WORK/config"
    local env=(QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$WORK/config" DAUBLY_LOG_TO_STDERR=1)
    [ "$capture" = portal ] && env+=(DAUBLY_CAPTURE=portal)
    run() { "${as_user[@]}" env "${env[@]}" "$@"; }
    : >"$WORK/daubly.log"
    # Not through run: $! must be daubly itself (setpriv and env exec it).
    "${as_user[@]}" env "${env[@]}" "$DAUBLY" >"$WORK/daubly.log" 2>&1 &
    pid=$!
    pids+=($pid)
    until_true 15 grep -q "started" "$WORK/daubly.log" || die "daubly did not start"
    sleep 3
    rss_idle=$(rss_kb "$pid")
    for ((i = 0; i <= PICKS; i++)); do
        n=$(count "Loupe painted")
        c=$(count "Color picker cancelled")
        run "$DAUBLY" --pick >/dev/null 2>&1
        if ! until_true 20 grew "Loupe painted" "$n"; then
            echo "$size $capture: pick $i showed no loupe: $(grep -E 'error' "$WORK/daubly.log" | tail -n1)"
            kill "$pid"
            wait "$pid" 2>/dev/null || true
            return 0
        fi
        input "tap Escape"
        until_true 10 grew "Color picker cancelled" "$c" || die "pick $i: not cancelled"
        sleep 0.3
    done
    sleep 2
    rss_after=$(rss_kb "$pid")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$size, $(sed -n 's/.*Screen capture: //p' "$WORK/daubly.log" | tail -n1)  (load $(cut -d' ' -f1-3 /proc/loadavg))"
    print_latencies "  "
    printf '  rss idle %d MB, 2 s after the last pick %d MB (%+d kB)\n' \
        $((rss_idle / 1024)) $((rss_after / 1024)) $((rss_after - rss_idle))
}

echo "daubly: $DAUBLY"
for size in $SIZES; do
    measure_size "$size"
done
