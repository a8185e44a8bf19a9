#!/usr/bin/env bash
# A headless sway session for the Wayland tests: outputs of known sizes side by side,
# each showing a known wallpaper, no bar, no animations, no input devices.
#
#   scripts/wayland-session.sh OUTPUT [OUTPUT...] > session.env &
#
# OUTPUT is WIDTHxHEIGHT[@SCALE][/TRANSFORM][:BACKGROUND] in device pixels as the user
# sees the output: the first output is HEADLESS-1 at 0,0, each next one sits to the right
# of the last, top-aligned. TRANSFORM is sway's (90, flipped-270, …): the panel's own
# mode is then HEIGHTxWIDTH for the quarter turns.
# BACKGROUND is #RRGGBB or a PNG file stretched over the output (make it the output's
# pixel size, and it is shown pixel for pixel). Once every wallpaper is drawn the
# script prints shell lines to source:
#   export WAYLAND_DISPLAY=… XDG_RUNTIME_DIR=… SWAYSOCK=…
#   export DAUBLY_WAYLAND_USER=… DAUBLY_WAYLAND_LAYOUT='WIDTH HEIGHT'  (logical pixels)
# and runs until it is stopped, then stops sway and removes its folder.
#
# sway refuses to run as root: as root everything runs as the system user daubly-test
# (created when missing); run Wayland clients as DAUBLY_WAYLAND_USER (setpriv). Files a
# client writes must be writable by that user. Not root: the current user.
# Needs sway, swaybg and util-linux (scripts/deps.sh test).
set -uo pipefail

die() {
    echo "wayland-session: $*" >&2
    exit 1
}

(($# >= 1)) || die "usage: $0 WIDTHxHEIGHT[@SCALE][:BACKGROUND]..."
command -v sway >/dev/null && command -v swaybg >/dev/null ||
    die "sway or swaybg is missing (scripts/deps.sh test installs them)"

source "$(dirname "${BASH_SOURCE[0]}")/session-lib.sh"
session_user

work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-sway.XXXXXX") || die "no temporary folder"
sway_pid=
stop() {
    if [ -n "$sway_pid" ]; then
        kill "$sway_pid" 2>/dev/null
        wait "$sway_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 0' TERM INT HUP

chmod 755 "$work"
runtime=$work/runtime
mkdir -m 700 "$runtime" && chown "$test_user:" "$runtime" || die "no runtime folder"
session_reachable "$runtime"

# An invisible cursor: on the headless backend sway draws the cursor into the
# outputs' pixels, where every screenshot would see it.
u32() { # a little-endian 32-bit word
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
        $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
blank_cursor() { # an Xcursor file: header, one table entry, one 1 x 1 transparent image
    local image=$((0xfffd0002))
    printf Xcur
    u32 16; u32 $((0x10000)); u32 1
    u32 $image; u32 24; u32 28
    u32 36; u32 $image; u32 24; u32 1; u32 1; u32 1; u32 0; u32 0; u32 0; u32 0
}
mkdir -p "$work/icons/daubly-blank/cursors" || die "no cursor folder"
blank_cursor >"$work/icons/daubly-blank/cursors/default"
ln -s default "$work/icons/daubly-blank/cursors/left_ptr"
chmod -R a+rX "$work/icons"

# The config: one output line and one wallpaper per output.
{
    echo "seat * xcursor_theme daubly-blank 24"
    echo "xwayland disable"
    echo "default_border none"
    echo "default_floating_border none"
    echo "focus_follows_mouse yes"
} >"$work/config"
bg_args=()
x=0 height=0 n=0
for spec in "$@"; do
    n=$((n + 1))
    [[ $spec =~ ^([0-9]+)x([0-9]+)(@([0-9]+))?(/([a-z0-9-]+))?(:(.+))?$ ]] ||
        die "bad output '$spec' (expected WIDTHxHEIGHT[@SCALE][/TRANSFORM][:BACKGROUND])"
    w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} scale=${BASH_REMATCH[4]:-1}
    transform=${BASH_REMATCH[6]:-normal} bg=${BASH_REMATCH[8]:-#808080}
    ((w % scale == 0 && h % scale == 0)) || die "output '$spec' is not a whole number of points"
    mode=${w}x${h}
    case $transform in
    normal | 180 | flipped | flipped-180) ;;
    90 | 270 | flipped-90 | flipped-270) mode=${h}x${w} ;;
    *) die "bad transform '$transform' in '$spec'" ;;
    esac
    echo "output HEADLESS-$n mode $mode position $x,0 scale $scale transform $transform" \
        >>"$work/config"
    if [[ $bg =~ ^#[0-9A-Fa-f]{6}$ ]]; then
        bg_args+=(-o "HEADLESS-$n" -c "$bg")
    else
        [ -r "$bg" ] || die "no background file '$bg'"
        cp "$bg" "$work/bg$n.png" && chmod 644 "$work/bg$n.png" || die "cannot copy '$bg'"
        bg_args+=(-o "HEADLESS-$n" -i "$work/bg$n.png" -m stretch)
    fi
    x=$((x + w / scale))
    ((h / scale > height)) && height=$((h / scale))
done

env=(XDG_RUNTIME_DIR="$runtime" HOME="$work" XCURSOR_PATH="$work/icons" WLR_BACKENDS=headless WLR_NO_HARDWARE_CURSORS=1
    WLR_HEADLESS_OUTPUTS=1 WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)
"${as_user[@]}" env -u WAYLAND_DISPLAY -u DISPLAY -u SWAYSOCK "${env[@]}" \
    sway --config "$work/config" >"$work/sway.log" 2>&1 </dev/null &
sway_pid=$!

socket= swaysock=
for _ in $(seq 200); do
    socket=$(cd "$runtime" && ls wayland-[0-9] 2>/dev/null | head -n1)
    swaysock=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n1)
    [ -n "$socket" ] && [ -n "$swaysock" ] && break
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$socket" ] || [ -z "$swaysock" ]; then
    tail -n 20 "$work/sway.log" >&2
    die "sway did not start"
fi
session=(XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" SWAYSOCK="$swaysock")
swaymsg() { "${as_user[@]}" env "${session[@]}" swaymsg "$@"; }
output_count() { swaymsg -t get_outputs -r | grep -c '"name": "HEADLESS-'; }
# sway starts with one output; the others take their lines of the config as they come.
for ((i = $(output_count); i < n; i++)); do
    swaymsg create_output >/dev/null || die "sway created no output"
done
outputs=$(output_count)
[ "$outputs" = "$n" ] || die "sway shows $outputs outputs, not $n"

# The wallpapers, drawn when every output has had a buffer attached. swaybg is ours
# rather than sway's so that its protocol log tells when.
"${as_user[@]}" env "${session[@]}" WAYLAND_DEBUG=client swaybg "${bg_args[@]}" \
    >"$work/swaybg.log" 2>&1 </dev/null &
for _ in $(seq 200); do
    (($(grep -c 'wl_surface@[0-9]*\.attach(wl_buffer' "$work/swaybg.log") >= n)) && break
    sleep 0.05
done
(($(grep -c 'wl_surface@[0-9]*\.attach(wl_buffer' "$work/swaybg.log") >= n)) || {
    tail -n 20 "$work/swaybg.log" >&2
    die "swaybg did not draw every output"
}

for var in "${session[@]}"; do echo "export ${var%%=*}='${var#*=}'"; done
echo "export DAUBLY_WAYLAND_USER='$test_user' DAUBLY_WAYLAND_LAYOUT='$x $height'"
wait "$sway_pid"
