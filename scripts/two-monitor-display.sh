#!/usr/bin/env bash
# A headless X server with two RandR monitors side by side, for the tests and benchmarks
# that need more than one monitor (Xvfb cannot: its `xrandr --setmonitor` monitors are
# not outputs, so Qt sees one screen).
#
#   scripts/two-monitor-display.sh [LEFT [RIGHT]] > display.txt &
#
# LEFT and RIGHT are WIDTHxHEIGHT (default 1920x1080). Xorg runs with the dummy video
# driver on a display it picks itself; output DUMMY0 is primary at 0,0 and
# DUMMY1 sits to its right, top-aligned. The display (":1") is printed once both
# monitors are up; the server runs until this script is stopped. Qt then sees the
# screens DUMMY0 and DUMMY1; QT_SCREEN_SCALE_FACTORS="DUMMY0=1;DUMMY1=2" scales one.
# Needs root (Xorg opens no VT here but still wants it) and scripts/deps.sh test.
set -uo pipefail

die() {
    echo "two-monitor-display: $*" >&2
    exit 1
}

size_of() {
    [[ $1 =~ ^([0-9]+)x([0-9]+)$ ]] || die "bad size '$1' (expected WIDTHxHEIGHT)"
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}
read -r left_w left_h <<<"$(size_of "${1:-1920x1080}")" || exit 1
read -r right_w right_h <<<"$(size_of "${2:-1920x1080}")" || exit 1
command -v Xorg >/dev/null || die "Xorg is missing (scripts/deps.sh test installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-xorg.XXXXXX") || die "no temporary folder"
server=
stop() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 0' TERM INT HUP

# No input devices and no VT switching: the server must start on a machine with no
# console and no /dev/input. 512 MB of video memory holds two 4K framebuffers.
cat >"$work/xorg.conf" <<'CONF'
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "AllowMouseOpenFail" "true"
    Option "DontVTSwitch" "true"
    Option "PciForceNone" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 512000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
EndSection
CONF

source "$(dirname "$0")/virtual-display.sh"
start_x_server Xorg -config "$work/xorg.conf" -noreset -nolisten tcp -logfile "$work/Xorg.log" || {
    tail -n 20 "$work/Xorg.log" >&2
    die "Xorg did not start"
}
server=$X_SERVER_PID
display=$DISPLAY

# A mode of the given size on an output, with a 96 DPI physical size so that Qt's
# scale stays 1 unless the caller asks for another.
add_mode() { # output mode-name width height
    local output=$1 name=$2 w=$3 h=$4
    local htotal=$((w + 160)) vtotal=$((h + 30)) clock
    clock=$(awk -v a="$htotal" -v b="$vtotal" 'BEGIN { printf "%.2f", a * b * 60 / 1e6 }')
    xrandr -d "$display" --newmode "$name" "$clock" "$w" $((w + 48)) $((w + 80)) "$htotal" \
        "$h" $((h + 3)) $((h + 8)) "$vtotal" +hsync +vsync &&
        xrandr -d "$display" --addmode "$output" "$name" &&
        xrandr -d "$display" --output "$output" --set WIDTH_MM $((w * 254 / 960)) \
            --set HEIGHT_MM $((h * 254 / 960))
}
add_mode DUMMY0 "daubly0_${left_w}x${left_h}" "$left_w" "$left_h" &&
    add_mode DUMMY1 "daubly1_${right_w}x${right_h}" "$right_w" "$right_h" &&
    xrandr -d "$display" --output DUMMY0 --mode "daubly0_${left_w}x${left_h}" --pos 0x0 --primary \
        --output DUMMY1 --mode "daubly1_${right_w}x${right_h}" --right-of DUMMY0 ||
    die "could not set up the two outputs"
monitors=$(xrandr -d "$display" --listmonitors | head -n1)
[ "$monitors" = "Monitors: 2" ] || die "expected two monitors, the server reports '$monitors'"

echo "$display"
wait "$server"
