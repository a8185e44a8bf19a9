#!/usr/bin/env bash
# A headless KWin (Plasma's compositor) session for the KDE tests: virtual outputs of one
# size side by side, a private session bus with KWin's own services on it (ScreenShot2,
# kglobalaccel), and folders for desktop files that KWin reads.
#
#   scripts/kwin-session.sh WIDTHxHEIGHT[@SCALE] [OUTPUTS] > session.env &
#
# Once KWin answers on the bus the script prints shell lines to source:
#   export WAYLAND_DISPLAY=… XDG_RUNTIME_DIR=… DBUS_SESSION_BUS_ADDRESS=…
#   export KWIN_APPLICATIONS=…   (desktop files here are KWin's; write before use)
#   export DAUBLY_WAYLAND_USER=… DAUBLY_WAYLAND_LAYOUT='WIDTH HEIGHT'  (logical pixels)
# and runs until it is stopped, then stops KWin and the bus and removes its folder.
#
# kwin_wayland carries a file capability (cap_sys_resource), which an unprivileged user
# may not exec under no_new_privs and which setpriv drops: it runs from a plain copy,
# still named kwin_wayland because KWin finds its own desktop file by that name. As
# root everything runs as the system user daubly-test (created when missing); run clients
# as DAUBLY_WAYLAND_USER. Needs kwin-wayland and dbus-daemon (scripts/deps.sh test).
set -uo pipefail

die() {
    echo "kwin-session: $*" >&2
    exit 1
}

(($# >= 1)) || die "usage: $0 WIDTHxHEIGHT[@SCALE] [OUTPUTS]"
[[ $1 =~ ^([0-9]+)x([0-9]+)(@([0-9]+))?$ ]] || die "bad output '$1' (expected WIDTHxHEIGHT[@SCALE])"
width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]} scale=${BASH_REMATCH[4]:-1}
outputs=${2:-1}
kwin=$(command -v kwin_wayland) || die "kwin_wayland is missing (scripts/deps.sh test installs it)"
command -v dbus-daemon >/dev/null || die "dbus-daemon is missing"

source "$(dirname "${BASH_SOURCE[0]}")/session-lib.sh"
session_user

work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-kwin.XXXXXX") || die "no temporary folder"
pids=()
stop() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 0' TERM INT HUP

chmod 755 "$work"
runtime=$work/runtime home=$work/home
mkdir -m 700 "$runtime" && mkdir -p "$home/.config" "$home/.local/share/applications" "$work/bin" ||
    die "no session folders"
chown -R "$test_user:" "$runtime" "$home" || die "cannot hand the session folders to $test_user"
session_reachable "$runtime"
cp "$kwin" "$work/bin/kwin_wayland" && chmod 755 "$work/bin/kwin_wayland" || die "cannot copy $kwin"
# No animations, so that nothing waits for one.
printf '[KDE]\nAnimationDurationFactor=0\n' >"$home/.config/kdeglobals"
chown "$test_user:" "$home/.config/kdeglobals"

bus=unix:path=$runtime/bus
socket=wayland-kde
env=(HOME="$home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$home/.config"
    XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
    DBUS_SESSION_BUS_ADDRESS="$bus" XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland
    PATH=/usr/bin:/bin KDE_FULL_SESSION=true)
# Services the bus starts (the portals) are clients of this KWin. KDE's portal refuses
# screenshots where the user has no Pictures folder.
mkdir -p "$home/Pictures" && chown "$test_user:" "$home/Pictures"
"${as_user[@]}" env -i "${env[@]}" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
    dbus-daemon --session --nofork --nopidfile --address="$bus" \
    >"$work/bus.log" 2>&1 </dev/null &
pids+=($!)
session_wait_for 5 "the session bus did not start" bus.log test -S "$runtime/bus"

"${as_user[@]}" env -i "${env[@]}" KWIN_COMPOSE=O2 \
    "$work/bin/kwin_wayland" --virtual --no-lockscreen --no-kactivities \
    --width "$width" --height "$height" --scale "$scale" --output-count "$outputs" \
    --socket "$socket" >"$work/kwin.log" 2>&1 </dev/null &
kwin_pid=$!
pids=("$kwin_pid" "${pids[@]}")

kwin_up() {
    "${as_user[@]}" env -i "${env[@]}" dbus-send --session --print-reply --dest=org.kde.KWin \
        /org/kde/KWin/ScreenShot2 org.freedesktop.DBus.Properties.Get \
        string:org.kde.KWin.ScreenShot2 string:Version >/dev/null 2>&1
}
up=
for _ in $(seq 300); do
    kwin_up && [ -S "$runtime/$socket" ] && { up=1; break; }
    kill -0 "$kwin_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$up" ]; then
    tail -n 20 "$work/kwin.log" >&2
    die "KWin did not start"
fi

echo "export WAYLAND_DISPLAY='$socket' XDG_RUNTIME_DIR='$runtime' DBUS_SESSION_BUS_ADDRESS='$bus'"
echo "export XDG_CURRENT_DESKTOP=KDE KWIN_APPLICATIONS='$home/.local/share/applications'"
echo "export KWIN_LOG='$work/kwin.log'"
echo "export DAUBLY_WAYLAND_USER='$test_user' DAUBLY_WAYLAND_LAYOUT='$((width * outputs / scale)) $((height / scale))'"
wait "$kwin_pid"
