#!/usr/bin/env bash
# A headless GNOME Shell session for the GNOME tests: one virtual monitor showing a known
# wallpaper, the desktop portals (the GNOME implementation, the Shell's permission
# dialogs, the permission store) and PipeWire, all on private buses.
#
#   scripts/gnome-session.sh WIDTHxHEIGHT[:BACKGROUND] > session.env &
#
# BACKGROUND is #RRGGBB or a PNG file of the monitor's pixel size, shown pixel for pixel.
# Once the Shell runs, the portals answer and the wallpaper shows, the script prints
# shell lines to source:
#   export WAYLAND_DISPLAY=… XDG_RUNTIME_DIR=… DBUS_SESSION_BUS_ADDRESS=…
#   export DBUS_SYSTEM_BUS_ADDRESS=… XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
#   export DAUBLY_WAYLAND_USER=… DAUBLY_WAYLAND_LAYOUT='WIDTH HEIGHT'
# and runs until it is stopped, then stops everything it started and removes its folder.
#
# The Shell is a compositor meant for a real login: as root everything runs as the
# system user daubly-test (created when missing), as scripts/wayland-session.sh does.
# It leaves the overview it starts in once its startup animation is over; input comes
# from a client of org.gnome.Mutter.RemoteDesktop (tests/gnome/remote_input.py).
# Needs gnome-shell, xdg-desktop-portal-gnome, pipewire and wireplumber (scripts/deps.sh test).
set -uo pipefail

die() {
    echo "gnome-session: $*" >&2
    exit 1
}

(($# == 1)) || die "usage: $0 WIDTHxHEIGHT[:BACKGROUND]"
[[ $1 =~ ^([0-9]+)x([0-9]+)(:(.+))?$ ]] || die "bad monitor '$1' (expected WIDTHxHEIGHT[:BACKGROUND])"
width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]} background=${BASH_REMATCH[4]:-#808080}
for program in gnome-shell dbus-daemon pipewire wireplumber /usr/libexec/xdg-desktop-portal \
    /usr/libexec/xdg-desktop-portal-gnome /usr/libexec/xdg-permission-store; do
    command -v "$program" >/dev/null || die "$program is missing (scripts/deps.sh test installs it)"
done

source "$(dirname "${BASH_SOURCE[0]}")/session-lib.sh"
session_user

work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-gnome.XXXXXX") || die "no temporary folder"
pids=()
stop() {
    local i
    # In reverse order: the clients before the Shell, the Shell before its buses.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 0' TERM INT HUP

chmod 755 "$work"
runtime=$work/runtime home=$work/home
mkdir -m 700 "$runtime" "$home" "$work/system" && chown "$test_user:" "$runtime" "$home" "$work/system" || die "no runtime folder"
session_reachable "$runtime"

# Started as the session's user, in the session's environment; logs in the folder.
env=(HOME="$home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$home/.config"
    XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
    XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome
    DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system/bus"
    GSETTINGS_BACKEND=dconf)
background() { # LOG COMMAND...
    local log=$1
    shift
    "${as_user[@]}" env -i PATH="$PATH" "${env[@]}" "$@" >>"$work/$log" 2>&1 </dev/null &
    pids+=($!)
}
in_session() { "${as_user[@]}" env -i PATH="$PATH" "${env[@]}" WAYLAND_DISPLAY="${socket:-}" "$@"; }

# Both buses let anyone do anything: nothing else is on them. The system bus has none of
# the system's services, which the Shell only misses (it exits without the bus itself).
# On the session bus only the settings store, the permission store and the
# accessibility bus start on demand; the rest is started here, in order.
mkdir -p "$work/services"
for service in ca.desrt.dconf org.freedesktop.impl.portal.PermissionStore org.a11y.Bus; do
    cp "/usr/share/dbus-1/services/$service.service" "$work/services/" 2>/dev/null
done
bus_config() { # TYPE ADDRESS
    cat <<CONF
<busconfig>
  <type>$1</type>
  <listen>$2</listen>
  <servicedir>$work/services</servicedir>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
}
bus_config system "unix:path=$work/system/bus" >"$work/system-bus.conf"
bus_config session "unix:path=$runtime/bus" >"$work/session-bus.conf"
chmod -R a+rX "$work/services" "$work"/*.conf
background system-bus.log dbus-daemon --config-file="$work/system-bus.conf" --nofork --nopidfile
background session-bus.log dbus-daemon --config-file="$work/session-bus.conf" --nofork --nopidfile
session_wait_for 10 "the buses did not start" session-bus.log \
    test -S "$work/system/bus" -a -S "$runtime/bus"

# The accessibility bus, up before any client: Qt looks for it only once, at start, and the
# tests read the portals' dialogs and daubly's windows through it.
in_session gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress >/dev/null || die "no accessibility bus"

# Screen casts (the portal's and the remote desktop's) go through PipeWire, whose
# session manager links a cast's consumer to the Shell's stream.
background pipewire.log pipewire
session_wait_for 10 "PipeWire did not start" pipewire.log test -S "$runtime/pipewire-0"
background wireplumber.log wireplumber

# The settings the Shell reads at start: no animations (nothing waits for one), no
# screen blanking, the wallpaper.
if [[ $background =~ ^#[0-9A-Fa-f]{6}$ ]]; then
    in_session gsettings set org.gnome.desktop.background picture-uri "''" &&
        in_session gsettings set org.gnome.desktop.background picture-uri-dark "''" &&
        in_session gsettings set org.gnome.desktop.background picture-options none &&
        in_session gsettings set org.gnome.desktop.background primary-color "$background" ||
        die "cannot set the wallpaper colour"
else
    [ -r "$background" ] || die "no background file '$background'"
    cp "$background" "$work/background.png" && chmod 644 "$work/background.png" ||
        die "cannot copy '$background'"
    for key in picture-uri picture-uri-dark; do
        in_session gsettings set org.gnome.desktop.background $key "file://$work/background.png" ||
            die "cannot set the wallpaper"
    done
    in_session gsettings set org.gnome.desktop.background picture-options stretched
fi
in_session gsettings set org.gnome.desktop.interface enable-animations false
in_session gsettings set org.gnome.desktop.session idle-delay 0
in_session gsettings set org.gnome.desktop.screensaver lock-enabled false
in_session gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"

background shell.log gnome-shell --headless --wayland --no-x11 --sm-disable \
    --wayland-display=wayland-gnome --virtual-monitor "${width}x${height}"
socket=wayland-gnome
shell_pid=${pids[-1]}
shell_up() {
    in_session gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive \
        >/dev/null 2>&1 || { kill -0 "$shell_pid" 2>/dev/null || die "the Shell exited"; false; }
}
session_wait_for 30 "the Shell did not start" shell.log shell_up

# GNOME's portal implementations alone: other desktops' installed beside them would
# answer what GNOME lacks (global shortcuts) and fail at it.
mkdir -p "$work/portals"
cp /usr/share/xdg-desktop-portal/portals/gnome.portal \
    /usr/share/xdg-desktop-portal/portals/gnome-shell.portal "$work/portals/" || die "no GNOME portal files"
chmod -R a+rX "$work/portals"
background portal-gnome.log env WAYLAND_DISPLAY=$socket /usr/libexec/xdg-desktop-portal-gnome
# The portal reads what the screen cast offers from the implementation when it starts.
has_name() {
    in_session gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}
session_wait_for 20 "the GNOME portal implementation did not start" portal-gnome.log \
    has_name org.freedesktop.impl.portal.desktop.gnome
background portal.log env WAYLAND_DISPLAY=$socket XDG_DESKTOP_PORTAL_DIR="$work/portals" \
    /usr/libexec/xdg-desktop-portal
portal_up() {
    in_session gdbus introspect --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop 2>/dev/null |
        grep -q org.freedesktop.portal.ScreenCast
}
session_wait_for 20 "the portals did not start" portal.log portal_up

# The Shell starts in the overview; once it has settled it is left for the desktop.
overview_off() {
    in_session gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive 2>/dev/null |
        grep -q false
}
for _ in $(seq 100); do
    overview_off && break
    in_session gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive \
        '<false>' >/dev/null 2>&1
    sleep 0.1
done
overview_off || die "the Shell stays in its overview"

for var in WAYLAND_DISPLAY="$socket" XDG_RUNTIME_DIR="$runtime" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus" \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system/bus" \
    XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland; do
    echo "export ${var%%=*}='${var#*=}'"
done
echo "export DAUBLY_WAYLAND_USER='$test_user' DAUBLY_WAYLAND_LAYOUT='$width $height'"
echo "export DAUBLY_GNOME_SESSION='$work'"
wait "$shell_pid"
