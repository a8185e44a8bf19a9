#!/usr/bin/env bash
# Installs the Debian 12 packages Daubly needs, only those that are missing.
# Usage: scripts/deps.sh build|test|run|package   (the lists are cumulative)
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
    libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-xkb-dev libxcb-xfixes0-dev
    libxkbcommon-dev libxkbcommon-x11-dev libsystemd-dev
    libwayland-dev wayland-protocols libwayland-bin plasma-wayland-protocols qt6-wayland qt6-base-private-dev
    libglib2.0-dev libpipewire-0.3-dev
    libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core clang-format)
display_pkgs=(xvfb xauth openbox trayer xdotool xclip imagemagick x11-utils x11-xserver-utils)
# The windows are tested through the accessibility tree, on a private session bus;
# Wayland in a headless sway, with wtype for keys and wl-clipboard for the clipboard, and
# the real Screenshot portal there (xdg-desktop-portal-wlr, which needs PipeWire and
# takes its screenshots with grim).
test_pkgs=(locales xserver-xorg-core xserver-xorg-video-dummy
    at-spi2-core python3-pyatspi dbus-daemon dbus-bin libglib2.0-bin
    sway swaybg wtype wl-clipboard python3
    xdg-desktop-portal xdg-desktop-portal-wlr pipewire grim)
# The Debian package, and the checks of what it installs.
package_pkgs=(dpkg-dev file desktop-file-utils appstream lintian)
# KDE Plasma: a headless KWin, which brings kglobalaccel.
test_pkgs+=(kwin-wayland)
# The portal tests run a mock desktop portal on python3-dbus with GLib's main loop.
test_pkgs+=(python3-dbus python3-gi)
# GNOME's custom keyboard shortcuts are tested against their real schemas.
test_pkgs+=(gnome-settings-daemon-common)
# GNOME in a headless GNOME Shell, with its portals and screen casts (PipeWire's session
# manager links them).
test_pkgs+=(gnome-shell mutter xdg-desktop-portal-gnome gsettings-desktop-schemas wireplumber)

want=("${build_pkgs[@]}")
case "${1:-build}" in
    build) ;;
    run) want+=("${display_pkgs[@]}") ;;
    package) want+=("${package_pkgs[@]}") ;;
    test) want+=("${display_pkgs[@]}" "${test_pkgs[@]}" "${package_pkgs[@]}") ;;
    *) echo "usage: $0 build|run|test|package" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "daubly: installing ${#missing[@]} missing Debian packages (apt-get; a few minutes on a new machine): ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null; then sudo=(sudo); else
        echo "daubly: cannot install ${missing[*]}: run as root or install them with apt-get" >&2
        exit 1
    fi
fi
if ! { "${sudo[@]}" apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; } >&2; then
    echo "daubly: apt-get could not install: ${missing[*]}" >&2
    exit 1
fi
