#!/usr/bin/env bash
# Colours are read through the monitor's colour profile: full red on a Display P3
# monitor (the root window's profile or the RandR output's) copies as P3's red, and the
# loupe still shows the captured pixels as they are. A broken profile reads as sRGB with
# one log line however often one picks; a profile taken away while daubly runs is gone
# from the next pick on; a lookup-table profile reads as Little CMS reads it.
source "$(dirname "$0")/lib.sh"

e2e_start 1280x800
start_scene --pattern 'solid:#ff0000' --geometry 300x300+100+200
start_scene --pattern 'solid:#336699' --geometry 300x300+600+200
profile() { "${DAUBLY_ICC_PROFILE:?set by ctest}" "$@" || fail "could not $* the profile"; }
srgb_red="oklch(62.80% 0.258 29.23)"

pick_at() {
    pick_from_menu
    xdotool mousemove "$1" "$2" click 1
    expect_copied "$3"
}
restart_with_format() {
    [ -z "$DAUBLY_PID" ] || quit_daubly
    write_defaults "{\"hasCompletedOnboarding\": true, \"copyFormat\": \"$1\"}"
    start_daubly
}
# The colour of one screen pixel, as RRGGBB (inside the loupe: 10 pixels from its centre).
screen_pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 txt:- | sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'
}

profile set p3
restart_with_format displayP3
pick_at 250 350 "color(display-p3 1 0 0)"
# The loupe shows the captured pixels untouched: #336699 stays #336699 on screen.
pick_from_menu
xdotool mousemove 750 350
eventually 5 "the loupe shows the raw pixels" [ "$(screen_pixel 760 360)" = 336699 ]
xdotool key Escape
eventually 5 "the pick is cancelled" overlay_gone

restart_with_format oklch
pick_at 250 350 "oklch(64.86% 0.299 28.96)"
# The profile switched off while daubly runs: the next pick reads sRGB.
profile remove
pick_at 250 350 "$srgb_red"

# The RandR output's own property counts as well, and comes before the root window's.
profile set p3 output
pick_at 250 350 "oklch(64.86% 0.299 28.96)"
profile set broken
pick_at 250 350 "oklch(64.86% 0.299 28.96)"
profile remove output
profile remove

# A profile Qt cannot read: sRGB, logged once, and the second pick logs nothing more.
profile set broken
pick_at 250 350 "$srgb_red"
pick_at 260 350 "$srgb_red"
[ "$(log_count "cannot be used; reading that monitor as sRGB")" = 1 ] ||
    fail "the broken profile was logged $(log_count "cannot be used") times"
# The second monitor's property does not apply to the first.
profile remove
profile set p3 _ICC_PROFILE_1
pick_at 250 350 "$srgb_red"

# A profile Qt cannot read (AdobeRGB as a lookup table, no matrix) is read through Little
# CMS: the copy is what transicc gives for the same pixel, (0, 102.16, 156.19) for
# (51, 102, 153), and no log line.
profile remove _ICC_PROFILE_1
profile set adobe-lut-v2
restart_with_format hex
pick_at 750 350 "#00669C"
[ "$(log_count "cannot be used")" = 1 ] || fail "the lookup-table profile was refused" # 1: the broken one
echo "PASS: color profiles"
