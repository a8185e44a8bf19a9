#!/usr/bin/env bash
# Saves screenshots of the Settings window in the light and the dark palette, as the
# README shows them: docs/settings-light.png and docs/settings-dark.png.
# The dark one gives daubly a desktop whose palette is dark (KDE's colour settings,
# which Qt reads), the way a user's desktop would.
# Usage: scripts/settings-screenshots.sh [path/to/daubly]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
daubly=${1:-$root/build/dev/daubly}
[ -x "$daubly" ] || { "$root/scripts/build.sh" dev >&2; }

shoot() {
    local scheme=$1 out=$2
    (
        source "$root/tests/e2e/lib.sh" "$daubly"
        e2e_start 1024x900
        write_defaults '{"hasCompletedOnboarding": true}'
        if [ "$scheme" = dark ]; then
            cat >"$XDG_CONFIG_HOME/kdeglobals" <<'COLORS'
[Colors:Window]
BackgroundNormal=35,36,40
ForegroundNormal=232,232,234
[Colors:View]
BackgroundNormal=44,45,50
ForegroundNormal=232,232,234
[Colors:Button]
BackgroundNormal=58,59,64
ForegroundNormal=232,232,234
[Colors:Selection]
BackgroundNormal=61,140,233
ForegroundNormal=255,255,255
COLORS
            export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true
        fi
        start_daubly
        # A second start opens the Settings window.
        "$DAUBLY" >>"$E2E_DIR/daubly.log" 2>&1
        window=$(wait_for_window '^Daubly Settings$' 10) || fail "no Settings window"
        eventually 5 "the Settings window is active" \
            [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ]
        # Let it paint, then take the window with its frame.
        sleep 0.5
        import -window "$window" -frame "$out"
        quit_daubly
    )
    echo "Saved $out"
}

shoot light "$root/docs/settings-light.png"
shoot dark "$root/docs/settings-dark.png"
