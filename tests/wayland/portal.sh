#!/usr/bin/env bash
# Capture through the Screenshot portal, as on desktops without screencopy: the real
# xdg-desktop-portal with its wlroots implementation on a private session bus of the
# sway session. The same known scene copies the same texts as through screencopy, and
# the portal's file is gone once the pick has it.
source "$(dirname "$0")/../e2e/wayland_lib.sh"

wl_start "640x480:$(scene_png pixels 640x480)" "160x120:#336699"

# The bus, the portal and what it needs, all as the session's user.
portals=$E2E_DIR/portals
mkdir -p "$portals"
cp /usr/share/xdg-desktop-portal/portals/wlr.portal "$portals/"
printf '[portal]\nDBusName=org.freedesktop.impl.portal.desktop.daublytest\nInterfaces=org.freedesktop.impl.portal.Access;\nUseIn=sway\n' \
    >"$portals/daublytest.portal"
# The session's user may not reach this tree (a clone in a 0700 folder): run a copy.
cp "$(dirname "$0")/../e2e/mock_portal.py" "$E2E_DIR/" || fail "cannot copy the Access portal"
chown -R "$DAUBLY_WAYLAND_USER:" "$E2E_DIR"
# Nothing on it starts on demand: every service is the one started here.
cat >"$E2E_DIR/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$E2E_DIR/bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
CONF
chown "$DAUBLY_WAYLAND_USER:" "$E2E_DIR/bus.conf"
wl_background bus.log dbus-daemon --config-file="$E2E_DIR/bus.conf" --nofork
eventually 10 "the session bus starts" test -S "$E2E_DIR/bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/bus XDG_CURRENT_DESKTOP=sway HOME=$E2E_DIR
wl_background access.log /usr/bin/python3 "$E2E_DIR/mock_portal.py"
eventually 10 "the Access implementation is up" grep -qx ready "$E2E_DIR/access.log"
# The wlroots implementation gives up without a PipeWire daemon, screenshots included.
wl_background pipewire.log pipewire
eventually 10 "PipeWire is up" test -S "$XDG_RUNTIME_DIR/pipewire-0"
wl_background xdpw.log /usr/libexec/xdg-desktop-portal-wlr
wl_background xdp.log env XDG_DESKTOP_PORTAL_DIR="$portals" /usr/libexec/xdg-desktop-portal
eventually 20 "the Screenshot portal is on the bus" wl_screenshot_portal_up

# The portal writes its file under /tmp.
rm -f /tmp/out.png
# The desktop remembers that the user allowed screenshots before.
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex", "didRequestScreenCapture": true}'
DAUBLY_CAPTURE=portal start_daubly
log_has "Screen capture: the Screenshot portal" || fail "daubly does not capture through the portal"

wl_pick 2
wl_move 300 200
wl_click left
expect_copied "$(pixels_hex 300 200)"
[ -z "$(ls /tmp/out.png 2>/dev/null)" ] || fail "the portal's file was left behind"

wl_pick 2
wl_move 700 60
wl_click left
expect_copied "#336699"
[ -z "$(ls /tmp/out.png 2>/dev/null)" ] || fail "the portal's file was left behind"

echo "PASS: wayland portal"
