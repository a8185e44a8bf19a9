#!/usr/bin/env bash
# Where KWin refuses its screenshot service (a daubly that no installed desktop file
# names, as a build run from its tree), the pick goes to the Screenshot portal, and the
# log says why once. The portal's implementation here answers with a known image that
# differs from the screen, so the copied colour shows where the pixels came from.
source "$(dirname "$0")/kde_lib.sh"

KDE_UNLISTED=1 kde_start 640x480
start_scene --pattern solid:#336699

portals=$E2E_DIR/portals
mkdir -p "$portals"
printf '[portal]\nDBusName=org.freedesktop.impl.portal.desktop.daublytest\nInterfaces=org.freedesktop.impl.portal.Access;org.freedesktop.impl.portal.Screenshot;\nUseIn=KDE\n' \
    >"$portals/daublytest.portal"
portal_image=$(scene_png solid:#AA5500 640x480)
chown -R "$DAUBLY_WAYLAND_USER:" "$E2E_DIR"
wl_background portal.log /usr/bin/python3 "$(dirname "$0")/../e2e/mock_portal.py" "$portal_image"
eventually 10 "the portal implementation is up" grep -qx ready "$E2E_DIR/portal.log"
wl_background xdp.log env XDG_DESKTOP_PORTAL_DIR="$portals" /usr/libexec/xdg-desktop-portal --replace
eventually 20 "the Screenshot portal is on the bus" wl_screenshot_portal_up

write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex", "didRequestScreenCapture": true}'
start_daubly
log_has "Screen capture: KWin's ScreenShot2" || fail "daubly does not try KWin first"
for pick in 1 2; do
    wl_move 320 240
    kde_pick
    wl_click left
    expect_copied "#AA5500"
done
[ "$(log_count "as KWin refused ScreenShot2 (The process is not authorized")" = 1 ] ||
    fail "the refusal is not logged once"
[ "$(grep -c '^screenshot ' "$E2E_DIR/portal.log")" = 2 ] || fail "the portal did not take both pictures"
while read -r _ file; do
    [ ! -e "$file" ] || fail "the portal's file $file was left behind"
done < <(grep '^screenshot ' "$E2E_DIR/portal.log")
echo "PASS: kde fallback"
