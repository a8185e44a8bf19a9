#!/usr/bin/env bash
# The install tree and the Debian package: what `cmake --install` puts in place passes
# the desktop-file and AppStream validators, the .deb holds exactly those files, lintian
# finds no error, and daubly runs from the unpacked package.
#   package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=${1:?usage: $0 SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: $0 SOURCE_DIR BUILD_DIR}
work=$(mktemp -d "${TMPDIR:-/tmp}/daubly-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The install tree of this build.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build_dir/CMakeCache.txt")
DESTDIR=$work/installed cmake --install "$build_dir" >/dev/null
installed=$work/installed$prefix
for file in bin/daubly share/applications/app.daubly.Daubly.desktop \
    share/metainfo/app.daubly.Daubly.metainfo.xml \
    share/icons/hicolor/scalable/apps/app.daubly.Daubly.svg \
    share/icons/hicolor/symbolic/apps/app.daubly.Daubly-symbolic.svg \
    share/man/man1/daubly.1.gz share/dbus-1/services/app.daubly.Daubly.service; do
    [ -f "$installed/$file" ] || fail "cmake --install did not install $file"
done

# SingleMainWindow came with version 1.5 of the desktop entry format; a validator that
# knows only 1.4 (Debian 12's) takes it for an unknown key. Every other complaint fails.
desktop=$installed/share/applications/app.daubly.Daubly.desktop
report=$(desktop-file-validate "$desktop" 2>&1 || true)
# Read whole before matching: grep -q stops at the first match, and the writer it leaves
# behind dies of SIGPIPE, which pipefail takes for a failure.
if grep -qE 'Desktop Entry [a-z]+ 1\.4' <<<"$(desktop-file-validate --help)"; then
    report=$(grep -v 'file contains key "SingleMainWindow"' <<<"$report" || true)
fi
if grep -E ': (error|warning):' <<<"$report"; then fail "desktop-file-validate"; fi
grep -qx "Exec=$prefix/bin/daubly --pick" "$desktop" || fail "no Pick Color action running daubly --pick"
# KWin's screenshot service serves the program its desktop file names by absolute path.
grep -qx "Exec=$prefix/bin/daubly" "$desktop" || fail "the desktop file does not start the installed daubly"
grep -qx 'X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2' "$desktop" ||
    fail "the desktop file does not ask KWin for its screenshot service"

appstreamcli validate --no-net --pedantic "$installed/share/metainfo/app.daubly.Daubly.metainfo.xml" \
    >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate"; }

grep -qx "Exec=$prefix/bin/daubly" "$installed/share/dbus-1/services/app.daubly.Daubly.service" ||
    fail "the D-Bus service file does not start the installed daubly"
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$installed/share/man/man1/daubly.1.gz" 2>&1 >/dev/null || true)
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"

# The package, built from the source tree by its own script.
deb=$("$source_dir/packaging/build-deb.sh" | tail -n1)
version=$(sed -n 's/^project(Daubly VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ "$(basename "$deb")" = "daubly_${version}_amd64.deb" ] || fail "package named $(basename "$deb")"
for field in Maintainer Description Section Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field"
done
grep -q 'libqt6widgets6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "dpkg-shlibdeps found no Qt dependency"

# Its file list is the install tree's (under /usr), documentation included.
(cd "$installed" && find . -type f | sort) >"$work/installed.list"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub("^./usr/", "./", $NF); print $NF }' | sort \
    >"$work/package.list"
diff -u "$work/installed.list" "$work/package.list" || fail "the package's files differ from the install tree"

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }

# Unpacked into a scratch root, the program runs from there.
dpkg -x "$deb" "$work/root"
out=$("$work/root/usr/bin/daubly" --version)
[ "$out" = "Daubly ${version%.*} (1)" ] || fail "daubly --version printed '$out'"
echo "PASS: package ($(stat -c %s "$deb") bytes)"
